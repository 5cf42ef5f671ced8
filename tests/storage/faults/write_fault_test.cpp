// I/O faults injected into record, BLOB and transaction writes of a shared table.
// Each operation is first run with counting to learn how many writes, flushes and
// locks it makes; then, on a fresh table each time, each of those calls fails in
// turn (EIO, ENOSPC, a short write, a failed read, a refused lock). Every time the operation must
// raise an engine error, and afterwards another process must open the table, find
// it structurally sound with every row committed before and nothing of the failed
// change, and take its write lock and table lock; this process must go on using
// the table.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>

#include "storage/faults/fault_fixtures.h"
#include "storage/tables/quota_table.h"
#include "storage/tables/structure_check.h"
#include "support/faulty_file_system.h"

namespace tarn::testing {
namespace {

constexpr std::int32_t kBaseRows = 40;
constexpr std::int32_t kNotes = 5;
constexpr std::int32_t kAfterId = 9000000;  // the row appended after the fault

// What the table holds after Prepare.
TRows BaseRows(std::int32_t count = kBaseRows) {
  TRows rows;
  for (std::int32_t id = 1; id <= count; ++id) rows[id] = QuotaRow{id, "base" + std::to_string(id), id};
  return rows;
}

TNotes BaseNotes(bool withBlob) {
  TNotes notes;
  if (withBlob)
    for (std::int32_t id = 1; id <= kNotes; ++id) notes[id] = NoteText(id);
  return notes;
}

// The pause between internal lock attempts, without sleeping: a lock left behind
// makes the check fail quickly instead of after the full retry time.
class TNoWait final : public TLockWaiter {
 public:
  void Wait(std::uint32_t) override {}
};

// Makes the table with its base rows (and notes) through the engine.
void Prepare(const std::string& path, bool withBlob, std::int32_t count) {
  CreateQuotaTable(path, "quota", withBlob);
  SessionOn s(path);
  QuotaOps ops(s.Open("quota"));
  for (const auto& [id, row] : BaseRows(count)) ops.Append(row);
  for (const auto& [id, note] : BaseNotes(withBlob)) ops.SetNote(id, note);
}

std::string Describe(const TRows& rows) {
  std::string text;
  for (const auto& [id, row] : rows) text += " " + std::to_string(id) + ":" + row.Name + "/" + std::to_string(row.Used);
  return text;
}

// Empty when the table as another session sees it is sound, holds exactly these
// rows and notes, and has no lock left behind; else what is wrong.
std::string VerifyTable(const std::string& path, const TRows& rows, const TNotes& notes) {
  TNoWait noWait;
  SessionOn s(path);
  TDataTable& table = s.Open("quota");
  table.SetLockMap(TLockMap(noWait, DefaultTokenSource()));
  const TFindings findings = CheckTableStructure(table);
  if (!findings.empty()) {
    std::string text = "unsound table:";
    for (const std::string& finding : findings) text += "\n  " + finding;
    return text;
  }
  QuotaOps ops(table);
  const TRows seen = RowsById(ops);
  if (seen != rows) return "rows differ: expected" + Describe(rows) + "\n  found" + Describe(seen);
  for (const auto& [id, note] : notes)
    if (ops.Note(id) != note) return "note of row " + std::to_string(id) + " differs";
  try {
    TWriteLockScope scope(table);
  } catch (const ETarnEngineError& e) {
    return "the write lock is still held elsewhere: " + e.Message();
  }
  try {
    table.UserWriteLockTable();
    table.UserWriteUnlockTable();
  } catch (const ETarnEngineError& e) {
    return "a record or table lock is still held elsewhere: " + e.Message();
  }
  return {};
}

// Runs VerifyTable in a child process with its own session, which reports over a
// pipe; answers its report ("" when sound).
std::string VerifyInAnotherProcess(const std::string& path, const TRows& rows, const TNotes& notes) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    std::string report;
    try {
      TScopedFileSystem os(OSFileSystem());
      report = VerifyTable(path, rows, notes);
    } catch (const std::exception& e) {
      report = std::string("the other process raised: ") + e.what();
    }
    if (report.empty()) report = "sound";
    const char* at = report.data();
    std::size_t left = report.size();
    while (left > 0) {
      const ssize_t n = write(fds[1], at, left);
      if (n <= 0) break;
      at += n;
      left -= static_cast<std::size_t>(n);
    }
    close(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  std::string report;
  char buffer[512];
  for (;;) {
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    report.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the other process died: " + report;
  return report == "sound" ? std::string() : report;
}

// The number of base rows that fills the primary index's root leaf, so that the
// next key splits it.
std::int32_t RowsFillingTheRootLeaf() {
  static const std::int32_t rows = [] {
    TempDirectory dir;
    CreateQuotaTable(dir.Path(), "quota");
    SessionOn s(dir.Path());
    TDataTable& table = s.Open("quota");
    QuotaOps ops(table);
    for (std::int32_t id = 1;; ++id) {
      ops.Append({id, "base" + std::to_string(id), id});
      if (table.IndexFile().GetPhysicalPagesUsed() > 1) return id - 1;
    }
  }();
  return rows;
}

struct TFaultCase {
  const char* Name;
  std::function<std::int32_t()> BaseRowCount = [] { return kBaseRows; };
  bool WithBlob = false;
  bool Exclusive = false;
  bool ForceFlush = false;  // the session flushes to the OS after every write
  std::function<void(SessionOn&, QuotaOps&)> Operation;
  // What the operation changes when it succeeds.
  std::function<void(TRows&, TNotes&)> Effect;
};

std::ostream& operator<<(std::ostream& out, const TFaultCase& c) { return out << c.Name; }

const TFaultCase kCases[] = {
    {.Name = "Append",
     .Operation = [](SessionOn&, QuotaOps& ops) { ops.Append({100, "new", 100}); },
     .Effect = [](TRows& rows, TNotes&) { rows[100] = {100, "new", 100}; }},
    {.Name = "AppendFlushed",
     .ForceFlush = true,
     .Operation = [](SessionOn&, QuotaOps& ops) { ops.Append({100, "new", 100}); },
     .Effect = [](TRows& rows, TNotes&) { rows[100] = {100, "new", 100}; }},
    {.Name = "AppendExclusive",
     .Exclusive = true,
     .Operation = [](SessionOn&, QuotaOps& ops) { ops.Append({100, "new", 100}); },
     .Effect = [](TRows& rows, TNotes&) { rows[100] = {100, "new", 100}; }},
    {.Name = "AppendSplittingTheRoot",
     .BaseRowCount = RowsFillingTheRootLeaf,
     .Operation = [](SessionOn&, QuotaOps& ops) { ops.Append({100000, "split", 1}); },
     .Effect = [](TRows& rows, TNotes&) { rows[100000] = {100000, "split", 1}; }},
    {.Name = "AppendSplittingALeaf",
     .BaseRowCount = RowsFillingALeafBelowTheRoot,
     .Operation = [](SessionOn&, QuotaOps& ops) { ops.Append({100000, "split", 1}); },
     .Effect = [](TRows& rows, TNotes&) { rows[100000] = {100000, "split", 1}; }},
    {.Name = "Modify",
     .Operation = [](SessionOn&, QuotaOps& ops) { ops.SetUsed(5, 777); },
     .Effect = [](TRows& rows, TNotes&) { rows[5].Used = 777; }},
    {.Name = "Delete",
     .Operation = [](SessionOn&, QuotaOps& ops) { ops.Delete(7); },
     .Effect = [](TRows& rows, TNotes&) { rows.erase(7); }},
    {.Name = "BlobWrite",
     .WithBlob = true,
     .Operation = [](SessionOn&, QuotaOps& ops) { ops.SetNote(3, std::string(1500, 'z')); },
     .Effect = [](TRows&, TNotes& notes) { notes[3] = std::string(1500, 'z'); }},
    {.Name = "TransactionCommit",
     .ForceFlush = true,
     .Operation =
         [](SessionOn& s, QuotaOps& ops) {
           s.directory->StartTransaction();
           try {
             ops.Append({101, "t1", 1});
             ops.Append({102, "t2", 2});
             ops.SetUsed(6, 606);
             ops.Delete(8);
           } catch (...) {
             s.directory->RollbackTransaction();
             throw;
           }
           s.directory->CommitTransaction({.EndTransaction = true, .ForceFlush = true});
         },
     .Effect =
         [](TRows& rows, TNotes&) {
           rows[101] = {101, "t1", 1};
           rows[102] = {102, "t2", 2};
           rows[6].Used = 606;
           rows.erase(8);
         }},
    {.Name = "TransactionCommitWithSplits",
     .Operation =
         [](SessionOn& s, QuotaOps& ops) {
           s.directory->StartTransaction();
           try {
             for (std::int32_t id = 1001; id <= 1700; ++id) ops.Append({id, "bulk", id});
           } catch (...) {
             s.directory->RollbackTransaction();
             throw;
           }
           s.directory->CommitTransaction({.EndTransaction = true});
         },
     .Effect =
         [](TRows& rows, TNotes&) {
           for (std::int32_t id = 1001; id <= 1700; ++id) rows[id] = {id, "bulk", id};
         }},
};

class WriteFaults : public ::testing::TestWithParam<TFaultCase> {
 protected:
  void SetUp() override { installed_ = std::make_unique<TScopedFileSystem>(faulty_); }
  void TearDown() override { installed_.reset(); }

  // Runs the case on a fresh table with the fault armed (or, with n = 0, only
  // counting); answers the calls of the kind the operation made.
  std::int64_t Run(TCallKind kind, std::int64_t n, TFault fault) {
    const TFaultCase& c = GetParam();
    TempDirectory dir;
    faulty_.Reset();
    const std::int32_t baseRows = c.BaseRowCount();
    Prepare(dir.Path(), c.WithBlob, baseRows);
    SessionOn s(dir.Path());
    // Flushes reach the OS only when the session forces them.
    s.session.SetForceBufferFlush(c.ForceFlush || kind == TCallKind::ckFlush);
    TDataTable* table = &s.Open("quota", c.Exclusive);
    table->SetLockMap(TLockMap(noWait_, DefaultTokenSource()));
    auto ops = std::make_unique<QuotaOps>(*table);
    TRows rows = BaseRows(baseRows);
    TNotes notes = BaseNotes(c.WithBlob);
    if (n == 0) faulty_.Reset();
    else faulty_.FailNth(kind, n, fault);
    TarnErrorCode raised = 0;
    try {
      c.Operation(s, *ops);
    } catch (const ETarnEngineError& e) {
      raised = e.ErrorCode();
    }
    const std::int64_t count = faulty_.Count(kind);
    const bool fired = faulty_.Fired();
    faulty_.Reset();
    const std::string what = std::string(FaultName(fault)) + " at call " + std::to_string(n);
    if (n == 0) {
      EXPECT_EQ(raised, 0) << "without faults the operation must succeed";
    } else if (fired) {
      EXPECT_NE(raised, 0) << what << ": the failure was not reported";
    }
    if (raised == 0) c.Effect(rows, notes);

    // An exclusive table is closed first, so that another process can open it.
    if (c.Exclusive) {
      ops.reset();
      EXPECT_EQ(s.directory->CloseDataTable(table), 0) << what;
    }
    const std::string report = VerifyInAnotherProcess(dir.Path(), rows, notes);
    EXPECT_EQ(report, "") << what;
    if (c.Exclusive) {
      table = &s.Open("quota", true);
      table->SetLockMap(TLockMap(noWait_, DefaultTokenSource()));
      ops = std::make_unique<QuotaOps>(*table);
    }
    // This process goes on: a following change succeeds and is seen.
    try {
      ops->Append({kAfterId, "after", 1});
      rows[kAfterId] = {kAfterId, "after", 1};
      EXPECT_EQ(RowsById(*ops), rows) << what;
      EXPECT_EQ(CheckTableStructure(*table), TFindings{}) << what;
    } catch (const ETarnEngineError& e) {
      ADD_FAILURE() << what << ": the table is unusable afterwards: " << e.Message();
    }
    return count;
  }

  // Fails each call of the kind in turn, with the faults taken in rotation. Of
  // more than kAllCalls calls (a lock per record of a long transaction) the first
  // and the last kAllCalls / 2 fail.
  static constexpr std::int64_t kAllCalls = 24;
  void FailEach(TCallKind kind, std::initializer_list<TFault> faults) {
    const std::int64_t calls = Run(kind, 0, *faults.begin());
    // Every case reads, writes and (when forced) flushes, and every case on a
    // shared table locks.
    if (kind != TCallKind::ckLock || !GetParam().Exclusive) {
      EXPECT_GT(calls, 0) << "the counting run saw no call";
    }
    const std::vector<TFault> rotation(faults);
    for (std::int64_t n = 1; n <= calls && !HasFatalFailure(); ++n) {
      if (calls > kAllCalls && n == kAllCalls / 2 + 1) n = calls - kAllCalls / 2 + 1;
      SCOPED_TRACE(::testing::Message() << GetParam().Name << " call " << n << " of " << calls);
      Run(kind, n, rotation[static_cast<std::size_t>(n - 1) % rotation.size()]);
    }
  }

  TNoWait noWait_;
  TFaultyFileSystem faulty_;
  std::unique_ptr<TScopedFileSystem> installed_;
};

TEST_P(WriteFaults, EachWriteFailing) {
  FailEach(TCallKind::ckWrite, {TFault::fkEIO, TFault::fkENOSPC, TFault::fkShortWrite});
}

TEST_P(WriteFaults, EachFlushFailing) {
  FailEach(TCallKind::ckFlush, {TFault::fkEIO, TFault::fkENOSPC});
}

// Reads during the change: records, pages and blocks fetched for it, and the old
// bytes a write keeps so that it can be undone.
TEST_P(WriteFaults, EachReadFailing) { FailEach(TCallKind::ckRead, {TFault::fkEIO}); }

TEST_P(WriteFaults, EachLockRefused) { FailEach(TCallKind::ckLock, {TFault::fkRefuseLock}); }

INSTANTIATE_TEST_SUITE_P(Operations, WriteFaults, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TFaultCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tarn::testing
