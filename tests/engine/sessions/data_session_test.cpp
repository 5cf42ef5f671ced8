// Engine start-up, data sessions and database directories.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "engine/engine_state.h"
#include "platform/os_process.h"
#include "storage/files/file_list.h"
#include "storage/files/temp_file.h"
#include "storage/records/records_bitmap.h"
#include "storage/tables/quota_table.h"
#include "support/raised_code.h"

namespace tarn::testing {
namespace {

using test_support::RaisedCode;

TEST(Engine, CurrentSessionNeedsTheEngineAndIsPerThread) {
  ASSERT_FALSE(TarnStarted());
  EXPECT_EQ(RaisedCode([] { GetCurrentDataSession(); }), TARN_NOTINITIALIZED);
  InitializeTarn();
  InitializeTarn();  // a second start changes nothing
  TDataSession& standard = GetCurrentDataSession();
  TDataSession mine;
  SetCurrentDataSession(&mine);
  EXPECT_EQ(&GetCurrentDataSession(), &mine);
  TDataSession* seen = nullptr;
  std::thread([&] { seen = &GetCurrentDataSession(); }).join();
  EXPECT_EQ(seen, &standard);  // another thread keeps the default session
  SetCurrentDataSession(nullptr);
  ExitTarn();
  EXPECT_FALSE(TarnStarted());
  EXPECT_EQ(RaisedCode([] { GetCurrentDataSession(); }), TARN_NOTINITIALIZED);
}

// The records-bitmap pool lives from engine start to engine stop; a bitmap a
// cursor still holds when the engine stops is destroyed when it is returned.
TEST(Engine, StartCreatesAndStopFreesTheRecordsBitmapPool) {
  ASSERT_FALSE(TarnStarted());
  EXPECT_FALSE(RecordsBitmapPoolExists());
  InitializeTarn();
  EXPECT_TRUE(RecordsBitmapPoolExists());
  auto kept = GetNewRecordsBitmapInstance();
  auto returned = GetNewRecordsBitmapInstance();
  ReturnRecordsBitmapInstance(returned);
  EXPECT_EQ(RecordsBitmapPoolSize(), 1u);
  ExitTarn();
  EXPECT_FALSE(RecordsBitmapPoolExists());
  ReturnRecordsBitmapInstance(kept);
  EXPECT_EQ(kept, nullptr);
  EXPECT_EQ(RecordsBitmapPoolSize(), 0u);
}

// A second session keeps working on its tables when the engine stops: the
// engine frees only the file objects nobody holds.
TEST(Engine, StoppingTheEngineFreesOnlyFilesNoSessionHolds) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota");
  InitializeTarn();
  SessionOn other(dir.Path());
  QuotaOps ops(other.Open("quota"));
  ops.Append({1, "before", 1});
  // An in-memory table that no cursor has open: its files stay registered
  // (with their contents) but nobody holds them.
  TDataDirectory& memory = other.session.OpenDataDirectory("Memory", "");
  TDataTable* scratch = nullptr;
  ASSERT_EQ(memory.CreateDataTable("scratch", QuotaDefinition(), scratch, {.InMemory = true}), 0);
  ASSERT_TRUE(memory.DataTableExists("scratch", true));
  const std::size_t held = TFileList::Instance().Count() - 2;  // less scratch's data and index files

  ExitTarn();
  EXPECT_EQ(TFileList::Instance().Count(), held);
  EXPECT_FALSE(memory.DataTableExists("scratch", true));
  ops.Append({2, "after", 2});
  const auto rows = ops.LiveRecords();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.rbegin()->second, (QuotaRow{2, "after", 2}));
}

