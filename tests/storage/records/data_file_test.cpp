// The data file handler: header and definitions on disk, the record cache,
// write runs, read-ahead merging and the free-record list.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "data_file_fixture.h"

namespace tarn {
namespace {

TEST_F(DataFileTest, HeaderAndDefinitionsRoundTripThroughTheFile) {
  for (const bool encrypted : {false, true}) {
    {
      auto file = Create(encrypted);
      file->CloseFile();
    }
    EXPECT_EQ(std::filesystem::file_size(name_), 127u + 2u * 768u);
    auto file = Open();
    file->CheckHeaderVersion();
    file->CheckHeader();
    EXPECT_EQ(file->GetRecordSize(), 9 + 22 + 5);
    EXPECT_EQ(file->GetFieldCount(), 2);
    EXPECT_EQ(file->GetLastUpdateStamp(), 1);
    EXPECT_EQ(file->GetDescription(), "quota");
    EXPECT_EQ(file->GetPassword(), encrypted ? "secret" : "");
    EXPECT_EQ(file->GetFieldNumber(" limit"), 2);
    EXPECT_EQ(file->GetFieldNumber("missing"), 0);
    TFieldDefinition def;
    ASSERT_TRUE(file->GetFieldDefinitionByName("NAME", def));
    EXPECT_EQ(def.FieldOffset, 9);
    EXPECT_FALSE(file->GetFieldDefinitionByPos(3, def));
    file->CloseFile();
    std::filesystem::remove(name_);
  }
}

TEST_F(DataFileTest, TableWithoutFieldsIs127Bytes) {
  auto file = Create(false, {});
  file->CloseFile();
  auto empty = std::make_unique<TDataFile>();
  empty->SetFileName(dir_ + "/EMPTY.DAT");
  empty->CreateDataFile(0, 0, 0, 0, false, "", "", 0, {});
  empty->WriteHeader(true);
  empty->WriteFields();
  empty->CloseFile();
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/EMPTY.DAT"), 127u);
}

TEST_F(DataFileTest, AppendedRecordsReachTheDiskAndReadBack) {
  for (const bool encrypted : {false, true}) {
    {
      auto file = Create(encrypted);
      Append(*file, "ALICE", 100);
      Append(*file, "BOB", 200);
      EXPECT_EQ(file->GetPhysicalRecordsUsed(), 2);
      EXPECT_TRUE(file->FlushRecordBuffers());
      EXPECT_FALSE(file->FlushRecordBuffers());
      EXPECT_EQ(file->Statistics().Writes, 1u);  // one run
      file->WriteHeader(false);
      file->CloseFile();
    }
    std::ifstream raw(name_, std::ios::binary);
    std::vector<char> disk((std::istreambuf_iterator<char>(raw)), {});
    ASSERT_EQ(disk.size(), 127u + 2u * 768u + 2u * 36u);
    const bool plainOnDisk = std::memcmp(disk.data() + 127 + 1536 + 10, "ALICE", 5) == 0;
    EXPECT_EQ(plainOnDisk, !encrypted);
    auto file = Open();
    file->CheckHeader();
    EXPECT_EQ(LimitOf(*file, 2), 200);
    EXPECT_EQ(LimitOf(*file, 1), 100);
    TRecord* record = nullptr;
    ASSERT_TRUE(file->GetRecord(nullptr, 2, record));
    EXPECT_EQ(record->GetRecordID(), 2);
    EXPECT_EQ(RecordNumberOf(record->Bytes()), 2);
    EXPECT_EQ(record->UseCount(), 1);
    file->PutRecord(record);
    EXPECT_EQ(record->UseCount(), 0);
    file->CloseFile();
    std::filesystem::remove(name_);
  }
}

TEST_F(DataFileTest, DirtyRunsAreWrittenWithOneWriteEach) {
  auto file = Create(false);
  for (int i = 1; i <= 10; ++i) Append(*file, "U", i);
  file->FlushRecordBuffers();
  const std::uint32_t before = file->Statistics().Writes;
  for (std::int32_t n : {5, 6, 7, 9}) {
    TRecord* record = nullptr;
    ASSERT_TRUE(file->GetRecord(nullptr, n, record));
    record->SetRecordID(1000 + n);
    file->PutRecord(record);
  }
  EXPECT_TRUE(file->FlushRecordBuffers());
  EXPECT_EQ(file->Statistics().Writes - before, 2u);
  file->FreeRecordBuffers();
  TRecord* record = nullptr;
  ASSERT_TRUE(file->GetRecord(nullptr, 9, record));
  EXPECT_EQ(record->GetRecordID(), 1009);
  file->PutRecord(record);
}

TEST_F(DataFileTest, RecordNumberErrors) {
  auto file = Create(false);
  Append(*file, "A", 1);
  file->FlushRecordBuffers();
  TRecord* record = nullptr;
  EXPECT_EQ(RaisedCode([&] { file->GetRecord(nullptr, 0, record); }), TARN_FILECORRUPT);
  EXPECT_EQ(RaisedCode([&] { file->GetRecord(nullptr, -4, record); }), TARN_FILECORRUPT);
  // Two past the end of a shared table: the read finds no bytes there.
  EXPECT_EQ(RaisedCode([&] { file->GetRecord(nullptr, 3, record, {.ReadAhead = true}); }), TARN_READERR);
  // Held exclusively and changed: short reads are accepted, but the record is
  // still not there.
  table_.shortReads = true;
  EXPECT_EQ(RaisedCode([&] { file->GetRecord(nullptr, 3, record, {.ReadAhead = true}); }), TARN_FILECORRUPT);
}

TEST_F(DataFileTest, AppendingBeyondTheRecordLimitIsTableFull) {
  {
    auto file = Create(false);
    file->CloseFile();
  }
  {
    std::fstream raw(name_, std::ios::in | std::ios::out | std::ios::binary);
    raw.seekp(13);
    const std::int32_t next = 200000001;
    raw.write(reinterpret_cast<const char*>(&next), 4);
  }
  auto file = Open();
  TRecord* record = nullptr;
  EXPECT_EQ(RaisedCode([&] { file->GetRecord(nullptr, 200000001, record); }), TARN_TABLEFULL);
}

TEST_F(DataFileTest, FullOfDirtyBuffersTheCacheGrowsAndShrinksBack) {
  std::vector<TFieldDefinition> wide;
  for (int i = 0; i < 32; ++i) wide.push_back(MakeField("B" + std::to_string(i), dtBytes, 250));
  auto file = Create(false, LaidOut(wide));
  ASSERT_EQ(file->GetRecordSize(), 9 + 32 * 251);
  ASSERT_EQ(file->NominalCacheCapacity(), 2u);
  table_.transaction = true;  // nothing may be flushed
  for (int i = 0; i < 3; ++i) {
    TRecord* record = nullptr;
    ASSERT_TRUE(file->GetRecord(nullptr, i + 1, record));
    record->SetRecordID(i + 1);
    file->PutRecord(record);
  }
  EXPECT_EQ(file->CachedRecordCount(), 3u);
  EXPECT_EQ(file->CacheCapacity(), 66u);
  table_.transaction = false;
  file->AdjustRecordBuffers();
  EXPECT_EQ(file->CachedRecordCount(), 2u);
  EXPECT_EQ(file->CacheCapacity(), 2u);
  // Everything was written before it left the cache.
  file->FreeRecordBuffers();
  TRecord* record = nullptr;
  ASSERT_TRUE(file->GetRecord(nullptr, 1, record));
  EXPECT_EQ(record->GetRecordID(), 1);
  file->PutRecord(record);
}

TEST_F(DataFileTest, ReadAheadRefreshesCleanCopiesAndKeepsDirtyOnes) {
  {
    auto creator = Create(false);
    for (int i = 1; i <= 4; ++i) Append(*creator, "U", i);
    creator->FlushRecordBuffers();
    creator->WriteHeader(false);
  }
  auto writer = Open();
  auto reader = Open();
  EXPECT_EQ(LimitOf(*reader, 2), 2);  // cached clean
  TRecord* record = nullptr;
  ASSERT_TRUE(reader->GetRecord(nullptr, 3, record));
  StoreInt32(record->GetRecordBufferPtr() + 32, 333);
  record->SetDirty(true);  // changed in this cache
  reader->PutRecord(record);

  // Another handler changes records 2 and 3 on disk.
  for (std::int32_t n : {2, 3}) {
    ASSERT_TRUE(writer->GetRecord(nullptr, n, record));
    StoreInt32(record->GetRecordBufferPtr() + 32, n * 10);
    record->SetDirty(true);
    writer->PutRecord(record);
  }
  writer->FlushRecordBuffers();

  EXPECT_EQ(LimitOf(*reader, 1, true), 1);  // reads 1..4 in one block
  EXPECT_EQ(LimitOf(*reader, 2), 20);
  EXPECT_EQ(LimitOf(*reader, 3), 333);
  EXPECT_EQ(LimitOf(*reader, 4), 4);
}

TEST_F(DataFileTest, FreeRecordListReusesDeletedRecords) {
  auto file = Create(false);
  for (int i = 1; i <= 3; ++i) Append(*file, "U", i);
  TRecord* record = nullptr;
  ASSERT_TRUE(file->GetRecord(nullptr, 2, record));
  file->SetNextFreeRecord(*record);
  file->PutRecord(record);
  EXPECT_EQ(file->Header().NextFreeRecordNumber, 2);
  EXPECT_EQ(file->GetNextFreeRecordNumber(), 2);

  table_.primary = false;  // without a primary index deleted records stay unused
  EXPECT_EQ(file->GetNextFreeRecordNumber(), 4);
  table_.primary = true;

  ASSERT_TRUE(file->GetNextFreeRecord(nullptr, record));
  EXPECT_EQ(record->Number(), 2);
  EXPECT_EQ(file->Header().NextFreeRecordNumber, 0);
  file->PutRecord(record);
  ASSERT_TRUE(file->GetNextFreeRecord(nullptr, record));
  EXPECT_EQ(record->Number(), 4);  // appended
  file->PutRecord(record);
}

TEST_F(DataFileTest, DamagedFreeListIsCorruptNotReused) {
  auto file = Create(false);
  for (int i = 1; i <= 3; ++i) Append(*file, "U", i);
  TRecord* record = nullptr;
  struct Case {
    std::int32_t head;
    bool deleteHead;
    std::int32_t link;
  } cases[] = {
      {2, false, 0},   // head names a live record
      {2, true, 77},   // link beyond the records
      {2, true, 2},    // link to itself
      {9, false, 0},   // head beyond the records
  };
  for (const Case& c : cases) {
    if (c.deleteHead) {
      ASSERT_TRUE(file->GetRecord(nullptr, c.head, record));
      record->SetIsDeleted(true);
      record->SetNextFreeRecord(c.link);
      file->PutRecord(record);
    }
    file->SetNextFreeRecordNumber(c.head);
    EXPECT_EQ(RaisedCode([&] { file->GetNextFreeRecord(nullptr, record); }), TARN_FILECORRUPT) << c.head;
    ASSERT_TRUE(file->GetRecord(nullptr, 2, record));
    record->SetIsDeleted(false);
    file->PutRecord(record);
  }
}

TEST_F(DataFileTest, ChangesByAnotherHandlerAreSeenThroughTheStamp) {
  Create(false)->CloseFile();
  auto first = Open();
  auto second = Open();
  EXPECT_FALSE(second->CheckForChanges());
  first->UpdateHeaderStamp();
  first->WriteHeader(false);
  EXPECT_TRUE(second->CheckForChanges());
  EXPECT_EQ(second->GetLastUpdateStamp(), first->GetLastUpdateStamp());
}

TEST_F(DataFileTest, OpeningMoreThan1024FieldsIsCorrupt) {
  {
    auto file = Create(false);
    file->CloseFile();
  }
  {
    std::fstream raw(name_, std::ios::in | std::ios::out | std::ios::binary);
    raw.seekp(23);
    const std::uint16_t count = 1025;
    raw.write(reinterpret_cast<const char*>(&count), 2);
  }
  TDataFile file;
  file.SetFileName(name_);
  EXPECT_EQ(RaisedCode([&] { file.OpenFile(); }), TARN_HEADERCORRUPT);
  EXPECT_FALSE(file.IsOpen());
}

// Spare record objects are pooled per file, at most 64; one handed out is clean
// and unnumbered whatever it held before.
TEST_F(DataFileTest, SpareRecordsArePooledUpToTheLimit) {
  auto file = Create(false);
  std::vector<std::unique_ptr<TRecord>> taken;
  for (std::size_t i = 0; i < kRecordPoolSize + 6; ++i) taken.push_back(file->GetNewRecordInstance());
  taken.front()->SetRecordNumber(7);
  taken.front()->SetDirty(true);
  for (auto& record : taken) {
    file->ReturnRecordInstance(record);
    EXPECT_EQ(record, nullptr);
  }
  EXPECT_EQ(file->SpareRecordInstances(), kRecordPoolSize);
  for (std::size_t i = 0; i < kRecordPoolSize; ++i) {
    auto record = file->GetNewRecordInstance();
    EXPECT_EQ(record->Number(), 0) << i;
    EXPECT_FALSE(record->Dirty()) << i;
    taken[i] = std::move(record);
  }
  EXPECT_EQ(file->SpareRecordInstances(), 0u);
}

}  // namespace
}  // namespace tarn
