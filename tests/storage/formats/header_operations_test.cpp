// Header operations: creation limits, counters, emptying and index slots.
#include <gtest/gtest.h>

#include "format_fixtures.h"
#include "storage/formats/blob_header.h"
#include "storage/formats/update_stamp.h"

namespace tarn {
namespace {

using testing::kContext;
using testing::MakeField;
using testing::MakeIndex;
using testing::RaisedCode;

TEST(CreateDataHeader, LimitsOnBlobFieldsRecordSizeAndFieldCount) {
  std::vector<TFieldDefinition> blobs;
  for (int i = 0; i < 129; ++i) blobs.push_back(MakeField("B" + std::to_string(i), dtBlob, 0, dstMemo));
  testing::LayOut(blobs);
  EXPECT_EQ(RaisedCode([&] { CreateDataHeader({}, blobs, kContext); }), TARN_BLOBLIMIT);
  blobs.pop_back();
  EXPECT_EQ(CreateDataHeader({}, blobs, kContext).BlobFieldCount, 128);

  // 255 strings of 249 characters take 251 bytes each: 9 + 64,005 = 64,014;
  // bytes fields then fill the record to exactly 65,535.
  std::vector<TFieldDefinition> wide;
  for (int i = 0; i < 255; ++i) wide.push_back(MakeField("S" + std::to_string(i), dtString, 249));
  wide.push_back(MakeField("T", dtBytes, 250));       // +251 -> 64,265
  wide.push_back(MakeField("U", dtBytes, 250));       // +251 -> 64,516
  wide.push_back(MakeField("V", dtBytes, 250));       // +251 -> 64,767
  wide.push_back(MakeField("W", dtBytes, 250));       // +251 -> 65,018
  wide.push_back(MakeField("X", dtBytes, 250));       // +251 -> 65,269
  wide.push_back(MakeField("Y", dtBytes, 250));       // +251 -> 65,520
  wide.push_back(MakeField("Z", dtBytes, 14));        // +15  -> 65,535
  testing::LayOut(wide);
  EXPECT_EQ(CreateDataHeader({}, wide, kContext).RecordSize, 65535);
  wide.back().Size = 15;
  UpdateFieldSize(wide.back());
  EXPECT_EQ(ComputeRecordSize(wide), 65536u);
  EXPECT_EQ(RaisedCode([&] { CreateDataHeader({}, wide, kContext); }), TARN_RECTOOBIG);

  std::vector<TFieldDefinition> many(1025, MakeField("F", dtBoolean));
  EXPECT_EQ(RaisedCode([&] { CreateDataHeader({}, many, kContext); }), TARN_FLDLIMIT);
}

TEST(DataHeaderCounters, RecordIdAndSignatureWrapToOne) {
  TDataHeader header = CreateDataHeader({}, {}, kContext);
  header.HeaderChanged = 0;
  EXPECT_EQ(GetNextFreeRecordID(header), 1);
  EXPECT_EQ(header.HeaderChanged, 1);
  SetNextFreeRecordID(header, 2147483646);
  EXPECT_EQ(GetNextFreeRecordID(header), 2147483647);
  EXPECT_EQ(GetNextFreeRecordID(header), 1);
  header.LastBlobSignature = 2147483647;
  EXPECT_EQ(GetNextFreeBlobSignature(header), 1);
  EXPECT_EQ(GetNextFreeBlobSignature(header), 2);
  header.LastRecordID = -40;  // damaged counter: never hands out a negative ID
  EXPECT_EQ(GetNextFreeRecordID(header), 1);
}

TEST(DataHeaderCounters, WriteStampWrapsAndClearResetsCounters) {
  TDataHeader header = CreateDataHeader({}, {}, kContext);
  header.LastUpdateStamp = 2147483647;
  PrepareDataHeaderWrite(header, 0);
  EXPECT_EQ(header.LastUpdateStamp, -2147483647 - 1);
  header.NextRecordNumber = 50;
  header.NextFreeRecordNumber = 7;
  header.LastRecordID = 70;
  ClearDataHeaderCounters(header);
  EXPECT_EQ(header.LastUpdateStamp, 0);
  EXPECT_EQ(header.NextRecordNumber, 1);
  EXPECT_EQ(header.NextFreeRecordNumber, 0);
  EXPECT_EQ(header.LastRecordID, 0);
}

// The stamp counts through the whole 32-bit range of its int32 field, and every
// header write of the three files advances it the same way.
TEST(UpdateStamps, WrapAtTheEndsOfTheStoredType) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {0, 1}, {INT32_MAX - 1, INT32_MAX}, {INT32_MAX, INT32_MIN}, {INT32_MIN, INT32_MIN + 1}, {-1, 0}};
  for (const auto& [stamp, next] : cases) {
    SCOPED_TRACE(stamp);
    EXPECT_EQ(NextUpdateStamp(stamp), next);
    TDataHeader data = CreateDataHeader({}, {}, kContext);
    TIndexHeader index = CreateIndexHeader();
    TBlobHeader blob = CreateBlobHeader();
    data.LastUpdateStamp = index.LastUpdateStamp = blob.LastUpdateStamp = stamp;
    PrepareDataHeaderWrite(data, 0);
    PrepareIndexHeaderWrite(index);
    PrepareBlobHeaderWrite(blob);
    EXPECT_EQ(data.LastUpdateStamp, next);
    EXPECT_EQ(index.LastUpdateStamp, next);
    EXPECT_EQ(blob.LastUpdateStamp, next);
  }
}