TEST(DataSession, SettingsAndPasswords) {
  TDataSession session;
  EXPECT_EQ(session.LockRetries(), 15);
  EXPECT_EQ(session.LockWait(), 100);
  EXPECT_FALSE(session.StrictChangeDetection());
  struct {
    std::uint16_t steps;
    int percent;
  } progress[] = {{20, 5}, {30, 3}, {0, 100}, {1, 100}, {100, 1}};
  for (auto p : progress) {
    session.SetProgress(p.steps);
    EXPECT_EQ(session.GetProgressPercent(), p.percent) << p.steps;
  }
  session.AddPassword("");
  session.AddPassword("KT62WB38");
  session.AddPassword("KT62WB38");
  session.AddPassword("kt62wb38");
  EXPECT_EQ(session.Passwords(), (std::vector<std::string>{"KT62WB38", "kt62wb38"}));
  EXPECT_TRUE(session.CheckForPassword("KT62WB38"));
  EXPECT_FALSE(session.CheckForPassword("Kt62WB38"));
  session.DeletePassword("KT62WB38");
  EXPECT_EQ(session.Passwords(), std::vector<std::string>{"kt62wb38"});

  session.SetPrivateDirectory("");
  EXPECT_FALSE(session.GetPrivateDirectory().empty());
  session.SetPrivateDirectory("  \\var\\tmp ");
  EXPECT_EQ(session.GetPrivateDirectory(), "/var/tmp/");
}

TEST(DataSession, DirectoriesAreSharedByPathWithAUseCount) {
  TDataSession session;
  TDataDirectory& first = session.OpenDataDirectory("Quota", "/data/Vantrel");
  TDataDirectory& second = session.OpenDataDirectory("Other", "/DATA/vantrel/ ");
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(first.Path(), "/data/Vantrel/");
  EXPECT_EQ(first.UseCount(), 2);
  session.CloseDataDirectory(first);
  ASSERT_EQ(session.Directories().size(), 1u);
  session.CloseDataDirectory(first);
  EXPECT_FALSE(session.GetHasOpenDirectories());

  EXPECT_EQ(session.OpenDataDirectory("MEMORY", "").Path(), "");
  EXPECT_EQ(session.OpenDataDirectory("Quota", "").Path(), session.DefaultDirectory());
}

class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateQuotaTable(dir_.Path(), "quota"); }
  TempDirectory dir_;
  TDataSession session_;
  TDataDirectory& directory_ = session_.OpenDataDirectory("", dir_.Path());
};

TEST_F(DirectoryTest, ExclusiveOpensAnswerAccessDenied) {
  TDataTable* a = nullptr;
  TDataTable* b = nullptr;
  ASSERT_EQ(directory_.OpenDataTable("quota", a), 0);
  EXPECT_EQ(directory_.OpenDataTable("QUOTA", b, {.Exclusive = true}), -TARN_OSEACCES);
  EXPECT_EQ(directory_.OpenDataTable("quota", b, {.OverrideExclusive = true, .Exclusive = true}), 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->UseCount(), 2);
  EXPECT_EQ(a->ClientUseCount(), 2);
  EXPECT_EQ(directory_.CloseDataTable(a), 0);
  EXPECT_EQ(directory_.CloseDataTable(a), 0);
  EXPECT_TRUE(directory_.Tables().empty());
  EXPECT_EQ(directory_.CloseDataTable(a), -TARN_OSENOENT);

  ASSERT_EQ(directory_.OpenDataTable("quota", a, {.Exclusive = true}), 0);
  EXPECT_EQ(directory_.OpenDataTable("quota", b), -TARN_OSEACCES);
  // An engine-internal source cursor is not counted as a client.
  TDataTable* c = nullptr;
  EXPECT_EQ(directory_.OpenDataTable("quota", c, {.SourceTable = true, .OverrideExclusive = true}), 0);
  EXPECT_EQ(a->ClientUseCount(), 1);
  // An open table cannot be renamed, deleted or created over.
  EXPECT_EQ(directory_.RenameDataTable("quota", "other"), -TARN_OSEACCES);
  EXPECT_EQ(directory_.DeleteDataTable("quota", false), -TARN_OSEACCES);
  TDataTable* d = nullptr;
  EXPECT_EQ(directory_.CreateDataTable("quota", QuotaDefinition(), d), -TARN_OSEACCES);
}

