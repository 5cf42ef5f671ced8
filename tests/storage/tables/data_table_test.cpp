// The shared table: open and close, locks between two sessions of one process,
// change detection, transactions, flushing and the in-memory image.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "storage/blobs/blob_buffer.h"
#include "storage/tables/quota_table.h"
#include "storage/tables/structure_check.h"
#include "support/raised_code.h"

namespace tarn::testing {
namespace {

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

using test_support::RaisedCode;

class DataTableTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateQuotaTable(dir_.Path(), "quota"); }
  std::string File(const char* ext) const { return dir_.Path() + "quota" + ext; }
  TempDirectory dir_;
};

TEST_F(DataTableTest, RowsWrittenByOneSessionAreReadByAnother) {
  SessionOn a(dir_.Path()), b(dir_.Path());
  QuotaOps writer(a.Open("quota")), reader(b.Open("QUOTA"));
  EXPECT_EQ(reader.LiveRecords().size(), 0u);
  for (int i = 1; i <= 300; ++i) writer.Append({i, "user" + std::to_string(i), i * 10});
  // The reader's caches were filled before; its next lock sees the new stamps.
  auto rows = reader.LiveRecords();
  ASSERT_EQ(rows.size(), 300u);
  EXPECT_EQ(rows.begin()->second, (QuotaRow{1, "user1", 10}));
  EXPECT_EQ(reader.Read(reader.Find(250)), (QuotaRow{250, "user250", 2500}));
  writer.SetUsed(250, 7);
  EXPECT_EQ(reader.Read(reader.Find(250)).Used, 7);
  EXPECT_EQ(reader.IndexEntries().size(), 300u);
}

TEST_F(DataTableTest, DuplicateKeyIsRefusedAndLeavesNothingBehind) {
  SessionOn a(dir_.Path());
  TDataTable& table = a.Open("quota");
  QuotaOps ops(table);
  ops.Append({1, "a", 1});
  const std::string before = FileBytes(File(".DAT"));
  EXPECT_EQ(RaisedCode([&] { ops.Append({1, "b", 2}); }), TARN_KEYVIOL);
  // The failed change's appended record was dropped with the caches, not written.
  EXPECT_EQ(FileBytes(File(".DAT")), before);
  EXPECT_EQ(ops.LiveRecords().size(), 1u);
  EXPECT_FALSE(table.InternalWriteLocked());
}

// A primary key that splits a leaf needs a page beyond the two a fresh slot cache
// holds (the root, whose lower count the descent raised, and the leaf). The append is
// then refused on the unique NAME index: nothing of it may have reached the files.
TEST(DataTableRefusedChange, ASplitInAFullCacheWritesNothingOfARefusedAppend) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota", QuotaDefinitionWithUniqueName());
  // Ascending IDs fill the rightmost leaf. The root leaf splits at one key past the
  // maximum (m) into halves of (m + 1) / 2; the right half is full again after
  // m - (m + 1) / 2 more keys, and the next key splits it.
  const int m = static_cast<int>(kPageDataSize / (5 + 4));
  const int rows = (m + 1) + (m - (m + 1) / 2);
  {
    SessionOn writer(dir.Path());
    QuotaOps ops(writer.Open("quota"));
    for (int i = 1; i <= rows; ++i) ops.Append({i, "user" + std::to_string(i), i});
  }
  const std::string dat = FileBytes(dir.Path() + "quota.DAT");
  const std::string idx = FileBytes(dir.Path() + "quota.IDX");
  {
    // A new session: every slot cache starts at its initial size.
    SessionOn session(dir.Path());
    TDataTable& table = session.Open("quota");
    QuotaOps ops(table);
    const std::int32_t pages = table.GetPhysicalPagesUsed();
    EXPECT_EQ(RaisedCode([&] { ops.Append({rows + 1, "user7", 0}); }), TARN_KEYVIOL);
    EXPECT_TRUE(FileBytes(dir.Path() + "quota.DAT") == dat) << "data file changed";
    EXPECT_TRUE(FileBytes(dir.Path() + "quota.IDX") == idx) << "index file changed";
    EXPECT_EQ(table.GetPhysicalPagesUsed(), pages);
    for (std::size_t slot : {0u, 1u}) {
      const auto counts = ops.KeyCounts(slot);
      EXPECT_EQ(counts.Counted, rows) << "slot " << slot;
      EXPECT_EQ(counts.Walked, rows) << "slot " << slot;
    }
    EXPECT_EQ(table.IndexFile().GetActualRecordCount(), rows);
    EXPECT_EQ(ops.LiveRecords().size(), static_cast<std::size_t>(rows));
    // The table takes the next append whole, its split included.
    ops.Append({rows + 1, "fresh", 0});
  }
  SessionOn reader(dir.Path());
  QuotaOps check(reader.Open("quota"));
  for (std::size_t slot : {0u, 1u}) {
    const auto counts = check.KeyCounts(slot);
    EXPECT_EQ(counts.Counted, rows + 1) << "slot " << slot;
    EXPECT_EQ(counts.Walked, rows + 1) << "slot " << slot;
  }
}

