// The batch commits of UPDATE, DELETE and INSERT ... SELECT as other sessions
// and processes see them: commits at the interval while the statement runs, a
// failure that keeps the committed batches and rolls back the rest, a caller's
// transaction that the statement never ends, and a stop asked for by the
// progress callback.
#include <gtest/gtest.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dml_test_support.h"

namespace tarn::sql_testing {
namespace {

// A second session on the same directory: it sees what the statement's
// session has committed, as another process does.
class OtherSession {
 public:
  explicit OtherSession(const SqlDatabase& db) {
    session_.SetPrivateDirectory(db.PrivatePath());
    session_.SetLockRetries(50);
    session_.SetLockWait(5);
    directory_ = &session_.OpenDataDirectory("", db.Path());
  }
  std::int32_t Count(const std::string& table) {
    TDataCursor cursor(*directory_);
    cursor.SetTableName(table);
    cursor.SetReadOnly(true);
    cursor.OpenCursor();
    const std::int32_t count = cursor.GetRecordCount();
    cursor.CloseCursor();
    return count;
  }
  std::vector<TextRow> Rows(const std::string& table, const std::vector<std::string>& columns = {}) {
    return DumpTable(*directory_, table, columns);
  }

 private:
  TDataSession session_;
  TDataDirectory* directory_ = nullptr;
};

// A table of rows K = 1..count, V = K, and a text filling each record to
// 100 bytes.
void FillNumbers(SqlDatabase& db, const std::string& table, int count, std::vector<Index> indexes = {{"", {1}}}) {
  db.CreateTable(table, {{"K", dtInteger}, {"V", dtInteger}, {"PAD", dtString, 79}}, indexes);
  std::vector<Row> rows;
  for (int k = 1; k <= count; ++k) rows.push_back({std::int64_t{k}, std::int64_t{k}, std::string("pad")});
  db.Insert(table, rows);
}

std::int32_t RecordSize(SqlDatabase& db, const std::string& table) {
  TDataCursor cursor(db.Directory());
  cursor.SetTableName(table);
  cursor.OpenCursor();
  const std::int32_t size = cursor.GetPhysicalRecordSize();
  cursor.CloseCursor();
  return size;
}

struct ProgressProbe {
  OtherSession* Other = nullptr;
  std::vector<std::pair<int, std::int32_t>> Seen;  // percent, rows the other session counted
  int StopAt = -1;
};

void Probe(void* userData, TQueryStatement&, int percent, bool& stop) {
  auto& probe = *static_cast<ProgressProbe*>(userData);
  if (probe.Other != nullptr && percent < 100) probe.Seen.emplace_back(percent, probe.Other->Count("nums"));
  if (probe.StopAt >= 0 && percent >= probe.StopAt) stop = true;
}

int WaitForChild(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DmlBatch, ADeleteOfTwentyThousandRowsCommitsEveryIntervalAndAtTheEnd) {
  SqlDatabase db;
  constexpr int kRows = 20000;
  FillNumbers(db, "nums", kRows);
  ASSERT_EQ(RecordSize(db, "nums"), 100);
  // 32768 / 100 rows between commits.
  constexpr int kInterval = 327;
  db.Session().SetProgress(100);  // a report every percent
  OtherSession other(db);
  ProgressProbe probe;
  probe.Other = &other;
  TQueryStatement statement(db.Directory());
  statement.SetQueryProgressCallback(&probe, &Probe);
  statement.PrepareStatement("DELETE FROM nums");
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  EXPECT_EQ(statement.RowsAffected(), kRows);
  EXPECT_FALSE(db.Directory().InTransaction());
  EXPECT_EQ(other.Count("nums"), 0);
  // Percent p is first reported before row 200 p: the rows before it are
  // deleted, and the other session sees the deletions of the full batches.
  ASSERT_GE(probe.Seen.size(), 90u);
  for (const auto& [percent, count] : probe.Seen) {
    const int deleted = percent * (kRows / 100) - 1;
    EXPECT_EQ(count, kRows - deleted / kInterval * kInterval) << "at " << percent << "%";
  }
}

TEST(DmlBatch, AFailedUpdateKeepsTheCommittedBatchesAndRollsBackTheRest) {
  SqlDatabase db;
  // V is unique; row 1000 will collide with the last row's V.
  db.CreateTable("nums", {{"K", dtInteger}, {"V", dtInteger}}, {{"", {1}}, {"ByV", {2}, /*Unique=*/true}});
  std::vector<Row> rows;
  for (int k = 1; k <= 2000; ++k) rows.push_back({std::int64_t{k}, std::int64_t{k == 2000 ? 6000 : k}});
  db.Insert("nums", rows);

  TQueryStatement statement(db.Directory());
  statement.PrepareStatement("UPDATE nums SET V = V + 5000 COMMIT INTERVAL 300");
  TDataCursor* result = nullptr;
  EXPECT_EQ(test_support::RaisedCode([&] { statement.ExecuteStatement(result); }), TARN_KEYVIOL);
  // Rows 1 to 900 were committed, 901 to 999 rolled back.
  EXPECT_EQ(statement.MasterQuery().RowsAffected, 900);
  EXPECT_FALSE(db.Directory().InTransaction());

  // Another process sees exactly the committed batches.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    int changed = -1;
    try {
      OtherSession other(db);
      changed = 0;
      for (const TextRow& row : other.Rows("nums")) {
        const int k = std::stoi(row[0]), v = std::stoi(row[1]);
        if (k < 2000 && v == k + 5000) ++changed;
        if (k < 2000 && v != k && v != k + 5000) changed = -2;
        if (changed < 0) break;
      }
    } catch (...) {
      changed = -3;
    }
    const bool ok = write(pipeFds[1], &changed, sizeof changed) == sizeof changed;
    _exit(ok ? 0 : 1);
  }
  close(pipeFds[1]);
  int changed = -1;
  ASSERT_EQ(read(pipeFds[0], &changed, sizeof changed), static_cast<ssize_t>(sizeof changed));
  close(pipeFds[0]);
  EXPECT_EQ(WaitForChild(child), 0);
  EXPECT_EQ(changed, 900);
  const auto after = DumpTable(db.Directory(), "nums", {"V"});
  EXPECT_EQ(after[899][0], "5900");
  EXPECT_EQ(after[900][0], "901");
}

TEST(DmlBatch, InTheCallersTransactionTheStatementRollsNothingBack) {
  SqlDatabase db;
  db.CreateTable("nums", {{"K", dtInteger}, {"V", dtInteger}}, {{"", {1}}, {"ByV", {2}, /*Unique=*/true}});
  std::vector<Row> rows;
  for (int k = 1; k <= 30; ++k) rows.push_back({std::int64_t{k}, std::int64_t{k == 30 ? 125 : k}});
  db.Insert("nums", rows);
  OtherSession other(db);

  // Without COMMIT INTERVAL nothing is committed and the transaction stays open.
  db.Directory().StartTransaction();
  db.Query("DELETE FROM nums WHERE K <= 25");
  EXPECT_EQ(db.LastRowsAffected(), 25);
  EXPECT_TRUE(db.Directory().InTransaction());
  EXPECT_EQ(other.Count("nums"), 30);
  db.Directory().RollbackTransaction();
  EXPECT_EQ(DumpTable(db.Directory(), "nums").size(), 30u);

  // With COMMIT INTERVAL 10 the statement commits after rows 10 and 20.
  db.Directory().StartTransaction();
  db.Query("DELETE FROM nums WHERE K <= 25 COMMIT INTERVAL 10");
  EXPECT_EQ(db.LastRowsAffected(), 25);
  EXPECT_TRUE(db.Directory().InTransaction());
  EXPECT_EQ(other.Count("nums"), 10);
  db.Directory().RollbackTransaction();
  EXPECT_EQ(DumpTable(db.Directory(), "nums").size(), 10u);

  // A failure at the row of K = 25 (V becomes 125, taken by K = 30) leaves the
  // rows before it changed and the transaction to the caller.
  db.Directory().StartTransaction();
  TQueryStatement statement(db.Directory());
  statement.PrepareStatement("UPDATE nums SET V = V + 100");
  TDataCursor* result = nullptr;
  EXPECT_EQ(test_support::RaisedCode([&] { statement.ExecuteStatement(result); }), TARN_KEYVIOL);
  EXPECT_EQ(statement.MasterQuery().RowsAffected, 4);  // K = 21 .. 24
  EXPECT_TRUE(db.Directory().InTransaction());
  db.Directory().CommitTransaction({.EndTransaction = true});
  EXPECT_EQ(
      other.Rows("nums", {"V"}),
      (std::vector<TextRow>{{"121"}, {"122"}, {"123"}, {"124"}, {"25"}, {"26"}, {"27"}, {"28"}, {"29"}, {"125"}}));
}

TEST(DmlBatch, ARecordLockedElsewhereEndsTheUpdateAndReleasesItsRow) {
  SqlDatabase db;
  FillNumbers(db, "nums", 10);
  // Another session holds a lock on the row K = 5.
  OtherSession other(db);
  TDataSession lockSession;
  lockSession.SetPrivateDirectory(db.PrivatePath());
  TDataCursor locker(lockSession.OpenDataDirectory("", db.Path()));
  locker.SetTableName("nums");
  locker.OpenCursor();
  locker.UserWriteLockRecord(5);

  TQueryStatement statement(db.Directory());
  statement.PrepareStatement("UPDATE nums SET V = 0 COMMIT INTERVAL 3");
  TDataCursor* result = nullptr;
  EXPECT_NE(test_support::RaisedCode([&] { statement.ExecuteStatement(result); }), 0);
  EXPECT_EQ(statement.MasterQuery().RowsAffected, 3);
  EXPECT_FALSE(db.Directory().InTransaction());
  EXPECT_EQ(other.Rows("nums", {"V"}),
            (std::vector<TextRow>{{"0"}, {"0"}, {"0"}, {"4"}, {"5"}, {"6"}, {"7"}, {"8"}, {"9"}, {"10"}}));

  // Once the other session lets go, the statement runs again; no lock of its
  // own stood in the way.
  locker.UserWriteUnlockRecord(5);
  statement.ExecuteStatement(result);
  EXPECT_EQ(statement.RowsAffected(), 10);
  locker.CloseCursor();
}

TEST(DmlBatch, AStopAskedForByTheProgressCallbackCommitsTheRowsDone) {
  SqlDatabase db;
  FillNumbers(db, "nums", 1000);
  db.Session().SetProgress(100);
  ProgressProbe probe;
  probe.StopAt = 50;
  TQueryStatement statement(db.Directory());
  statement.SetQueryProgressCallback(&probe, &Probe);
  statement.PrepareStatement("UPDATE nums SET V = 0 - V");
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  // 50 percent is reported before row 500, which is still changed.
  EXPECT_EQ(statement.RowsAffected(), 500);
  EXPECT_FALSE(db.Directory().InTransaction());
  OtherSession other(db);
  const auto rows = other.Rows("nums", {"V"});
  ASSERT_EQ(rows.size(), 1000u);
  EXPECT_EQ(rows[499][0], "-500");
  EXPECT_EQ(rows[500][0], "501");

  // INSERT ... SELECT stops the same way. Its SELECT reports through the same
  // callback and stops first, after 300 of the 1000 rows; the INSERT then
  // stops after 30 percent of those 300.
  FillNumbers(db, "copy", 0, {});
  probe.StopAt = 30;
  TQueryStatement insert(db.Directory());
  insert.SetQueryProgressCallback(&probe, &Probe);
  insert.PrepareStatement("INSERT INTO copy SELECT * FROM nums");
  insert.ExecuteStatement(result);
  EXPECT_EQ(insert.RowsAffected(), 90);
  EXPECT_EQ(other.Count("copy"), 90);
  EXPECT_FALSE(db.Directory().InTransaction());
}

// --- two processes ---------------------------------------------------------------------------------

namespace {

// Runs statements on its own session of the directory, as a process of its own.
class StatementRunner {
 public:
  explicit StatementRunner(const SqlDatabase& db) {
    session_.SetPrivateDirectory(db.PrivatePath());
    directory_ = &session_.OpenDataDirectory("", db.Path());
  }
  std::vector<TextRow> Query(const std::string& sql) {
    TQueryStatement statement(*directory_);
    statement.PrepareStatement(sql);
    TDataCursor* result = nullptr;
    statement.ExecuteStatement(result);
    return result == nullptr ? std::vector<TextRow>{} : SqlDatabase::ReadRows(*result);
  }

