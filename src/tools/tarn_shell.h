// The tarn command-line shell as a library function: option handling, the
// statement loop over standard input or -c text, dot commands, result printing
// (aligned columns or CSV) and exit codes. The program's main only hands it
// the process's arguments and streams.
#pragma once

#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarn::tools {

// Exit codes of the shell.
inline constexpr int kExitOk = 0;
inline constexpr int kExitStatementFailed = 1;  // a statement or dot command failed
inline constexpr int kExitBadOptions = 2;       // bad options or an unusable directory

// What the command line asks for.
struct TShellOptions {
  std::string Directory;               // empty: the current directory
  std::vector<std::string> Commands;   // the -c texts, in order; none: read the input
  std::vector<std::string> Passwords;  // --password, in order
  bool Csv = false;
  bool Help = false;
  bool Version = false;
};

// Reads the arguments (without the program name). On a bad option answers
// nothing and puts the reason into error.
std::optional<TShellOptions> ParseShellOptions(std::span<const std::string> args, std::string& error);

// How the shell meets its input.
struct TShellTerminal {
  // The input is a terminal: prompts are written to out before each line.
  bool Interactive = false;
};

// Runs the shell: args are the arguments without the program name. Results
// go to out; engine messages, "N rows affected" and usage errors to err.
// Answers the exit code (kExitOk, kExitStatementFailed, kExitBadOptions).
// The engine is started if it has not been; stopping it is the caller's.
int RunTarnShell(std::span<const std::string> args, std::istream& in, std::ostream& out, std::ostream& err,
                 const TShellTerminal& terminal = {});

// "tarn (Tarn engine 3.08)", from the engine version the table headers carry.
std::string ShellVersionText();
std::string ShellUsageText();

}  // namespace tarn::tools