TEST_F(DataTableTest, MissingIndexFileIsRecreatedEmpty) {
  ASSERT_EQ(::unlink(File(".IDX").c_str()), 0);
  SessionOn a(dir_.Path());
  TDataTable& table = a.Open("quota");
  EXPECT_TRUE(table.IndexRecreated());
  table.CheckHeaders();  // the new index's header is not checked against the data
  EXPECT_TRUE(std::filesystem::exists(File(".IDX")));
}

// Writes bytes over the data file at the given offset.
void Overwrite(const std::string& path, std::streamoff offset, std::string_view bytes) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(offset);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The first user of a table checks its headers as it opens it and is refused
// a damaged one, the table closed again; repair mode checks only the versions.
TEST_F(DataTableTest, FirstUserChecksTheHeadersUnlessRepairing) {
  // A BLOB block size of 3 (the table has no BLOB fields, so nothing reads it).
  Overwrite(File(".DAT"), data_header_offsets::BlobBlockSize, std::string_view("\x03\x00\x00\x00", 4));
  SessionOn a(dir_.Path());
  TDataTable* table = nullptr;
  EXPECT_EQ(RaisedCode([&] { a.directory->OpenDataTable("quota", table); }), TARN_HEADERCORRUPT);
  EXPECT_EQ(table, nullptr);
  EXPECT_TRUE(a.directory->Tables().empty());
  // Refused again: nothing of the failed open stayed behind.
  EXPECT_EQ(RaisedCode([&] { a.directory->OpenDataTable("quota", table); }), TARN_HEADERCORRUPT);

  ASSERT_EQ(a.directory->OpenDataTable("quota", table, {.RepairMode = true}), 0);
  ASSERT_NE(table, nullptr);
  // A later user relies on the first one's check.
  TDataTable* second = nullptr;
  ASSERT_EQ(a.directory->OpenDataTable("quota", second), 0);
  EXPECT_EQ(second, table);
  EXPECT_EQ(table->UseCount(), 2);
  ASSERT_EQ(a.directory->CloseDataTable(second), 0);
  ASSERT_EQ(a.directory->CloseDataTable(table), 0);

  // A wrong version is refused in repair mode too.
  Overwrite(File(".DAT"), data_header_offsets::VersionNum, std::string_view("\x04", 1));
  EXPECT_EQ(RaisedCode([&] { a.directory->OpenDataTable("quota", table, {.RepairMode = true}); }), TARN_OLDVERSION);
  EXPECT_TRUE(a.directory->Tables().empty());
}

// Another session that opens a table whose header was damaged after the first
// session checked it checks it again: each session's table has its first user.
TEST_F(DataTableTest, EverySessionsFirstUserChecksTheHeaders) {
  SessionOn a(dir_.Path()), b(dir_.Path());
  a.Open("quota");
  Overwrite(File(".DAT"), data_header_offsets::BlobBlockSize, std::string_view("\x03\x00\x00\x00", 4));
  EXPECT_EQ(RaisedCode([&] { b.Open("quota"); }), TARN_HEADERCORRUPT);
}