 private:
  TDataSession session_;
  TDataDirectory* directory_ = nullptr;
};

}  // namespace

TEST(DmlBatch, ReadersInAnotherProcessAlwaysSeeWholeStatements) {
  SqlDatabase db;
  // Group 0: ten accounts whose balances sum to 1000 and whose versions are
  // equal; groups 1 to 4: ten rows each, deleted and put back whole.
  db.CreateTable("acc", {{"ID", dtInteger}, {"GRP", dtInteger}, {"VER", dtInteger}, {"BAL", dtInteger}}, {{"", {1}}});
  db.CreateTable("spare", {{"ID", dtInteger}, {"GRP", dtInteger}, {"VER", dtInteger}, {"BAL", dtInteger}});
  std::vector<Row> accounts, spares;
  for (int id = 1; id <= 10; ++id)
    accounts.push_back({std::int64_t{id}, std::int64_t{0}, std::int64_t{0}, std::int64_t{100}});
  for (int g = 1; g <= 4; ++g) {
    for (int i = 0; i < 10; ++i) {
      const Row row{std::int64_t{g * 100 + i}, std::int64_t{g}, std::int64_t{0}, std::int64_t{0}};
      accounts.push_back(row);
      spares.push_back(row);
    }
  }
  db.Insert("acc", accounts);
  db.Insert("spare", spares);

  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The writer: every statement keeps the invariants when it commits.
    close(pipeFds[0]);
    int done = 0;
    try {
      StatementRunner runner(db);
      for (int round = 0; round < 40; ++round) {
        const int i = round % 9 + 1;
        const int g = round % 4 + 1;
        const std::string statements[] = {
            "UPDATE acc SET VER = VER + 1 WHERE GRP = 0",
            // one moves 1 to the next: the sum stays
            "UPDATE acc SET BAL = BAL + (ID - " + std::to_string(i) +
                ") * 2 - 1 WHERE GRP = 0 AND (ID = " + std::to_string(i) + " OR ID = " + std::to_string(i + 1) + ")",
            "DELETE FROM acc WHERE GRP = " + std::to_string(g),
            "INSERT INTO acc SELECT * FROM spare WHERE GRP = " + std::to_string(g),
        };
        for (const std::string& sql : statements) {
          try {
            runner.Query(sql);
            ++done;
          } catch (const ETarnEngineError&) {
            // A lock the reader held too long: the statement changed nothing.
          }
        }
      }
    } catch (...) {
      done = -1;
    }
    const bool ok = write(pipeFds[1], &done, sizeof done) == sizeof done;
    _exit(ok ? 0 : 1);
  }
  close(pipeFds[1]);

