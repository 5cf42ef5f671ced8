// Several processes on one table: concurrent appends and changes through their own
// data sessions, a writer waiting for another process's transaction, and a writer
// killed at an arbitrary point.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <random>

#include "storage/tables/quota_table.h"

namespace tarn::testing {
namespace {

// Counters the processes publish to each other after each committed operation.
struct Shared {
  std::atomic<int> committed[2];
  std::atomic<int> modified[2];
  std::atomic<int> failures;
  char message[512];
};

Shared* MapShared() {
  void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  EXPECT_NE(memory, MAP_FAILED);
  return new (memory) Shared{};
}

void Fail(Shared& shared, const std::string& what) {
  if (shared.failures++ == 0) std::snprintf(shared.message, sizeof shared.message, "%s", what.c_str());
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

constexpr int kOperations = 1500;
constexpr std::int32_t IdBase(int process) { return (process + 1) * 1000000; }

// One writer process: appends its own rows and now and then raises USED of its first
// row; after each operation it checks that it sees what the other process had
// committed before the operation began.
void Writer(const std::string& path, int p, Shared& shared, bool strict) {
  try {
    SessionOn session(path, strict);
    TDataTable& table = session.Open("quota");
    QuotaOps ops(table);
    int own = 0;
    for (int i = 1; i <= kOperations; ++i) {
      const int otherCommitted = shared.committed[1 - p].load();
      const int otherModified = shared.modified[1 - p].load();
      if (i % 4 == 0) {
        ops.SetUsed(IdBase(p) + 1, i);
        shared.modified[p] = i;
      } else {
        ops.Append({IdBase(p) + own + 1, p == 0 ? "first" : "second", 0});
        shared.committed[p] = ++own;
      }
      const std::int32_t count = table.IndexFile().Header().ActualRecordCount;
      if (count < own + otherCommitted)
        Fail(shared, "process " + std::to_string(p) + " counted " + std::to_string(count) + " rows, expected at least " +
                         std::to_string(own + otherCommitted));
      if (otherModified > 0) {
        const std::int32_t used = ops.Read(ops.Find(IdBase(1 - p) + 1)).Used;
        if (used < otherModified)
          Fail(shared, "process " + std::to_string(p) + " read USED " + std::to_string(used) + ", expected at least " +
                           std::to_string(otherModified));
      }
    }
  } catch (const std::exception& e) {
    Fail(shared, std::string("process failed: ") + e.what());
  }
}

class MultiProcess : public ::testing::TestWithParam<bool> {};

TEST_P(MultiProcess, TwoWritersEachRowOnceIndexMatchesAndChangesAreSeen) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota");
  Shared* shared = MapShared();
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    if (children[p] == 0) {
      Writer(dir.Path(), p, *shared, GetParam());
      _exit(shared->failures.load() == 0 ? 0 : 1);
    }
  }
  EXPECT_EQ(Wait(children[0]), 0);
  EXPECT_EQ(Wait(children[1]), 0);
  EXPECT_EQ(shared->failures.load(), 0) << shared->message;

  SessionOn session(dir.Path());
  QuotaOps ops(session.Open("quota"));
  const auto rows = ops.LiveRecords();
  const int appended = shared->committed[0] + shared->committed[1];
  ASSERT_EQ(static_cast<int>(rows.size()), appended);
  std::map<std::int32_t, int> seen;
  for (const auto& [number, row] : rows) ++seen[row.Id];
  for (int p = 0; p < 2; ++p) {
    for (int k = 1; k <= shared->committed[p]; ++k) {
      EXPECT_EQ(seen[IdBase(p) + k], 1) << IdBase(p) + k;
    }
  }
  const auto entries = ops.IndexEntries();
  ASSERT_EQ(entries.size(), rows.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(entries[i - 1].first, entries[i].first);
    }
    auto row = rows.find(entries[i].second);
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(row->second.Id, entries[i].first);
  }
  EXPECT_EQ(ops.Read(ops.Find(IdBase(0) + 1)).Used, shared->modified[0].load());
  munmap(shared, sizeof(Shared));
}