TEST_F(DataTableTest, RecordLocksBetweenTwoSessionsOfOneProcess) {
  SessionOn a(dir_.Path()), b(dir_.Path());
  TDataTable& ta = a.Open("quota");
  TDataTable& tb = b.Open("quota");
  QuotaOps(ta).Append({1, "a", 1});
  ta.UserWriteLockRecord(1);
  EXPECT_TRUE(tb.RecordIsLocked(1));
  EXPECT_EQ(RaisedCode([&] { tb.UserWriteLockRecord(1); }), TARN_RECLOCKFAILED);
  // Any record lock held elsewhere keeps the table lock away.
  EXPECT_EQ(RaisedCode([&] { tb.UserWriteLockTable(); }), TARN_LOCKED);
  // A second lock of the same byte fails even for its holder's session.
  EXPECT_EQ(RaisedCode([&] { ta.UserWriteLockRecord(1); }), TARN_RECLOCKFAILED);
  ta.UserWriteUnlockRecord(1);
  EXPECT_FALSE(tb.RecordIsLocked(1));
  tb.UserWriteLockRecord(1);
  EXPECT_TRUE(ta.RecordIsLocked(1));
  EXPECT_EQ(RaisedCode([&] { ta.UserWriteUnlockRecord(1); }), TARN_UNLOCKFAILED);  // not held by ta
  tb.UserWriteUnlockRecord(1);
  EXPECT_EQ(RaisedCode([&] { tb.UserWriteUnlockRecord(0); }), TARN_UNLOCKFAILED);
}

// Held record locks are kept by record number, far beyond the bitmaps' first
// size too; counts follow every lock and unlock, a transaction defers unlocks,
// and closing gives every lock back.
TEST_F(DataTableTest, RecordLocksAreCountedAndReleasedByNumber) {
  SessionOn a(dir_.Path()), b(dir_.Path());
  TDataTable& ta = a.Open("quota");
  TDataTable& tb = b.Open("quota");
  // As a cursor does: the read lock a record lock takes goes when the lock is in.
  const auto lock = [](TDataTable& table, std::int32_t r) {
    table.UserWriteLockRecord(r);
    table.ReadUnlockTable();
  };
  const std::vector<std::int32_t> records = {1, 2, 32, 33, 8192, 8193, 20000};
  for (const std::int32_t r : records) lock(ta, r);
  EXPECT_EQ(ta.HeldRecordLockCount(), 7);
  for (const std::int32_t r : records) {
    EXPECT_TRUE(ta.HoldsRecordLock(r)) << r;
    EXPECT_TRUE(tb.RecordIsLocked(r)) << r;
  }
  for (const std::int32_t r : {3, 31, 8191, 19999, 20001}) {
    EXPECT_FALSE(ta.HoldsRecordLock(r)) << r;
    EXPECT_FALSE(tb.RecordIsLocked(r)) << r;
  }
  lock(tb, 3);
  EXPECT_EQ(tb.HeldRecordLockCount(), 1);
  EXPECT_TRUE(ta.RecordIsLocked(3));

  ta.UserWriteUnlockRecord(33);
  EXPECT_EQ(ta.HeldRecordLockCount(), 6);
  lock(tb, 33);
  EXPECT_EQ(tb.HeldRecordLockCount(), 2);

  // Unlocks inside a transaction wait for its end.
  a.directory->StartTransaction();
  ta.UserWriteUnlockRecord(8193);
  ta.UserWriteUnlockRecord(20000);
  EXPECT_EQ(ta.HeldRecordLockCount(), 6);
  EXPECT_EQ(ta.RecordsToReleaseCount(), 2);
  EXPECT_TRUE(tb.RecordIsLocked(20000));
  a.directory->CommitTransaction({.EndTransaction = true});
  EXPECT_EQ(ta.HeldRecordLockCount(), 4);
  EXPECT_EQ(ta.RecordsToReleaseCount(), 0);
  EXPECT_FALSE(tb.RecordIsLocked(8193));
  lock(tb, 20000);

  // The cursors' bookkeeping holds no byte.
  ta.AddCursorRecordWriteLock(9000);
  ta.AddCursorRecordWriteLock(2);
  EXPECT_TRUE(ta.CheckForCursorRecordWriteLock(9000));
  EXPECT_EQ(ta.CursorRecordLockCount(), 2);
  ta.RemoveCursorRecordWriteLock(9000);
  EXPECT_FALSE(ta.CheckForCursorRecordWriteLock(9000));
  EXPECT_FALSE(tb.RecordIsLocked(9000));

  ASSERT_EQ(a.directory->CloseDataTable(&ta), 0);
  for (const std::int32_t r : {1, 2, 32, 8192}) {
    EXPECT_FALSE(tb.RecordIsLocked(r)) << r;
    lock(tb, r);
  }
  EXPECT_EQ(tb.HeldRecordLockCount(), 7);
  tb.WriteUnlockAllRecords(false);
  EXPECT_EQ(tb.HeldRecordLockCount(), 0);
}