  // The reader: until the writer reports, every SELECT sees whole statements.
  StatementRunner reader(db);
  int reads = 0;
  int done = -1;
  for (;;) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(pipeFds[0], &ready);
    timeval poll{0, 0};
    const bool finished = select(pipeFds[0] + 1, &ready, nullptr, nullptr, &poll) > 0;
    try {
      const auto group0 = reader.Query("SELECT COUNT(*), SUM(BAL), MIN(VER), MAX(VER) FROM acc WHERE GRP = 0");
      ASSERT_EQ(group0.size(), 1u);
      EXPECT_EQ(group0[0][0], "10");
      EXPECT_EQ(group0[0][1], "1000");
      EXPECT_EQ(group0[0][2], group0[0][3]) << "versions of one UPDATE seen apart";
      const auto groups = reader.Query("SELECT GRP, COUNT(*) FROM acc WHERE GRP > 0 GROUP BY GRP");
      for (const TextRow& row : groups) EXPECT_EQ(row[1], "10") << "group " << row[0] << " seen part-deleted";
      ++reads;
    } catch (const ETarnEngineError&) {
      // A lock the writer held too long: this read saw nothing.
    }
    if (finished || ::testing::Test::HasFailure()) break;
  }
  ASSERT_EQ(read(pipeFds[0], &done, sizeof done), static_cast<ssize_t>(sizeof done));
  close(pipeFds[0]);
  EXPECT_EQ(WaitForChild(child), 0);
  EXPECT_GT(done, 80) << "the writer's statements mostly ran";
  EXPECT_GT(reads, 0);
  // Afterwards the writer's work is all there.
  const auto final = reader.Query("SELECT MIN(VER), SUM(BAL), COUNT(*) FROM acc");
  EXPECT_EQ(final[0][1], "1000");
  EXPECT_EQ(final[0][2], "50");
}

}  // namespace
}  // namespace tarn::sql_testing
