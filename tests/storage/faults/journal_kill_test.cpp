// Crash safety of flushes: a writer process killed after any change to a file
// (creating, writing, syncing or removing the rollback journal, or writing the
// table's files) leaves a table that the next process opens at once, without
// repair: structurally sound, every row committed before there, the interrupted
// change wholly there or wholly absent, and the next writer working. The writer
// is a forked child that the file-system seam kills with SIGKILL after its k-th
// change; k runs over every change the operation makes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>

#include "storage/faults/fault_fixtures.h"
#include "storage/tables/flush_journal.h"
#include "storage/tables/quota_table.h"
#include "storage/tables/structure_check.h"
#include "support/faulty_file_system.h"

namespace tarn::testing {
namespace {

constexpr std::int32_t kAfterId = 9000000;  // the row the next writer appends
const char* const kTables[] = {"quota", "quota2", "quota3"};

struct TKillCase {
  const char* Name;
  std::int32_t (*BaseRowCount)() = [] { return 40; };
  bool WithBlob = false;
  int Tables = 1;
  // Runs the change on the open tables (one QuotaOps per table).
  std::function<void(SessionOn&, std::vector<std::unique_ptr<QuotaOps>>&)> Operation;
  // What the change does to the rows of table 0 (and, for several tables, each).
  std::function<void(TRows&, TNotes&)> Effect;
};

std::ostream& operator<<(std::ostream& out, const TKillCase& c) { return out << c.Name; }

const TKillCase kCases[] = {
    {.Name = "AppendSplittingALeaf",
     .BaseRowCount = RowsFillingALeafBelowTheRoot,
     .Operation = [](SessionOn&, auto& ops) { ops[0]->Append({100000, "split", 1}); },
     .Effect = [](TRows& rows, TNotes&) { rows[100000] = {100000, "split", 1}; }},
    {.Name = "ModifyKeyField",
     .Operation = [](SessionOn&, auto& ops) { ops[0]->Rekey(5, {5005, "moved", 777}); },
     .Effect =
         [](TRows& rows, TNotes&) {
           rows.erase(5);
           rows[5005] = {5005, "moved", 777};
         }},
    {.Name = "Delete",
     .Operation = [](SessionOn&, auto& ops) { ops[0]->Delete(7); },
     .Effect = [](TRows& rows, TNotes&) { rows.erase(7); }},
    {.Name = "BlobRewrite",
     .WithBlob = true,
     .Operation = [](SessionOn&, auto& ops) { ops[0]->SetNote(3, std::string(2500, 'z')); },
     .Effect = [](TRows&, TNotes& notes) { notes[3] = std::string(2500, 'z'); }},
    {.Name = "ThreeTableCommit",
     .Tables = 3,
     .Operation =
         [](SessionOn& s, auto& ops) {
           s.directory->StartTransaction();
           for (auto& table : ops) {
             table->Append({101, "t1", 1});
             table->SetUsed(6, 606);
             table->Delete(8);
           }
           s.directory->CommitTransaction({.EndTransaction = true});
         },
     .Effect =
         [](TRows& rows, TNotes&) {
           rows[101] = {101, "t1", 1};
           rows[6].Used = 606;
           rows.erase(8);
         }},
};

TRows BaseRows(const TKillCase& c) {
  TRows rows;
  for (std::int32_t id = 1; id <= c.BaseRowCount(); ++id) rows[id] = QuotaRow{id, "base" + std::to_string(id), id};
  return rows;
}

TNotes BaseNotes(const TKillCase& c) {
  TNotes notes;
  if (c.WithBlob)
    for (std::int32_t id = 1; id <= 5; ++id) notes[id] = NoteText(id);
  return notes;
}

// The tables with their base rows, made through the engine.
void Prepare(const std::string& path, const TKillCase& c) {
  for (int t = 0; t < c.Tables; ++t) {
    CreateQuotaTable(path, kTables[t], c.WithBlob);
    SessionOn s(path);
    QuotaOps ops(s.Open(kTables[t]));
    for (const auto& [id, row] : BaseRows(c)) ops.Append(row);
    for (const auto& [id, note] : BaseNotes(c)) ops.SetNote(id, note);
  }
}

// Opens the case's tables in a session and runs its change.
void RunOperation(const std::string& path, const TKillCase& c) {
  SessionOn s(path);
  std::vector<std::unique_ptr<QuotaOps>> ops;
  for (int t = 0; t < c.Tables; ++t) ops.push_back(std::make_unique<QuotaOps>(s.Open(kTables[t])));
  c.Operation(s, ops);
}

class JournalKills : public ::testing::TestWithParam<TKillCase> {
 protected:
  // The number of file changes the operation makes, counted in this process.
  std::int64_t CountChanges(const std::string& templatePath) {
    TempDirectory dir;
    std::filesystem::copy(templatePath, dir.Path(), std::filesystem::copy_options::recursive);
    TFaultyFileSystem counting;
    TScopedFileSystem installed(counting);
    counting.Reset();
    RunOperation(dir.Path(), GetParam());
    return counting.Changes();
  }