// Closing releases every lock it holds even when releasing one fails, and then
// raises that failure.
TEST_F(DataTableTest, ClosingTriesEveryUnlockAndRaisesTheFirstFailure) {
  struct TNoWait : TLockWaiter {
    void Wait(std::uint32_t) override {}
  } noWait;
  SessionOn a(dir_.Path()), b(dir_.Path());
  TDataTable& ta = a.Open("quota");
  TDataTable& tb = b.Open("quota");
  tb.SetLockMap(TLockMap(noWait, DefaultTokenSource()));
  ta.UserWriteLockTable();
  ta.WriteLockTable();
  // The table lock's range goes behind the table's back: its unlock will fail.
  ASSERT_TRUE(TLockMap().UnlockTable(ta.DataFile()));
  EXPECT_EQ(RaisedCode([&] { ta.CloseTable(false); }), TARN_UNLOCKFAILED);
  EXPECT_FALSE(ta.IsOpen());
  // The write lock after it was released all the same.
  EXPECT_EQ(RaisedCode([&] { tb.WriteLockTable(); }), 0);
  tb.WriteUnlockTable();
  EXPECT_EQ(RaisedCode([&] { tb.UserWriteLockTable(); }), 0);
}

TEST_F(DataTableTest, SemaphoresAcceptOneTo1024) {
  SessionOn a(dir_.Path()), b(dir_.Path());
  TDataTable& ta = a.Open("quota");
  TDataTable& tb = b.Open("quota");
  EXPECT_FALSE(ta.UserLockSemaphore(0));
  EXPECT_FALSE(ta.UserLockSemaphore(1025));
  EXPECT_TRUE(ta.UserLockSemaphore(1024));
  EXPECT_FALSE(tb.UserLockSemaphore(1024));
  EXPECT_TRUE(ta.UserUnlockSemaphore(1024));
  EXPECT_TRUE(tb.UserLockSemaphore(1024));
  EXPECT_TRUE(tb.UserUnlockSemaphore(1024));
}

TEST_F(DataTableTest, UnlockedRecordStaysLockedUntilTheTransactionEnds) {
  SessionOn a(dir_.Path()), b(dir_.Path());
  TDataTable& ta = a.Open("quota");
  TDataTable& tb = b.Open("quota");
  QuotaOps(ta).Append({1, "a", 1});
  a.directory->StartTransaction();
  ta.UserWriteLockRecord(1);
  ta.UserWriteUnlockRecord(1);
  EXPECT_TRUE(tb.RecordIsLocked(1));
  a.directory->CommitTransaction({.EndTransaction = true});
  EXPECT_FALSE(tb.RecordIsLocked(1));
  EXPECT_FALSE(ta.HoldsRecordLock(1));
}

TEST_F(DataTableTest, TransactionWritesNothingUntilCommitAndRollbackRestores) {
  SessionOn a(dir_.Path()), b(dir_.Path());
  TDataTable& ta = a.Open("quota");
  QuotaOps ops(ta), other(b.Open("quota"));
  ops.Append({1, "a", 1});
  const std::string dat = FileBytes(File(".DAT")), idx = FileBytes(File(".IDX"));

  a.directory->StartTransaction();
  for (int i = 2; i <= 200; ++i) ops.Append({i, "t", i});
  ops.SetUsed(1, 99);
  EXPECT_EQ(FileBytes(File(".DAT")), dat);
  EXPECT_EQ(FileBytes(File(".IDX")), idx);
  EXPECT_EQ(ops.LiveRecords().size(), 200u);  // the transaction sees its own rows
  a.directory->RollbackTransaction();
  EXPECT_EQ(ops.LiveRecords().size(), 1u);
  EXPECT_EQ(ops.Read(1).Used, 1);
  EXPECT_EQ(FileBytes(File(".DAT")), dat);

  a.directory->StartTransaction();
  for (int i = 2; i <= 50; ++i) ops.Append({i, "t", i});
  EXPECT_EQ(FileBytes(File(".IDX")), idx);
  a.directory->CommitTransaction({.EndTransaction = true});
  EXPECT_EQ(other.LiveRecords().size(), 50u);
  EXPECT_EQ(other.IndexEntries().size(), 50u);
  EXPECT_FALSE(a.directory->InTransaction());
}

