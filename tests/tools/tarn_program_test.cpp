// The built tarn program run as a process: real exit codes and the split of
// results (standard output) from messages (standard error) for -c, --csv, a
// script on standard input, and bad options.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sql/sql_fixture.h"

extern char** environ;

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
// holding input, and both output streams caught in files.
ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& input = {}) {
  char pattern[] = "/tmp/tarn-program-XXXXXX";
  const std::string dir = std::string(mkdtemp(pattern)) + "/";
  std::ofstream(dir + "in", std::ios::binary) << input;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, (dir + "in").c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (dir + "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir + "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argv = {TARN_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  ProgramRun run;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, TARN_PATH, &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned == 0) {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.Code = WEXITSTATUS(status);
    run.Out = ReadFile(dir + "out");
    run.Err = ReadFile(dir + "err");
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