TEST_F(DirectoryTest, NamesExistenceListingRenameAndDelete) {
  EXPECT_TRUE(directory_.DataTableExists("quota", false));
  EXPECT_TRUE(directory_.DataTableExists("Quota.dat", false));
  EXPECT_FALSE(directory_.DataTableExists("quota", true));
  EXPECT_EQ(directory_.ListTableNames(), std::vector<std::string>{"quota"});

  EXPECT_EQ(directory_.RenameDataTable("quota", "renamed"), 0);
  EXPECT_EQ(directory_.ListTableNames(), std::vector<std::string>{"renamed"});
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "renamed.IDX"));
  EXPECT_EQ(directory_.RenameDataTable("renamed", "renamed", {.AsBackup = true}), 0);
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "renamed.DBK"));
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "renamed.IBK"));
  EXPECT_TRUE(directory_.ListTableNames().empty());

  CreateQuotaTable(dir_.Path(), "gone");
  EXPECT_EQ(directory_.DeleteDataTable("gone", false), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "gone.DAT"));
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "gone.IDX"));
}

TEST_F(DirectoryTest, TemporaryNamesUseTheThreadIdAndSkipTakenNames) {
  const std::string prefix = ThreadDigits();
  ASSERT_EQ(prefix, std::to_string(OSCurrentThreadId()).substr(0, 5));
  std::ofstream(dir_.Path() + prefix + "0.DAT") << "";
  const std::string name = directory_.GetTempDataTableName(false);
  EXPECT_EQ(name, prefix + "1.DAT");
  // The name is reserved at once, so the next caller gets another one: in this
  // directory, in another session's, and in memory alike.
  EXPECT_EQ(directory_.GetTempDataTableName(false), prefix + "2.DAT");
  SessionOn other(dir_.Path());
  EXPECT_EQ(other.directory->GetTempDataTableName(false), prefix + "3.DAT");
  EXPECT_EQ(directory_.GetTempDataTableName(true), prefix + "0.DAT");
  EXPECT_EQ(other.directory->GetTempDataTableName(true), prefix + "1.DAT");
  // Reservations are not tables.
  std::vector<std::string> tables = directory_.ListTableNames();
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{prefix + "0", "quota"}));
}

// A temporary table is created under the name reserved for it (SQL answer
// tables are), and the name stays taken while the table exists; unused
// reservations end with their directory.
TEST_F(DirectoryTest, TemporaryTablesAreCreatedUnderTheirReservedNames) {
  for (const bool inMemory : {false, true}) {
    SCOPED_TRACE(inMemory ? "in memory" : "on disk");
    TDataDirectory& directory = inMemory ? session_.OpenDataDirectory("Memory", "") : directory_;
    // A temporary memory table lives only while it is open, and creation
    // closes it: in memory the table made under the name is a lasting one.
    const bool temporary = !inMemory;
    const std::string name = directory.GetTempDataTableName(inMemory);
    TDataTable* table = nullptr;
    ASSERT_EQ(directory.CreateDataTable(name, QuotaDefinition(), table, {.Temporary = temporary, .InMemory = inMemory}),
              0);
    ASSERT_EQ(directory.OpenDataTable(name, table, {.Temporary = temporary, .InMemory = inMemory}), 0);
    QuotaOps(*table).Append({7, "answer", 7});
    EXPECT_EQ(QuotaOps(*table).LiveRecords().size(), 1u);
    SessionOn other(dir_.Path());
    TDataDirectory& same = inMemory ? other.session.OpenDataDirectory("Memory", "") : *other.directory;
    EXPECT_NE(same.GetTempDataTableName(inMemory), name);
    ASSERT_EQ(directory.CloseDataTable(table), 0);
  }
  std::vector<std::string> markers;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
    if (entry.path().extension() == ".RSV") markers.push_back(entry.path().filename());
  EXPECT_TRUE(markers.empty()) << markers.front();
}

// In the process's private directory, which no other process uses, temporary
// names are reserved within the process: two sessions get different names and
// no marker file is made there.
TEST(PrivateDirectory, TemporaryNamesThereAreReservedInTheProcessWithoutMarkers) {
  std::string privateDir;
  ASSERT_EQ(OSProcessPrivateDirectory(privateDir), 0);
  TDataSession first, second;
  TDataDirectory& a = first.OpenDataDirectory(privateDir, privateDir);
  TDataDirectory& b = second.OpenDataDirectory(privateDir, privateDir);
  const std::string name = a.GetTempDataTableName(false);
  EXPECT_NE(b.GetTempDataTableName(false), name);
  EXPECT_NE(a.GetTempDataTableName(false), name);
  std::vector<std::string> markers;
  for (const auto& entry : std::filesystem::directory_iterator(privateDir))
    if (entry.path().extension() == ".RSV") markers.push_back(entry.path().filename());
  EXPECT_TRUE(markers.empty()) << markers.front();
  // Closing the directory gives its names back.
  first.CloseDataDirectory(a);
  TDataDirectory& again = first.OpenDataDirectory(privateDir, privateDir);
  EXPECT_EQ(again.GetTempDataTableName(false), name);
  first.CloseDataDirectory(again);
  second.CloseDataDirectory(b);
}