TEST_F(DataTableTest, InterimCommitPublishesAndKeepsTheTransaction) {
  SessionOn a(dir_.Path()), b(dir_.Path());
  TDataTable& ta = a.Open("quota");
  QuotaOps ops(ta), other(b.Open("quota"));
  a.directory->StartTransaction();
  ops.Append({1, "a", 1});
  a.directory->CommitTransaction({});
  EXPECT_TRUE(a.directory->InTransaction());
  EXPECT_TRUE(ta.GetTransactionInProgress());
  EXPECT_EQ(other.LiveRecords().size(), 1u);
  ops.Append({2, "b", 2});
  a.directory->RollbackTransaction();
  EXPECT_EQ(other.LiveRecords().size(), 1u);
}

// An exclusive table writes each change when it succeeds (so that a failed one can
// be dropped without losing those before it); closing it or a shared table then
// has nothing left to write.
TEST_F(DataTableTest, ExclusiveTableWritesEachChangeAtItsCommitAndClosingWritesNothing) {
  {
    SessionOn a(dir_.Path());
    TDataTable& table = a.Open("quota", true);
    const std::string before = FileBytes(File(".DAT"));
    QuotaOps(table).Append({1, "x", 1});
    const std::string dat = FileBytes(File(".DAT")), idx = FileBytes(File(".IDX"));
    EXPECT_NE(dat, before);
    EXPECT_EQ(a.directory->CloseDataTable(&table), 0);
    EXPECT_EQ(FileBytes(File(".DAT")), dat);
    EXPECT_EQ(FileBytes(File(".IDX")), idx);
  }
  SessionOn b(dir_.Path());
  TDataTable& table = b.Open("quota");
  QuotaOps(table).Append({2, "y", 2});
  const std::string dat = FileBytes(File(".DAT")), idx = FileBytes(File(".IDX"));
  EXPECT_EQ(b.directory->CloseDataTable(&table), 0);
  EXPECT_EQ(FileBytes(File(".DAT")), dat);
  EXPECT_EQ(FileBytes(File(".IDX")), idx);
}

// A change that fails on an exclusive table (here a duplicate key, after the record
// was already taken) is dropped with its buffers: closing the table writes none of
// it, and the earlier changes stay.
TEST_F(DataTableTest, FailedChangeOnAnExclusiveTableNeverReachesTheDisk) {
  {
    SessionOn a(dir_.Path());
    TDataTable& table = a.Open("quota", true);
    QuotaOps ops(table);
    for (int i = 1; i <= 3; ++i) ops.Append({i, "x", i});
    EXPECT_EQ(RaisedCode([&] { ops.Append({2, "dup", 0}); }), TARN_KEYVIOL);
    EXPECT_EQ(a.directory->CloseDataTable(&table), 0);
  }
  SessionOn b(dir_.Path());
  TDataTable& table = b.Open("quota");
  EXPECT_EQ(CheckTableStructure(table), TFindings{});
  QuotaOps ops(table);
  std::vector<std::int32_t> ids;
  for (const auto& [number, row] : ops.LiveRecords()) ids.push_back(row.Id);
  EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(table.DataFile().Header().NextRecordNumber, 4);
}

// Inside a transaction an appended row lives only in the record cache. A read of
// the rows before it, with read-ahead over the new one, must accept that the file
// ends before it instead of raising TARN_READERR.
TEST_F(DataTableTest, RowsAppendedInATransactionReadBackWithReadAhead) {
  {
    SessionOn a(dir_.Path());
    QuotaOps ops(a.Open("quota"));
    for (int i = 1; i <= 20; ++i) ops.Append({i, "before", i});
  }
  SessionOn b(dir_.Path());
  TDataTable& table = b.Open("quota");
  QuotaOps ops(table);
  b.directory->StartTransaction();
  ops.Append({21, "inside", 21});
  std::map<std::int32_t, QuotaRow> rows;
  EXPECT_EQ(RaisedCode([&] { rows = ops.LiveRecords(); }), 0);
  EXPECT_EQ(rows.size(), 21u);
  b.directory->CommitTransaction({.EndTransaction = true});
  EXPECT_EQ(ops.LiveRecords().size(), 21u);
  EXPECT_EQ(CheckTableStructure(table), TFindings{});
}

