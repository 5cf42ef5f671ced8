// The tarn shell: reads options, opens the database directory in a data
// session of its own, splits the input into statements, runs each through
// TQueryStatement (each one's error reported and counted on its own), runs the
// dot commands, and prints results as aligned columns or CSV.
#include "tools/tarn_shell.h"

#include <algorithm>
#include <filesystem>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string_view>

#include "core/errors.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/engine_state.h"
#include "sql/query_statement.h"
#include "storage/formats/data_header.h"
#include "tools/result_text.h"
#include "tools/statement_splitter.h"
#include "tools/table_schema.h"

namespace tarn::tools {

namespace {

constexpr std::string_view kPrompt = "tarn> ";
constexpr std::string_view kContinuationPrompt = "   ...> ";

constexpr std::string_view kDotHelp =
    ".help            show this list\n"
    ".quit            leave the shell (also .exit)\n"
    ".schema [TABLE]  the structure of TABLE (of every table without a name)\n"
    ".tables          the names of the tables, one a line\n";

bool IsBlank(char c) { return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= 32; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The words of a dot command line, split at blanks.
std::vector<std::string> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    const std::size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    if (pos > start) words.emplace_back(line.substr(start, pos - start));
  }
  return words;
}

// A table name as a dot command takes it: bare, or in double quotes or
// brackets as SQL writes names.
std::string UnquotedName(std::string_view name) {
  if (name.size() >= 2 && ((name.front() == '"' && name.back() == '"') || (name.front() == '[' && name.back() == ']')))
    return std::string(name.substr(1, name.size() - 2));
  return std::string(name);
}

std::vector<std::string> SortedTableNames(const TDataDirectory& directory) {
  std::vector<std::string> names = directory.ListTableNames();
  std::sort(names.begin(), names.end());
  return names;
}

bool ChangesRows(TStatementKind kind) { return kind == skInsert || kind == skUpdate || kind == skDelete; }

// Makes a session the calling thread's current one for the shell's run.
class TCurrentSessionScope {
 public:
  explicit TCurrentSessionScope(TDataSession& session) { SetCurrentDataSession(&session); }
  ~TCurrentSessionScope() { SetCurrentDataSession(nullptr); }
  TCurrentSessionScope(const TCurrentSessionScope&) = delete;
  TCurrentSessionScope& operator=(const TCurrentSessionScope&) = delete;
};

class TShell {
 public:
  TShell(const TShellOptions& options, TDataDirectory& directory, std::ostream& out, std::ostream& err)
      : options_(options), directory_(directory), out_(out), err_(err) {}

  // Runs every statement and dot command of the input; false once .quit was
  // met.
  bool RunInput(std::istream& in, bool interactive);
  bool Failed() const { return failed_; }

 private:
  void RunStatement(const std::string& text);
  // False for .quit.
  bool RunDotCommand(std::string_view line);
  void ReportError(std::string_view message);

  const TShellOptions& options_;
  TDataDirectory& directory_;
  std::ostream& out_;
  std::ostream& err_;
  bool failed_ = false;
};

bool TShell::RunInput(std::istream& in, bool interactive) {
  TStatementSplitter splitter;
  std::string line;
  for (;;) {
    if (interactive) out_ << (splitter.Empty() ? kPrompt : kContinuationPrompt) << std::flush;
    if (!std::getline(in, line)) break;
    // A dot command is a line of its own where no statement is pending.
    if (splitter.Empty() && TrimBlanks(line).starts_with('.')) {
      if (!RunDotCommand(TrimBlanks(line))) return false;
      continue;
    }
    splitter.Add(line);
    splitter.Add("\n");
    while (std::optional<std::string> statement = splitter.Next()) RunStatement(*statement);
  }
  // The last statement may go without its ';'.
  if (std::optional<std::string> rest = splitter.TakeRest()) RunStatement(*rest);
  if (interactive) out_ << '\n';
  return true;
}

void TShell::ReportError(std::string_view message) {
  failed_ = true;
  out_.flush();
  err_ << message << '\n';
  err_.flush();
}

void TShell::RunStatement(const std::string& text) {
  try {
    TQueryStatement statement(directory_);
    statement.PrepareStatement(text);
    TDataCursor* result = nullptr;
    statement.ExecuteStatement(result);
    if (result != nullptr) WriteResult(*result, options_.Csv ? TResultStyle::Csv : TResultStyle::Aligned, out_);
    out_.flush();
    if (ChangesRows(statement.Kind())) err_ << statement.RowsAffected() << " rows affected\n" << std::flush;
  } catch (const Exception& error) {
    ReportError(error.Message());
  } catch (const std::exception& error) {
    ReportError(error.what());
  }
}

bool TShell::RunDotCommand(std::string_view line) {
  const std::vector<std::string> words = SplitWords(line);
  const std::string& command = words.front();
  try {
    if (command == ".quit" || command == ".exit") return false;
    if (command == ".help") {
      out_ << kDotHelp << std::flush;
    } else if (command == ".tables") {
      if (words.size() != 1) {
        ReportError("Usage: .tables");
        return true;
      }
      for (const std::string& name : SortedTableNames(directory_)) out_ << name << '\n';
      out_.flush();
    } else if (command == ".schema") {
      if (words.size() > 2) {
        ReportError("Usage: .schema [TABLE]");
        return true;
      }
      const std::vector<std::string> tables =
          words.size() == 2 ? std::vector<std::string>{UnquotedName(words[1])} : SortedTableNames(directory_);
      // A table that cannot be described is reported; the others still are.
      for (const std::string& table : tables) {
        try {
          out_ << TableSchemaText(directory_, table);
        } catch (const Exception& error) {
          ReportError(error.Message());
        }
      }
      out_.flush();
    } else {
      ReportError("Unknown command '" + command + "'; enter .help for the list of commands");
    }
  } catch (const Exception& error) {
    ReportError(error.Message());
  } catch (const std::exception& error) {
    ReportError(error.what());
  }
  return true;
}

}  // namespace