  // Runs the operation in a child that dies after its k-th file change.
  void KillAfter(const std::string& path, std::int64_t k) {
    const pid_t child = fork();
    if (child == 0) {
      TFaultyFileSystem dying;
      TScopedFileSystem installed(dying);
      dying.KillAfterChanges(k);
      try {
        RunOperation(path, GetParam());
      } catch (...) {
        _exit(2);
      }
      _exit(3);  // the operation ended without being killed
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the writer was to die after change " << k << "; status " << status;
  }

  // Opens every table as a fresh session would and checks it; then a next
  // writer appends a row. Answers whether the change is there (for all tables).
  void Verify(const std::string& path, std::int64_t k) {
    const TKillCase& c = GetParam();
    const TRows before = BaseRows(c);
    const TNotes notesBefore = BaseNotes(c);
    TRows after = before;
    TNotes notesAfter = notesBefore;
    c.Effect(after, notesAfter);
    SessionOn s(path);
    int applied = 0;
    for (int t = 0; t < c.Tables; ++t) {
      SCOPED_TRACE(::testing::Message() << kTables[t] << " after a kill at change " << k + 1);
      TDataTable& table = s.Open(kTables[t]);
      EXPECT_EQ(CheckTableStructure(table), TFindings{});
      QuotaOps ops(table);
      const TRows rows = RowsById(ops);
      TNotes notes;
      for (const auto& [id, note] : notesBefore) notes[id] = ops.Note(id);
      const bool isAfter = rows == after && notes == notesAfter;
      EXPECT_TRUE(isAfter || (rows == before && notes == notesBefore)) << "a partial change is visible";
      applied += isAfter ? 1 : 0;
      ops.Append({kAfterId, "after", 1});
      TRows expected = isAfter ? after : before;
      expected[kAfterId] = {kAfterId, "after", 1};
      EXPECT_EQ(RowsById(ops), expected);
      EXPECT_EQ(CheckTableStructure(table), TFindings{});
      EXPECT_FALSE(JournalExists(table.JournalFileName()));
    }
    EXPECT_TRUE(applied == 0 || applied == c.Tables) << "the commit is there in " << applied << " tables";
  }
};

TEST_P(JournalKills, EveryChangeOfTheFlush) {
  TempDirectory templateDir;
  Prepare(templateDir.Path(), GetParam());
  const std::int64_t changes = CountChanges(templateDir.Path());
  ASSERT_GT(changes, 2) << "the journal, the files and the journal's removal";
  RecordProperty("changes", static_cast<int>(changes));
  for (std::int64_t k = 0; k < changes && !HasFailure(); ++k) {
    TempDirectory dir;
    std::filesystem::copy(templateDir.Path(), dir.Path(), std::filesystem::copy_options::recursive);
    KillAfter(dir.Path(), k);
    Verify(dir.Path(), k);
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, JournalKills, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TKillCase>& info) { return std::string(info.param.Name); });

// A reader that only wants to read rolls back a journal a dead writer left:
// the reader had the table open before the writer died, so the roll-back happens
// at its next read lock, not at an open.
TEST(JournalRecovery, AReaderRollsBackADeadWritersJournal) {
  const TKillCase& c = kCases[0];
  TempDirectory dir;
  Prepare(dir.Path(), c);
  TempDirectory countDir;
  std::int64_t changes = 0;
  {
    std::filesystem::copy(dir.Path(), countDir.Path(), std::filesystem::copy_options::recursive);
    TFaultyFileSystem counting;
    TScopedFileSystem installed(counting);
    RunOperation(countDir.Path(), c);
    changes = counting.Changes();
  }
  // The writer forks before this process opens the table (so they share no open
  // file), and starts when told through a pipe.
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(go[1]);
    char byte = 0;
    if (read(go[0], &byte, 1) != 1) _exit(2);
    TFaultyFileSystem dying;
    TScopedFileSystem installed(dying);
    // Dies after the journal and half of the files' writes, before the journal goes.
    dying.KillAfterChanges(changes / 2 + 1);
    try {
      RunOperation(dir.Path(), c);
    } catch (...) {
      _exit(2);
    }
    _exit(3);
  }
  close(go[0]);
  SessionOn reader(dir.Path());
  TDataTable& table = reader.Open("quota");
  QuotaOps ops(table);
  const TRows before = BaseRows(c);
  ASSERT_EQ(RowsById(ops), before);
  ASSERT_EQ(write(go[1], "g", 1), 1);
  close(go[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  ASSERT_TRUE(JournalExists(table.JournalFileName())) << "the dead writer left its journal";
  EXPECT_EQ(RowsById(ops), before);
  EXPECT_FALSE(JournalExists(table.JournalFileName())) << "the reader rolled it back";
  EXPECT_EQ(CheckTableStructure(table), TFindings{});
}

}  // namespace
}  // namespace tarn::testing

namespace tarn::testing {
namespace {

// A journal cut short anywhere, or with any byte changed, is not taken for one;
// a whole one reads back as written.
TEST(JournalFormat, OnlyAWholeJournalWithItsChecksumReads) {
  TJournalImage image;
  image.Parts[jfData] = {1234, {TJournalRegion{0, std::vector<std::uint8_t>(127, 7)}}};
  image.Parts[jfIndex] = {8192, {TJournalRegion{4096, std::vector<std::uint8_t>(50, 9)}}};
  image.CommitRecord = "COMMIT-0123456789ABCDEF.JNC";
  const std::vector<std::uint8_t> bytes = EncodeJournal(image);
  TJournalImage read;
  ASSERT_TRUE(DecodeJournal(bytes, read));
  EXPECT_EQ(read.Parts[jfData].OriginalSize, 1234);
  EXPECT_EQ(read.Parts[jfIndex].Regions[0].position, 4096);
  EXPECT_EQ(read.Parts[jfIndex].Regions[0].before, std::vector<std::uint8_t>(50, 9));
  EXPECT_EQ(read.Parts[jfBlob].OriginalSize, -1);
  EXPECT_EQ(read.CommitRecord, image.CommitRecord);
  for (std::size_t length = 0; length < bytes.size(); ++length)
    EXPECT_FALSE(DecodeJournal(std::span(bytes).first(length), read)) << "cut to " << length;
  // The file is reused: the remains of a longer journal after this one do not count.
  std::vector<std::uint8_t> longer = bytes;
  longer.resize(bytes.size() + 300, 0x55);
  EXPECT_TRUE(DecodeJournal(longer, read));
  for (std::size_t at = 0; at < bytes.size(); at += 7) {
    std::vector<std::uint8_t> damaged = bytes;
    damaged[at] ^= 0x20;
    EXPECT_FALSE(DecodeJournal(damaged, read)) << "byte " << at << " changed";
  }
}

// What the settings cost in file changes and syncs: journaling adds the journal's
// one write and the write that makes it inactive to an append; durability off
// syncs nothing; durability on syncs the journal and every file written.
TEST(JournalSettings, JournalingAndDurabilityDoWhatTheySay) {
  struct TMeasure {
    std::int64_t Changes = 0;
    std::int64_t Syncs = 0;
  };
  const auto measure = [](TFlushJournaling journaling, TFlushDurability durability) {
    TempDirectory dir;
    CreateQuotaTable(dir.Path(), "quota");
    SessionOn s(dir.Path());
    // The first append makes the journal file, which stays.
    s.session.SetFlushJournaling(journaling);
    s.session.SetFlushDurability(durability);
    QuotaOps ops(s.Open("quota"));
    ops.Append({1, "first", 1});
    TFaultyFileSystem counting;
    TScopedFileSystem installed(counting);
    counting.Reset();
    ops.Append({2, "second", 2});
    TMeasure m{counting.Changes(), counting.Count(TCallKind::ckFlush)};
    EXPECT_EQ(ops.LiveRecords().size(), 2U);
    return m;
  };
  const TMeasure off = measure(TFlushJournaling::fjOff, TFlushDurability::fdProcess);
  const TMeasure on = measure(TFlushJournaling::fjOn, TFlushDurability::fdProcess);
  const TMeasure durable = measure(TFlushJournaling::fjOn, TFlushDurability::fdPowerLoss);
  EXPECT_EQ(on.Changes, off.Changes + 2) << "write the journal and make it inactive";
  EXPECT_EQ(off.Syncs, 0);
  EXPECT_EQ(on.Syncs, 0);
  EXPECT_EQ(durable.Syncs, 4) << "the journal, the data file, the index file, the journal made inactive";
  EXPECT_EQ(durable.Changes, on.Changes + durable.Syncs);
}

}  // namespace
}  // namespace tarn::testing

namespace tarn::testing {
namespace {

// Four writer processes append and delete rows of their own until each is killed
// at a random moment; after every round the table is opened at once: sound, every
// change a writer reported as done is there (appended rows present, deleted ones
// gone), and a next writer works. Nothing is ever repaired.
TEST(JournalRandomKills, FourWritersKilledAtRandomLoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kRounds = 8;
  std::mt19937 random(20261210);
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota", QuotaDefinitionWithUniqueName());
  std::set<std::int32_t> live;  // rows every writer reported as committed
  for (int round = 0; round < kRounds; ++round) {
    int reports[kWriters][2];
    pid_t children[kWriters];
    for (int w = 0; w < kWriters; ++w) {
      ASSERT_EQ(pipe(reports[w]), 0);
      const unsigned seed = static_cast<unsigned>(random());
      children[w] = fork();
      if (children[w] == 0) {
        for (int other = 0; other <= w; ++other) close(reports[other][0]);
        std::mt19937 choose(seed);
        SessionOn session(dir.Path());
        QuotaOps ops(session.Open("quota"));
        std::vector<std::int32_t> mine;
        // Ids of this round and writer; a report is +id for an append, -id for a delete.
        std::int32_t next = (round * kWriters + w + 1) * 100000;
        for (;;) {
          std::int32_t report = 0;
          try {
            if (!mine.empty() && choose() % 4 == 0) {
              const std::size_t at = choose() % mine.size();
              ops.Delete(mine[at]);
              report = -mine[at];
              mine.erase(mine.begin() + static_cast<std::ptrdiff_t>(at));
            } else {
              ++next;
              ops.Append({next, "w" + std::to_string(next), next});
              mine.push_back(next);
              report = next;
            }
          } catch (const ETarnEngineError& e) {
            // A refused change (a lock another writer held) changed nothing.
            std::fprintf(stderr, "writer %d: %s\n", w, e.Message().c_str());
            if (e.ErrorCode() != TARN_RECLOCKFAILED && e.ErrorCode() != TARN_LOCKTIMEOUT) _exit(5);
            continue;
          } catch (...) {
            _exit(6);
          }
          if (write(reports[w][1], &report, sizeof report) != sizeof report) _exit(4);
        }
      }
      close(reports[w][1]);
    }
    // Each writer is killed after a random number of its changes, at a random moment.
    for (int w = 0; w < kWriters; ++w) {
      const std::size_t killAt = 20 + random() % 120;
      std::int32_t report = 0;
      for (std::size_t n = 0; n < killAt && read(reports[w][0], &report, sizeof report) == sizeof report; ++n)
        report > 0 ? (void)live.insert(report) : (void)live.erase(-report);
      usleep(static_cast<useconds_t>(random() % 2000));
      kill(children[w], SIGKILL);
    }
    for (int w = 0; w < kWriters; ++w) {
      int status = 0;
      waitpid(children[w], &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status)) << "writer " << w << " stopped by itself: " << status;
      std::int32_t report = 0;
      while (read(reports[w][0], &report, sizeof report) == sizeof report)
        report > 0 ? (void)live.insert(report) : (void)live.erase(-report);
      close(reports[w][0]);
    }
    SessionOn session(dir.Path());
    TDataTable& table = session.Open("quota");
    ASSERT_EQ(CheckTableStructure(table), TFindings{}) << "round " << round;
    QuotaOps ops(table);
    std::set<std::int32_t> present;
    for (const auto& [number, row] : ops.LiveRecords()) present.insert(row.Id);
    // Rows of earlier rounds are never lost. Of this round's, each writer may
    // differ by the one change it had under way when it died (an append or a
    // delete it could not report).
    std::map<std::int32_t, int> differing;  // by writer of this round
    for (std::int32_t id : live) {
      if (present.count(id) != 0) continue;
      const std::int32_t writer = id / 100000 - 1 - round * kWriters;
      EXPECT_TRUE(writer >= 0 && writer < kWriters) << "row " << id << " lost in round " << round;
      ++differing[writer];
    }
    for (std::int32_t id : present) {
      if (live.count(id) != 0) continue;
      const std::int32_t writer = id / 100000 - 1 - round * kWriters;
      EXPECT_TRUE(writer >= 0 && writer < kWriters) << "row " << id << " appeared in round " << round;
      ++differing[writer];
    }
    for (const auto& [writer, count] : differing) EXPECT_LE(count, 1) << "writer " << writer << ", round " << round;
    live = present;
    ops.Append({-round - 1, "next" + std::to_string(round), 0});
    live.insert(-round - 1);
    EXPECT_EQ(CheckTableStructure(table), TFindings{}) << "round " << round;
  }
}

}  // namespace
}  // namespace tarn::testing