TEST_F(DataTableTest, ReadOnlyTableOpensAndReadsWithoutLocks) {
  {
    SessionOn a(dir_.Path());
    QuotaOps(a.Open("quota")).Append({1, "r", 5});
  }
  for (const char* ext : {".DAT", ".IDX"}) ::chmod(File(ext).c_str(), 0444);
  SessionOn a(dir_.Path());
  TDataTable& table = a.Open("quota");
  EXPECT_TRUE(table.ReadOnly());
  EXPECT_TRUE(table.ReadOnlyMedia());
  QuotaOps ops(table);
  EXPECT_EQ(ops.Read(ops.Find(1)), (QuotaRow{1, "r", 5}));
  EXPECT_FALSE(table.InternalReadLocked());
  for (const char* ext : {".DAT", ".IDX"}) ::chmod(File(ext).c_str(), 0644);
}


// Every file in the directory with its bytes.
std::map<std::string, std::string> DirectoryFiles(const std::string& path) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(path))
    files[entry.path().filename().string()] = FileBytes(entry.path().string());
  return files;
}

// Renaming is all or nothing: a stray file under one of the new names stops it
// part-way, and what was already moved goes back.
TEST(DataTableRename, AStrayTargetFileLeavesEveryFileWhereItWas) {
  for (const char* stray : {"b.IDX", "b.BLB"}) {
    SCOPED_TRACE(stray);
    TempDirectory dir;
    CreateQuotaTable(dir.Path(), "a", true);
    {
      SessionOn s(dir.Path());
      QuotaOps(s.Open("a")).Append({1, "kept", 5});
    }
    std::ofstream(dir.Path() + stray) << "stray";
    const auto before = DirectoryFiles(dir.Path());
    SessionOn s(dir.Path());
    EXPECT_NE(RaisedCode([&] { s.directory->RenameDataTable("a", "b"); }), 0);
    EXPECT_TRUE(DirectoryFiles(dir.Path()) == before);
    QuotaOps ops(s.Open("a"));
    EXPECT_EQ(ops.Read(ops.Find(1)), (QuotaRow{1, "kept", 5}));
  }
}

TEST(DataTableRename, ABackupReplacesTheOldBackupWhole) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "a", true);
  for (const char* old : {"a.DBK", "a.IBK", "a.BBK"}) std::ofstream(dir.Path() + old) << "old backup";
  const auto before = DirectoryFiles(dir.Path());
  SessionOn s(dir.Path());
  EXPECT_EQ(s.directory->RenameDataTable("a", "a", {.AsBackup = true}), 0);
  const auto after = DirectoryFiles(dir.Path());
  ASSERT_EQ(after.size(), 3u);  // nothing left of the old backups
  EXPECT_TRUE(after.at("a.DBK") == before.at("a.DAT"));
  EXPECT_TRUE(after.at("a.IBK") == before.at("a.IDX"));
  EXPECT_TRUE(after.at("a.BBK") == before.at("a.BLB"));
}

// Deleting is all or nothing: a file that cannot go keeps the others in place.
TEST(DataTableDelete, AFileThatCannotGoKeepsTheWholeTable) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "a", true);
  const auto before = DirectoryFiles(dir.Path());
  SessionOn s(dir.Path());
  {
    // The index file held open elsewhere cannot be deleted; the data file goes first.
    TIndexFile holder;
    holder.SetFileName(dir.Path() + "a.IDX");
    holder.OpenFile();
    EXPECT_EQ(RaisedCode([&] { s.directory->DeleteDataTable("a", false); }), TARN_OSEACCES);
    EXPECT_TRUE(DirectoryFiles(dir.Path()) == before);
  }
  EXPECT_EQ(s.directory->DeleteDataTable("a", false), 0);
  EXPECT_TRUE(DirectoryFiles(dir.Path()).empty());
}

// The stamp at offset 0 of each of the three files, as stored.
std::int32_t StoredStamp(const std::string& path) {
  const std::string bytes = FileBytes(path);
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes.at(static_cast<std::size_t>(i)));
  return static_cast<std::int32_t>(value);
}