// The private directory is the process's own: made under $TMPDIR with mode
// 0700, shared by the process's sessions, never a forked child's, and removed
// once the engine stops with no session left.
TEST(PrivateDirectory, OneDirectoryPerProcessUnderTheTemporaryDirectory) {
  TempDirectory base;
  const char* savedTmp = std::getenv("TMPDIR");
  const std::string saved = savedTmp ? savedTmp : "";
  setenv("TMPDIR", base.Path().c_str(), 1);
  OSRemoveProcessPrivateDirectory();  // one an earlier test made under the old $TMPDIR

  InitializeTarn();
  const std::string mine = GetCurrentDataSession().GetPrivateDirectory();
  ASSERT_EQ(mine.rfind(base.Path(), 0), 0u) << mine;
  EXPECT_GT(mine.size(), base.Path().size() + 1);
  EXPECT_EQ(mine.back(), '/');
  struct stat st {};
  ASSERT_EQ(stat(mine.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  auto other = std::make_unique<TDataSession>();
  EXPECT_EQ(other->GetPrivateDirectory(), mine);
  std::ofstream(mine + "left.TMP") << "x";

  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    // What the child's exit would do first: the parent's directory is not its own.
    OSRemoveProcessPrivateDirectory();
    const std::string childs = other->GetPrivateDirectory();
    char result[2] = {childs != mine && childs.rfind(base.Path(), 0) == 0 ? 'y' : 'n', 'n'};
    OSRemoveProcessPrivateDirectory();
    result[1] = std::filesystem::exists(childs) ? 'n' : 'y';
    _exit(write(report[1], result, 2) == 2 ? 0 : 1);
  }
  close(report[1]);
  char result[2] = {};
  ASSERT_EQ(read(report[0], result, 2), 2);
  close(report[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(result[0], 'y') << "the child used its parent's directory";
  EXPECT_EQ(result[1], 'y') << "the child left its own directory behind";
  EXPECT_TRUE(std::filesystem::exists(mine + "left.TMP"));

  // Stopping the engine while another session lives keeps the directory.
  ExitTarn();
  EXPECT_TRUE(std::filesystem::exists(mine));
  other.reset();
  InitializeTarn();
  ExitTarn();
  EXPECT_FALSE(std::filesystem::exists(mine));
  if (savedTmp) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
}

TEST_F(DirectoryTest, CommitAndRollbackCloseTablesNoCursorUses) {
  TDataTable* table = nullptr;
  ASSERT_EQ(directory_.OpenDataTable("quota", table), 0);
  directory_.StartTransaction();
  QuotaOps(*table).Append({1, "t", 1});
  EXPECT_EQ(directory_.CloseDataTable(table), 0);
  ASSERT_EQ(directory_.Tables().size(), 1u);  // held by the transaction
  directory_.CommitTransaction({.EndTransaction = true});
  EXPECT_TRUE(directory_.Tables().empty());

  ASSERT_EQ(directory_.OpenDataTable("quota", table), 0);
  EXPECT_EQ(QuotaOps(*table).LiveRecords().size(), 1u);
  directory_.StartTransaction();
  QuotaOps(*table).Append({2, "t", 2});
  EXPECT_EQ(directory_.CloseDataTable(table), 0);
  directory_.RollbackTransaction();
  EXPECT_TRUE(directory_.Tables().empty());
  ASSERT_EQ(directory_.OpenDataTable("quota", table), 0);
  EXPECT_EQ(QuotaOps(*table).LiveRecords().size(), 1u);
}

}  // namespace
}  // namespace tarn::testing
