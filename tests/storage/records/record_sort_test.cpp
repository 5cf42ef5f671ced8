// Sorting a data file in place: order, descending fields, duplicates,
// grouping with a having test, limits, and files larger than the cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "data_file_fixture.h"

namespace tarn {
namespace {

class RecordSortTest : public DataFileTest {
 protected:
  // (limit, record ID) of every record in file order, read from disk.
  std::vector<std::pair<std::int32_t, std::int32_t>> Contents(TDataFile& file) {
    file.FreeRecordBuffers();
    std::vector<std::pair<std::int32_t, std::int32_t>> rows;
    for (std::int32_t n = 1; n <= file.GetPhysicalRecordsUsed(); ++n) {
      TRecord* record = nullptr;
      EXPECT_TRUE(file.GetRecord(nullptr, n, record, {.ReadAhead = true}));
      EXPECT_EQ(RecordNumberOf(record->Bytes()), n);
      rows.emplace_back(LoadInt32(record->GetRecordBufferPtr() + 32), record->GetRecordID());
      file.PutRecord(record);
    }
    return rows;
  }
  std::vector<TFieldDefinition> SortBy(TDataFile& file, std::uint16_t number, bool descending) {
    TFieldDefinition def;
    EXPECT_TRUE(file.GetFieldDefinitionByNumber(number, def));
    def.Working.SortDescending = descending;
    return {def};
  }
};

TEST_F(RecordSortTest, SortsCachedRecordsWithTiesInRecordIdOrder) {
  for (const bool encrypted : {false, true}) {
    auto file = Create(encrypted);
    const std::int32_t limits[] = {30, 10, 20, 10, 30, -5};
    for (std::int32_t limit : limits) Append(*file, "U", limit);
    EXPECT_EQ(file->SortRecordBuffers(SortBy(*file, 2, false), -1, {}), 6);
    EXPECT_EQ(Contents(*file), (std::vector<std::pair<std::int32_t, std::int32_t>>{
                                   {-5, 6}, {10, 2}, {10, 4}, {20, 3}, {30, 1}, {30, 5}}));
    EXPECT_EQ(file->SortRecordBuffers(SortBy(*file, 2, true), -1, {}), 6);
    EXPECT_EQ(Contents(*file).front(), (std::pair<std::int32_t, std::int32_t>{30, 1}));
    file->CloseFile();
    std::filesystem::remove(name_);
  }
}

TEST_F(RecordSortTest, DistinctAndLimitShrinkTheFile) {
  auto file = Create(false);
  for (std::int32_t limit : {3, 1, 3, 2, 1, 3}) Append(*file, "U", limit);
  EXPECT_EQ(file->SortRecordBuffers(SortBy(*file, 2, false), -1, {}, {.Distinct = true}), 3);
  EXPECT_EQ(Contents(*file), (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 2}, {2, 4}, {3, 1}}));
  EXPECT_EQ(file->Header().NextRecordNumber, 4);
  EXPECT_EQ(table_.actualCount, 3);
  EXPECT_EQ(std::filesystem::file_size(name_), 127u + 2u * 768u + 3u * 36u);

  EXPECT_EQ(file->SortRecordBuffers(SortBy(*file, 2, true), 2, {}), 2);
  EXPECT_EQ(Contents(*file), (std::vector<std::pair<std::int32_t, std::int32_t>>{{3, 1}, {2, 4}}));
}

TEST_F(RecordSortTest, GroupsFoldHavingRejectsAndLimitCountsWholeGroups) {
  auto file = Create(false);
  for (std::int32_t limit : {5, 7, 5, 9, 7, 5}) Append(*file, "U", limit);
  // The record ID of a group record becomes its member count.
  std::vector<std::string> calls;
  TSortCallbacks callbacks;
  callbacks.Group = [&](bool open, std::uint8_t* a, std::uint8_t* b) {
    if (open) {
      StoreInt32(b + kRecordIdOffset, 1);
    } else {
      StoreInt32(b + kRecordIdOffset, LoadInt32(b + kRecordIdOffset) + 1);
    }
    calls.push_back(open ? (a == b ? "first" : "open") : "fold");
  };
  callbacks.Having = [](std::uint8_t* g) { return LoadInt32(g + kRecordIdOffset) >= 2; };
  EXPECT_EQ(file->SortRecordBuffers(SortBy(*file, 2, false), -1, callbacks), 2);
  EXPECT_EQ(Contents(*file), (std::vector<std::pair<std::int32_t, std::int32_t>>{{5, 3}, {7, 2}}));
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "fold", "fold", "open", "fold", "open"}));

  // A limit of one stops after the first complete group (now each of one).
  callbacks.Having = nullptr;
  EXPECT_EQ(file->SortRecordBuffers(SortBy(*file, 2, true), 1, callbacks), 1);
  EXPECT_EQ(Contents(*file), (std::vector<std::pair<std::int32_t, std::int32_t>>{{7, 1}}));
}

TEST_F(RecordSortTest, ARejectedGroupDoesNotCountTowardsTheLimit) {
  auto file = Create(false);
  for (std::int32_t limit : {5, 7, 5, 9, 7}) Append(*file, "U", limit);
  TSortCallbacks callbacks;
  callbacks.Group = [](bool open, std::uint8_t*, std::uint8_t* b) {
    StoreInt32(b + kRecordIdOffset, open ? 1 : LoadInt32(b + kRecordIdOffset) + 1);
  };
  int averaged = 0;
  callbacks.Average = [&](std::uint8_t*) { ++averaged; };
  callbacks.Having = [](std::uint8_t* g) { return LoadInt32(g + kRecordIdOffset) >= 2; };
  // Descending: 9 (one member, rejected), then 7 (two members) fills the limit.
  EXPECT_EQ(file->SortRecordBuffers(SortBy(*file, 2, true), 1, callbacks), 1);
  EXPECT_EQ(Contents(*file), (std::vector<std::pair<std::int32_t, std::int32_t>>{{7, 2}}));
  EXPECT_EQ(averaged, 2);
}

TEST_F(RecordSortTest, FilesLargerThanTheCacheSortLikeCachedOnes) {
  auto file = Create(true);
  constexpr std::int32_t kRecords = 20000;  // three runs of at most 8,192
  for (std::int32_t i = 0; i < kRecords; ++i) Append(*file, "U", (i * 7919) % 13);
  file->FlushRecordBuffers();
  file->FreeRecordBuffers();
  EXPECT_EQ(file->SortRecordBuffers(SortBy(*file, 2, false), -1, {}), kRecords);
  const auto rows = Contents(*file);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRecords));
  EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end()));
  EXPECT_EQ(rows.front(), (std::pair<std::int32_t, std::int32_t>{0, 1}));
  // No run files are left in the private directory.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace tarn
