// The built tarn program run as a process: real exit codes and the split of
// results (standard output) from messages (standard error) for -c, --csv, a
// script on standard input, and bad options.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sql/sql_fixture.h"

namespace tarn::tools {
namespace {

using sql_testing::Cell;
using sql_testing::SqlDatabase;

struct ProgramRun {
  int Code = -1;
  std::string Out;
  std::string Err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Runs the program with the arguments, standard input read from a file
// holding input, and both output streams caught in files; in workingDirectory
// when one is given.
ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& input = {},
                      const std::string& workingDirectory = {}) {
  char pattern[] = "/tmp/tarn-program-XXXXXX";
  const std::string dir = std::string(mkdtemp(pattern)) + "/";
  std::ofstream(dir + "in", std::ios::binary) << input;
  std::vector<std::string> argv = {TARN_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const std::string in = dir + "in", out = dir + "out", err = dir + "err";
  ProgramRun run;
  const pid_t pid = fork();
  if (pid == 0) {
    // The child: only calls that are safe between fork and exec.
    const int files[] = {open(in.c_str(), O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                         open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
    for (int fd = 0; fd < 3; ++fd)
      if (files[fd] < 0 || dup2(files[fd], fd) < 0) _exit(127);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(127);
    execv(TARN_PATH, pointers.data());
    _exit(127);
  }
  if (pid > 0) {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.Code = WEXITSTATUS(status);
    run.Out = ReadFile(out);
    run.Err = ReadFile(err);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return run;
}

class TarnProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.CreateTable("t", {{"ID", dtInteger}, {"NAME", dtString, 10}}, {{"", {1}}});
    db_.Insert("t", {{std::int64_t{1}, std::string("a \"b\"")}, {std::int64_t{2}, Cell{}}});
  }
  SqlDatabase db_;
};

TEST_F(TarnProgramTest, VersionAndBadOptions) {
  const ProgramRun version = RunProgram({"--version"});
  EXPECT_EQ(version.Code, 0);
  EXPECT_EQ(version.Out, "tarn (Tarn engine 3.08)\n");
  const ProgramRun bad = RunProgram({"--no-such-option"});
  EXPECT_EQ(bad.Code, 2);
  EXPECT_EQ(bad.Out, "");
  EXPECT_NE(bad.Err.find("unknown option '--no-such-option'"), std::string::npos) << bad.Err;
}

TEST_F(TarnProgramTest, DotCommandsAndAFailingStatement) {
  const ProgramRun tables = RunProgram({db_.Path(), "-c", ".tables"});
  EXPECT_EQ(tables.Code, 0) << tables.Err;
  EXPECT_EQ(tables.Out, "t\n");
  const ProgramRun failing = RunProgram({db_.Path()}, ".tables\nSELEKT 1;\n.tables\n");
  EXPECT_EQ(failing.Code, 1);
  EXPECT_EQ(failing.Out, "t\nt\n");
  EXPECT_EQ(failing.Err.rfind("Tarn Engine Error # 11949 SQL error - ", 0), 0u) << failing.Err;
}

TEST_F(TarnProgramTest, WithoutADirectoryTheCurrentOneIsOpened) {
  const ProgramRun run = RunProgram({"--csv"}, "SELECT ID FROM t WHERE ID = 2;\n.tables\n", db_.Path());
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Out, "ID\n2\nt\n");
}

TEST_F(TarnProgramTest, CsvResultOfACommand) {
  const ProgramRun run = RunProgram({"--csv", db_.Path(), "-c", "SELECT ID, NAME FROM t;"});
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Out, "ID,NAME\n1,\"a \"\"b\"\"\"\n2,\n");
  EXPECT_EQ(run.Err, "");
}

TEST_F(TarnProgramTest, ScriptOnStandardInput) {
  const ProgramRun run = RunProgram({db_.Path()}, "SELECT NAME FROM t WHERE ID = 1;\nSELECT * FROM missing;\n");
  EXPECT_EQ(run.Code, 1);
  EXPECT_EQ(run.Out, "NAME\n-----\na \"b\"\n");
  EXPECT_EQ(run.Err.rfind("Tarn Engine Error # 11010 ", 0), 0u) << run.Err;
}

}  // namespace
}  // namespace tarn::tools
