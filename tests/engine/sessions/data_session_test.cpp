// Engine start-up, data sessions and database directories.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "engine/engine_state.h"
#include "storage/tables/quota_table.h"

namespace tarn::testing {
namespace {

TarnErrorCode CodeOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

TEST(Engine, CurrentSessionNeedsTheEngineAndIsPerThread) {
  ASSERT_FALSE(TarnStarted());
  EXPECT_EQ(CodeOf([] { GetCurrentDataSession(); }), TARN_NOTINITIALIZED);
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
  EXPECT_EQ(CodeOf([] { GetCurrentDataSession(); }), TARN_NOTINITIALIZED);
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
  ASSERT_EQ(directory_.OpenDataTable("quota", a, false, false, false, false, false, false), 0);
  EXPECT_EQ(directory_.OpenDataTable("QUOTA", b, false, false, false, false, false, true), -TARN_OSEACCES);
  EXPECT_EQ(directory_.OpenDataTable("quota", b, false, false, false, false, true, true), 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->UseCount(), 2);
  EXPECT_EQ(a->ClientUseCount(), 2);
  EXPECT_EQ(directory_.CloseDataTable(a, false, false, false), 0);
  EXPECT_EQ(directory_.CloseDataTable(a, false, false, false), 0);
  EXPECT_TRUE(directory_.Tables().empty());
  EXPECT_EQ(directory_.CloseDataTable(a, false, false, false), -TARN_OSENOENT);

  ASSERT_EQ(directory_.OpenDataTable("quota", a, false, false, false, false, false, true), 0);
  EXPECT_EQ(directory_.OpenDataTable("quota", b, false, false, false, false, false, false), -TARN_OSEACCES);
  // An engine-internal source cursor is not counted as a client.
  TDataTable* c = nullptr;
  EXPECT_EQ(directory_.OpenDataTable("quota", c, true, false, false, false, true, false), 0);
  EXPECT_EQ(a->ClientUseCount(), 1);
  // An open table cannot be renamed, deleted or created over.
  EXPECT_EQ(directory_.RenameDataTable("quota", "other", false, false), -TARN_OSEACCES);
  EXPECT_EQ(directory_.DeleteDataTable("quota", false), -TARN_OSEACCES);
  TDataTable* d = nullptr;
  EXPECT_EQ(directory_.CreateDataTable("quota", QuotaDefinition(), d, false, false), -TARN_OSEACCES);
}

TEST_F(DirectoryTest, NamesExistenceListingRenameAndDelete) {
  EXPECT_TRUE(directory_.DataTableExists("quota", false));
  EXPECT_TRUE(directory_.DataTableExists("Quota.dat", false));
  EXPECT_FALSE(directory_.DataTableExists("quota", true));
  EXPECT_EQ(directory_.ListTableNames(), std::vector<std::string>{"quota"});

  EXPECT_EQ(directory_.RenameDataTable("quota", "renamed", false, false), 0);
  EXPECT_EQ(directory_.ListTableNames(), std::vector<std::string>{"renamed"});
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "renamed.IDX"));
  EXPECT_EQ(directory_.RenameDataTable("renamed", "renamed", true, false), 0);
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "renamed.DBK"));
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "renamed.IBK"));
  EXPECT_TRUE(directory_.ListTableNames().empty());

  CreateQuotaTable(dir_.Path(), "gone");
  EXPECT_EQ(directory_.DeleteDataTable("gone", false), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "gone.DAT"));
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "gone.IDX"));
}

TEST_F(DirectoryTest, TemporaryNamesUseTheThreadIdAndSkipTakenNames) {
  const std::string prefix = std::to_string(static_cast<long>(syscall(SYS_gettid))).substr(0, 5);
  std::ofstream(dir_.Path() + prefix + "0.DAT") << "";
  const std::string name = directory_.GetTempDataTableName(false);
  EXPECT_EQ(name, prefix + "1.DAT");
  // The name is taken at once, so the next caller gets another one.
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + name));
  EXPECT_EQ(directory_.GetTempDataTableName(false), prefix + "2.DAT");
  EXPECT_EQ(directory_.GetTempDataTableName(true), prefix + "0.DAT");
}

TEST_F(DirectoryTest, CommitAndRollbackCloseTablesNoCursorUses) {
  TDataTable* table = nullptr;
  ASSERT_EQ(directory_.OpenDataTable("quota", table, false, false, false, false, false, false), 0);
  directory_.StartTransaction();
  QuotaOps(*table).Append({1, "t", 1});
  EXPECT_EQ(directory_.CloseDataTable(table, false, false, false), 0);
  ASSERT_EQ(directory_.Tables().size(), 1u);  // held by the transaction
  directory_.CommitTransaction(true, false);
  EXPECT_TRUE(directory_.Tables().empty());

  ASSERT_EQ(directory_.OpenDataTable("quota", table, false, false, false, false, false, false), 0);
  EXPECT_EQ(QuotaOps(*table).LiveRecords().size(), 1u);
  directory_.StartTransaction();
  QuotaOps(*table).Append({2, "t", 2});
  EXPECT_EQ(directory_.CloseDataTable(table, false, false, false), 0);
  directory_.RollbackTransaction();
  EXPECT_TRUE(directory_.Tables().empty());
  ASSERT_EQ(directory_.OpenDataTable("quota", table, false, false, false, false, false, false), 0);
  EXPECT_EQ(QuotaOps(*table).LiveRecords().size(), 1u);
}

}  // namespace
}  // namespace tarn::testing