void StoreStamp(const std::string& path, std::int32_t stamp) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  const auto value = static_cast<std::uint32_t>(stamp);
  const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                         static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
  file.write(bytes, 4);
}

// The update stamp is a 32-bit counter stored as an int32: the data, index and BLOB
// headers all wrap it the same way, by a stamp update and by a header write.
TEST(DataTableStamps, AllThreeStampsWrapAtTheEndsOfTheStoredType) {
  struct TCase {
    std::int32_t Stored, Updated, Written;
  };
  for (const TCase c : {TCase{INT32_MAX, INT32_MIN, INT32_MIN + 1}, TCase{-1, 0, 1},
                       TCase{INT32_MAX - 1, INT32_MAX, INT32_MIN}}) {
    SCOPED_TRACE(c.Stored);
    TempDirectory dir;
    CreateQuotaTable(dir.Path(), "quota", true);
    const std::string files[] = {dir.Path() + "quota.DAT", dir.Path() + "quota.IDX", dir.Path() + "quota.BLB"};
    for (const std::string& file : files) StoreStamp(file, c.Stored);
    SessionOn s(dir.Path());
    TDataTable& table = s.Open("quota");
    ASSERT_TRUE(table.HasBlobFile());
    table.UpdateHeaderStamps(true, true, true);
    EXPECT_EQ(table.DataFile().GetLastUpdateStamp(), c.Updated);
    EXPECT_EQ(table.IndexFile().Header().LastUpdateStamp, c.Updated);
    EXPECT_EQ(table.BlobFile().Header().LastUpdateStamp, c.Updated);
    table.FlushBuffers();  // each changed header written, its stamp advanced
    for (const std::string& file : files) EXPECT_EQ(StoredStamp(file), c.Written) << file;
  }
}

constexpr std::size_t kNoteOffset = 41;

// Writes the NOTE BLOB of record n the way a cursor posts it: new signature, chain
// written, reference stored, all under the write lock.
void WriteNote(TDataTable& table, std::int32_t n, const std::string& text) {
  TableClient client(table);
  for (;;) {
    TWriteLockScope scope(table);
    TRecord* record = nullptr;
    if (!table.DataFile().GetRecord(&client, n, record)) continue;
    std::vector<std::uint8_t> bytes(record->GetRecordBufferPtr(),
                                    record->GetRecordBufferPtr() + table.DataFile().GetRecordSize());
    const TBlobReference old = LoadBlobReference(&bytes[kNoteOffset + 1]);
    TBlobBuffer blob(table.BlobFile(), &client, n, 4, old.FirstBlock, old.Signature);
    blob.SetSize(text.size());
    std::memcpy(blob.GetBuffer(), text.data(), text.size());
    blob.SetSignature(table.DataFile().GetNextFreeBlobSignature());
    if (!blob.Write()) {
      table.DataFile().PutRecord(record);
      continue;
    }
    bytes[kNoteOffset] = 1;
    StoreBlobReference(&bytes[kNoteOffset + 1], {blob.FirstBlock(), blob.Signature()});
    record->CopyRecordBuffer(bytes.data());
    table.DataFile().PutRecord(record);
    scope.Commit();
    return;
  }
}

TBlobReference NoteReference(TDataTable& table, std::int32_t n) {
  TableClient client(table);
  TReadLockScope scope(table);
  TRecord* record = nullptr;
  while (!table.DataFile().GetRecord(&client, n, record)) {
  }
  const TBlobReference ref = LoadBlobReference(record->GetRecordBufferPtr() + kNoteOffset + 1);
  table.DataFile().PutRecord(record);
  return ref;
}

std::string ReadNote(TDataTable& table, std::int32_t n, const TBlobReference& ref) {
  TableClient client(table);
  TReadLockScope scope(table);
  TBlobBuffer blob(table.BlobFile(), &client, n, 4, ref.FirstBlock, ref.Signature);
  blob.Read();
  return std::string(reinterpret_cast<const char*>(blob.Contents().data()), blob.GetSize());
}