TEST(DataHeaderUpdate, ReplacesPasswordDescriptionAndVersions) {
  TDataHeaderParams params;
  params.Encrypted = true;
  params.Password = "old";
  TDataHeader header = CreateDataHeader(params, {}, kContext);
  UpdateDataHeader(header, "new", "described", 12, 2, 3);
  EXPECT_EQ(GetHeaderPassword(header), "new");
  EXPECT_EQ(GetHeaderDescription(header), "described");
  EXPECT_EQ(header.LastRecordID, 12);
  TDataHeader plain = CreateDataHeader({}, {}, kContext);
  UpdateDataHeader(plain, "ignored", "text", 0, 1, 0);
  EXPECT_EQ(GetHeaderPassword(plain), "");
  EXPECT_EQ(plain.Description.View(), "text");
}

TEST(IndexDefinitions, AddingIndexesRaisesTheDefinitionErrors) {
  const auto fields = testing::QuotaFields();
  TIndexHeader header = CreateIndexHeader();
  TIndexDefinition tooMany = MakeIndex("", {1}, fields, true);
  tooMany.KeyFieldCount = 17;
  EXPECT_EQ(RaisedCode([&] { AddPrimaryIndex(header, tooMany, fields, kContext); }), TARN_INDEXLIMIT);
  TIndexDefinition blobKey = MakeIndex("", {1}, fields, true);
  blobKey.KeyFields[0] = 4;
  try {
    AddPrimaryIndex(header, blobKey, fields, kContext);
    FAIL();
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_SEARCHCOLREQD);
    EXPECT_EQ(e.ErrorFieldName(), "NOTE");
  }
  AddPrimaryIndex(header, MakeIndex("ignored", {1}, fields, false), fields, kContext);
  EXPECT_EQ(header.Slots[0].Name.Length, 0);
  EXPECT_EQ(header.Slots[0].Unique, 1);
  EXPECT_EQ(RaisedCode([&] { AddPrimaryIndex(header, MakeIndex("", {2}, fields, true), fields, kContext); }),
            TARN_PRIMARYKEYREDEFINE);

  struct Case {
    const char* name;
    TarnErrorCode expected;
  } cases[] = {{"ByName", 0}, {"  ", TARN_INDEXNAMEREQUIRED}, {"9x", TARN_INVALIDINDEXNAME},
               {" byname ", TARN_INDEXEXISTS}, {"_second", 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(RaisedCode([&] { AddSecondaryIndex(header, MakeIndex(c.name, {2}, fields, false), fields, kContext); }),
              c.expected)
        << c.name;
  }
  EXPECT_EQ(header.IndexCount, 2);
  EXPECT_TRUE(IndexExists(header, "BYNAME"));
  EXPECT_FALSE(IndexExists(header, "Other"));
  for (int i = 3; i <= 30; ++i) AddSecondaryIndex(header, MakeIndex("I" + std::to_string(i), {3}, fields, false), fields, kContext);
  EXPECT_EQ(RaisedCode([&] { AddSecondaryIndex(header, MakeIndex("Last", {3}, fields, false), fields, kContext); }),
            TARN_INDEXLIMIT);
}