std::string ShellVersionText() {
  const int major = kEngineVersionNumber / 10000;
  const int minor = (kEngineVersionNumber / 100) % 100;
  return "tarn (Tarn engine " + std::to_string(major) + (minor < 10 ? ".0" : ".") + std::to_string(minor) + ")";
}

std::string ShellUsageText() {
  return "Usage: tarn [OPTIONS] [DIR]\n"
         "Runs SQL statements on the tables of the database directory DIR (default: the\n"
         "current directory): those of -c, else those read from standard input, each\n"
         "ended by ';'.\n"
         "\n"
         "Options:\n"
         "  -c SQL           run the statements in SQL (separated by ';') and exit\n"
         "  --csv            print results as CSV\n"
         "  --password PW    add a table password to the session (repeatable)\n"
         "  --help           show this help and exit\n"
         "  --version        show the version and exit\n"
         "\n"
         "Commands (on a line of their own):\n" +
         std::string(kDotHelp) +
         "\n"
         "Exit status: 0 when everything ran, 1 when a statement failed, 2 for bad options.\n";
}

std::optional<TShellOptions> ParseShellOptions(std::span<const std::string> args, std::string& error) {
  TShellOptions options;
  bool directoryGiven = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto takeValue = [&](std::string& value) {
      if (i + 1 >= args.size()) {
        error = "option '" + arg + "' needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
      if (arg == "--") {
        optionsEnded = true;
      } else if (arg == "-c") {
        if (!takeValue(options.Commands.emplace_back())) return std::nullopt;
      } else if (arg == "--password") {
        if (!takeValue(options.Passwords.emplace_back())) return std::nullopt;
      } else if (arg.starts_with("--password=")) {
        options.Passwords.push_back(arg.substr(std::string_view("--password=").size()));
      } else if (arg == "--csv") {
        options.Csv = true;
      } else if (arg == "--help" || arg == "-h") {
        options.Help = true;
      } else if (arg == "--version") {
        options.Version = true;
      } else {
        error = "unknown option '" + arg + "'";
        return std::nullopt;
      }
      continue;
    }
    if (directoryGiven) {
      error = "only one database directory may be given ('" + options.Directory + "' and '" + arg + "')";
      return std::nullopt;
    }
    options.Directory = arg;
    directoryGiven = true;
    if (arg.empty()) {
      error = "the database directory name is empty";
      return std::nullopt;
    }
  }
  return options;
}

int RunTarnShell(std::span<const std::string> args, std::istream& in, std::ostream& out, std::ostream& err,
                 const TShellTerminal& terminal) {
  std::string error;
  const std::optional<TShellOptions> options = ParseShellOptions(args, error);
  if (!options) {
    err << "tarn: " << error << "\nTry 'tarn --help' for more information.\n";
    return kExitBadOptions;
  }
  if (options->Help) {
    out << ShellUsageText();
    return kExitOk;
  }
  if (options->Version) {
    out << ShellVersionText() << '\n';
    return kExitOk;
  }
  if (!options->Directory.empty()) {
    std::error_code ignored;
    if (!std::filesystem::is_directory(options->Directory, ignored)) {
      err << "tarn: '" << options->Directory << "' is not a directory\n";
      return kExitBadOptions;
    }
  }

  bool failed = false;
  try {
    InitializeTarn();
    TDataSession session;
    TCurrentSessionScope current(session);
    for (const std::string& password : options->Passwords) session.AddPassword(password);
    // An empty path is the session's default directory: the current one.
    TDataDirectory& directory = session.OpenDataDirectory("", options->Directory);
    TShell shell(*options, directory, out, err);
    if (options->Commands.empty()) {
      shell.RunInput(in, terminal.Interactive);
    } else {
      for (const std::string& command : options->Commands) {
        std::istringstream text(command);
        if (!shell.RunInput(text, /*interactive=*/false)) break;
      }
    }
    failed = shell.Failed();
    session.CloseDataDirectory(directory);
  } catch (const Exception& failure) {
    err << failure.Message() << '\n';
    failed = true;
  } catch (const std::exception& failure) {
    err << "tarn: " << failure.what() << '\n';
    failed = true;
  }
  out.flush();
  return failed ? kExitStatementFailed : kExitOk;
}

}  // namespace tarn::tools