TEST(DataTableBlobs, NotesPassBetweenSessionsAndAStaleReaderIsTold) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "memo", true);
  SessionOn a(dir.Path()), b(dir.Path());
  TDataTable& ta = a.Open("memo");
  TDataTable& tb = b.Open("memo");
  ASSERT_TRUE(ta.HasBlobFile());
  const std::int32_t n = QuotaOps(ta).Append({1, "memo", 0});
  const std::string long_text(3000, 'x');
  WriteNote(ta, n, long_text);
  const TBlobReference ref = NoteReference(tb, n);
  EXPECT_EQ(ReadNote(tb, n, ref), long_text);
  // Another session rewrites the BLOB: a reader holding the old reference is told.
  WriteNote(ta, n, "short");
  EXPECT_EQ(RaisedCode([&] { ReadNote(tb, n, ref); }), TARN_KEYORRECDELETED);
  EXPECT_EQ(ReadNote(tb, n, NoteReference(tb, n)), "short");
  EXPECT_GT(tb.GetBlobFileSize(), 0u);
}

TEST(DataTableEncrypted, ScrambledTableWorksAcrossSessionsAndHidesItsText) {
  TempDirectory dir;
  {
    SessionOn s(dir.Path());
    TTableDefinition definition = QuotaDefinition(true);
    definition.Encrypted = true;
    definition.Password = "KT62WB38";
    TDataTable* table = nullptr;
    ASSERT_EQ(s.directory->CreateDataTable("secret", definition, table), 0);
  }
  SessionOn a(dir.Path()), b(dir.Path());
  TDataTable& ta = a.Open("secret");
  QuotaOps writer(ta), reader(b.Open("secret"));
  for (int i = 1; i <= 200; ++i) writer.Append({i, "plainname", i});
  WriteNote(ta, writer.Find(7), "plainnote plainnote");
  EXPECT_EQ(reader.Read(reader.Find(150)), (QuotaRow{150, "plainname", 150}));
  EXPECT_EQ(reader.IndexEntries().size(), 200u);
  TDataTable& tb = b.Open("secret");
  EXPECT_EQ(ReadNote(tb, reader.Find(7), NoteReference(tb, reader.Find(7))), "plainnote plainnote");
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    EXPECT_EQ(FileBytes(dir.Path() + "secret" + ext).find("plain"), std::string::npos) << ext;
  }
}

TEST(DataTableMemory, ImageRoundTripAndBadImagesAreRefused) {
  TDataSession session;
  TDataDirectory& memory = session.OpenDataDirectory("Memory", "");
  TDataTable* table = nullptr;
  ASSERT_EQ(memory.CreateDataTable("mq", QuotaDefinition(), table, {.InMemory = true}), 0);
  ASSERT_EQ(memory.OpenDataTable("mq", table, {.InMemory = true}), 0);
  QuotaOps ops(*table);
  for (int i = 1; i <= 20; ++i) ops.Append({i, "m", i});

  table->BeginBufferLoad();
  const std::int64_t size = table->GetBufferSize();
  const std::uint64_t expected =
      (table->GetDataFileSize() + table->GetIndexFileSize() + 8 + 4095) / 4096 * 4096;
  EXPECT_EQ(static_cast<std::uint64_t>(size), expected);
  std::vector<std::uint8_t> image(static_cast<std::size_t>(size));
  EXPECT_EQ(table->LoadFromBuffer(image.data(), 0, size + 100), size);
  table->EndBufferLoad();

  // An image whose data part claims more bytes than it holds is refused unchanged.
  std::vector<std::uint8_t> bad = image;
  codec::PutI32(bad.data(), 0, static_cast<std::int32_t>(bad.size()));
  table->BeginBufferSave();
  table->SaveToBuffer(bad.data(), 0, static_cast<std::int64_t>(bad.size()));
  EXPECT_EQ(RaisedCode([&] { table->EndBufferSave(); }), TARN_OSEINVMEM);
  EXPECT_EQ(ops.LiveRecords().size(), 20u);

  // Loading an empty image empties the table; the saved image brings the rows back.
  table->BeginBufferSave();
  table->SaveToBuffer(nullptr, 0, 0);
  table->EndBufferSave();
  EXPECT_EQ(ops.LiveRecords().size(), 0u);
  table->BeginBufferSave();
  table->SaveToBuffer(image.data(), 0, static_cast<std::int64_t>(image.size()));
  table->EndBufferSave();
  EXPECT_EQ(ops.LiveRecords().size(), 20u);
  EXPECT_EQ(ops.IndexEntries().size(), 20u);
}

}  // namespace
}  // namespace tarn::testing