TEST(IndexDefinitions, DeleteIndexMovesSlotsAndParksTheRemovedDefinition) {
  const auto fields = testing::QuotaFields();
  TIndexHeader header = CreateIndexHeader();
  AddPrimaryIndex(header, MakeIndex("", {1}, fields, true), fields, kContext);
  for (const char* name : {"A", "B", "C"}) AddSecondaryIndex(header, MakeIndex(name, {2}, fields, false), fields, kContext);
  header.NextPageNumber = 20;
  header.Slots[1].NextFreePageNumber = 11;
  header.Slots[4].NextFreePageNumber = 19;  // an earlier removed index parked here
  DeleteIndex(header, 1, true);
  EXPECT_EQ(header.IndexCount, 2);
  EXPECT_EQ(header.Slots[1].Name.View(), "B");
  EXPECT_EQ(header.Slots[2].Name.View(), "C");
  EXPECT_EQ(header.Slots[3].Name.View(), "A");
  EXPECT_EQ(header.Slots[3].NextFreePageNumber, 11);
  EXPECT_EQ(header.Slots[4].NextFreePageNumber, 19);  // not overwritten or duplicated
  // A new index takes the parked slot with its free-page list, root page 0.
  header.Slots[3].RootPageNumber = 7;
  AddSecondaryIndex(header, MakeIndex("D", {3}, fields, false), fields, kContext);
  EXPECT_EQ(header.Slots[3].Name.View(), "D");
  EXPECT_EQ(header.Slots[3].RootPageNumber, 0);
  EXPECT_EQ(header.Slots[3].NextFreePageNumber, 11);
  DeleteIndex(header, 0, false);
  EXPECT_EQ(header.NoPrimaryIndex, 1);
}

TEST(IndexDefinitions, SetAndUpdateKeepWhatTheyMust) {
  const auto fields = testing::QuotaFields();
  TIndexHeader header = CreateIndexHeader();
  TIndexDefinition& slot = header.Slots[5];
  slot.RootPageNumber = 3;
  slot.NextFreePageNumber = 4;
  slot.DataRootPageNumber = 6;
  slot.Reserved1 = 9;
  slot.Reserved2.fill(9);
  TIndexDefinition def = MakeIndex("Words", {2}, fields, false);
  def.Reserved2.fill(1);
  SetIndexDefinition(header, 5, def);
  EXPECT_EQ(slot.RootPageNumber, 0);
  EXPECT_EQ(slot.NextFreePageNumber, 4);
  EXPECT_EQ(slot.DataRootPageNumber, 6);
  EXPECT_EQ(slot.Reserved1, 0);
  EXPECT_EQ(slot.Reserved2, (std::array<std::uint8_t, 20>{}));
  EXPECT_EQ(slot.KeySize, def.KeySize);
  TIndexDefinition renamed = MakeIndex("Renamed", {3}, fields, true);
  UpdateIndexDefinition(header, 5, renamed);
  EXPECT_EQ(slot.Name.View(), "Renamed");
  EXPECT_EQ(slot.KeyFields[0], 3);
  EXPECT_EQ(slot.KeySize, def.KeySize);  // only name and key fields change
  EXPECT_EQ(slot.Unique, 0);
}

TEST(HeaderClearing, IndexAndBlobCountersReset) {
  TIndexHeader index = CreateIndexHeader();
  index.NextPageNumber = 40;
  index.ActualRecordCount = 12;
  for (std::size_t s : {std::size_t{0}, std::size_t{7}, std::size_t{31}, std::size_t{32}}) {
    index.Slots[s].RootPageNumber = 5;
    index.Slots[s].NextFreePageNumber = 6;
    index.Slots[s].DataRootPageNumber = 7;
  }
  ClearIndexHeaderCounters(index);
  EXPECT_EQ(index.NextPageNumber, 1);
  EXPECT_EQ(GetPhysicalPagesUsed(index), 0);
  EXPECT_EQ(GetIndexFileSize(index), 4096u);
  for (const TIndexDefinition& slot : index.Slots) {
    EXPECT_EQ(slot.RootPageNumber | slot.NextFreePageNumber | slot.DataRootPageNumber, 0);
  }
  EXPECT_EQ(index.Slots[31].KeySize, 5);  // definitions stay

  TBlobHeader blob = CreateBlobHeader();
  blob.NextBlockNumber = 9;
  blob.NextFreeBlockNumber = 3;
  EXPECT_TRUE(CheckBlockNumber(blob, 8));
  EXPECT_FALSE(CheckBlockNumber(blob, 9));
  EXPECT_EQ(GetBlobFileSize(blob, 1024), 512u + 8u * 1024u);
  ClearBlobHeaderCounters(blob);
  EXPECT_EQ(blob.NextBlockNumber, 1);
  EXPECT_EQ(blob.NextFreeBlockNumber, 0);
  EXPECT_FALSE(CheckBlockNumber(blob, 1));
}

}  // namespace
}  // namespace tarn