INSTANTIATE_TEST_SUITE_P(ChangeDetection, MultiProcess, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Strict" : "Light"; });

// The pause between lock attempts of the waiting process: the first pause
// tells the other process, over a pipe, that a lock attempt found the lock taken.
class ReportingWaiter final : public TLockWaiter {
 public:
  explicit ReportingWaiter(int fd) : fd_(fd) {}
  void Wait(std::uint32_t milliseconds) override {
    if (!reported_) {
      reported_ = true;
      const char blocked = 'B';
      if (write(fd_, &blocked, 1) != 1) _exit(5);
    }
    DefaultLockWaiter().Wait(milliseconds);
  }

 private:
  int fd_;
  bool reported_ = false;
};

// What the child reports once its append got the lock: 'L' and the rows it saw.
struct LockReport {
  char tag;
  int rows;
};

TEST(MultiProcessTransaction, AnotherWriterWaitsForTheCommit) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota");
  int go[2], reports[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(reports), 0);
  // The child is made before this process opens anything, so it shares no file
  // description (and no lock) with it.
  pid_t child = fork();
  if (child == 0) {
    close(reports[0]);
    char c;
    if (read(go[0], &c, 1) != 1) _exit(3);
    SessionOn session(dir.Path());
    TDataTable& table = session.Open("quota");
    ReportingWaiter waiter(reports[1]);
    table.SetLockMap(TLockMap(waiter, DefaultTokenSource()));
    QuotaOps ops(table);
    ops.Append({500, "late", 0});  // waits for the data write lock
    const LockReport report{'L', static_cast<int>(ops.LiveRecords().size())};
    _exit(write(reports[1], &report, sizeof report) == sizeof report ? 0 : 4);
  }
  close(reports[1]);
  SessionOn session(dir.Path());
  TDataTable& table = session.Open("quota");
  QuotaOps ops(table);
  session.directory->StartTransaction();
  for (int i = 1; i <= 10; ++i) ops.Append({i, "tx", i});
  ASSERT_EQ(write(go[1], "g", 1), 1);
  // The child's first word is that its lock attempt found the lock taken; a
  // child that got the lock at once would send its 'L' report first.
  char first = 0;
  const bool heard = read(reports[0], &first, 1) == 1;
  session.directory->CommitTransaction({.EndTransaction = true});
  LockReport report{};
  if (first == 'B') {
    ASSERT_EQ(read(reports[0], &report, sizeof report), static_cast<ssize_t>(sizeof report));
  }
  EXPECT_EQ(Wait(child), 0);
  close(reports[0]);
  ASSERT_TRUE(heard);
  ASSERT_EQ(first, 'B') << "the child got the data write lock while the transaction held it";
  EXPECT_EQ(report.tag, 'L');
  // The child's append came after the commit: it saw the transaction's ten rows.
  EXPECT_EQ(report.rows, 11);
  EXPECT_EQ(ops.LiveRecords().size(), 11u);
}

TEST(MultiProcessKill, CommittedRowsSurviveAWriterKilledAnywhere) {
  std::mt19937 random(12345);
  for (int round = 0; round < 3; ++round) {
    TempDirectory dir;
    CreateQuotaTable(dir.Path(), "quota");
    int reports[2];
    ASSERT_EQ(pipe(reports), 0);
    pid_t child = fork();
    if (child == 0) {
      close(reports[0]);
      SessionOn session(dir.Path());
      QuotaOps ops(session.Open("quota"));
      for (std::int32_t id = 1;; ++id) {
        ops.Append({id, "row", id});
        if (write(reports[1], &id, sizeof id) != sizeof id) _exit(4);
      }
    }
    close(reports[1]);
    std::vector<std::int32_t> committed;
    const std::size_t killAt = 50 + random() % 300;
    std::int32_t id = 0;
    while (committed.size() < killAt && read(reports[0], &id, sizeof id) == sizeof id) committed.push_back(id);
    usleep(random() % 3000);
    kill(child, SIGKILL);
    Wait(child);
    while (read(reports[0], &id, sizeof id) == sizeof id) committed.push_back(id);
    close(reports[0]);

    // The killed writer's locks are gone with it: this process writes at once.
    SessionOn session(dir.Path());
    TDataTable& table = session.Open("quota");
    table.CheckHeaders();
    QuotaOps ops(table);
    std::set<std::int32_t> present;
    for (const auto& [number, row] : ops.LiveRecords()) present.insert(row.Id);
    for (std::int32_t c : committed) {
      EXPECT_TRUE(present.count(c)) << "row " << c << " lost in round " << round;
    }
    TWriteLockScope scope(table);
    EXPECT_TRUE(table.InternalWriteLocked());
  }
}

}  // namespace
}  // namespace tarn::testing
