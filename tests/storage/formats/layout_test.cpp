// Byte layout of freshly written headers, definitions and records.
#include <gtest/gtest.h>

#include <cstring>

#include "format_fixtures.h"
#include "storage/formats/blob_header.h"
#include "storage/btree/page_header.h"
#include "storage/formats/scrambling.h"

namespace tarn {
namespace {

using testing::kContext;
using testing::QuotaFields;

std::int32_t I32(const std::uint8_t* p) { std::int32_t v; std::memcpy(&v, p, 4); return v; }
std::uint16_t U16(const std::uint8_t* p) { std::uint16_t v; std::memcpy(&v, p, 2); return v; }

TEST(DataHeaderLayout, FreshHeaderBytesSitAtTheirOffsets) {
  auto fields = QuotaFields();
  TDataHeaderParams params;
  params.LanguageID = 0x0804;
  params.SortID = 1;
  params.UserMajorVersion = 3;
  params.UserMinorVersion = 7;
  params.Description = "print quota";
  params.BlobBlockSize = 1024;
  TDataHeader header = CreateDataHeader(params, fields, kContext);
  header.Reserved2 = {0xAA, 0xBB, 0xCC};   // bytes of another writer, preserved
  header.Reserved1 = {1, 2, 3, 4};         // working bytes, zeroed by a write
  GetNextFreeRecordID(header);
  GetNextFreeBlobSignature(header);
  PrepareDataHeaderWrite(header, 45000.5);
  const auto b = DataHeaderBytes(header);

  EXPECT_EQ(I32(&b[0]), 1);       // stamp raised by the write
  EXPECT_EQ(I32(&b[4]), 1024);
  EXPECT_EQ(b[8], 5);
  EXPECT_EQ(I32(&b[9]), 0);
  EXPECT_EQ(I32(&b[13]), 1);
  EXPECT_EQ(I32(&b[17]), 1);
  // 9 + NAME 22 + LIMIT 5 + NOTE 9 + PRICE 35; the auto-increment adds nothing.
  EXPECT_EQ(U16(&b[21]), 80);
  EXPECT_EQ(U16(&b[23]), 5);
  EXPECT_EQ(U16(&b[25]), 1);
  double stored;
  std::memcpy(&stored, &b[27], 8);
  EXPECT_DOUBLE_EQ(stored, 45000.5 - 693594.0);
  EXPECT_DOUBLE_EQ(GetHeaderLastUpdated(header), 45000.5);
  EXPECT_EQ(b[35], 11);
  EXPECT_EQ(std::memcmp(&b[36], "print quota", 11), 0);
  for (int i = 36 + 11; i < 86; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(b[86], 0);
  EXPECT_EQ(b[87], 0);  // no password when not encrypted
  EXPECT_EQ(U16(&b[103]), 0x0804);
  EXPECT_EQ(U16(&b[105]), 1);
  EXPECT_EQ(U16(&b[107]), 3);
  EXPECT_EQ(U16(&b[109]), 7);
  EXPECT_EQ(I32(&b[112]), 1);
  EXPECT_EQ(I32(&b[116]), 30800);
  for (int i = 120; i < 124; ++i) EXPECT_EQ(b[i], 0);
  EXPECT_EQ(b[124], 0xAA);
  EXPECT_EQ(b[125], 0xBB);
  EXPECT_EQ(b[126], 0xCC);
}

TEST(DataHeaderLayout, EncryptedPasswordAndDescriptionAreScrambledWithNameSeeds) {
  TDataHeaderParams params;
  params.Encrypted = true;
  params.Password = "a-very-long-password";  // cut to 15
  params.Description = "secret";
  const TDataHeader header = CreateDataHeader(params, {}, kContext);
  const auto b = DataHeaderBytes(header);
  EXPECT_EQ(b[86], 1);
  EXPECT_EQ(b[87], 15);
  std::string chars(reinterpret_cast<const char*>(&b[88]), 15);
  EXPECT_NE(chars, "a-very-long-pas");
  DecryptBuffer(chars.data(), chars.size(), kNameSeeds);
  EXPECT_EQ(chars, "a-very-long-pas");
  EXPECT_EQ(GetHeaderPassword(header), "a-very-long-pas");
  EXPECT_EQ(GetHeaderDescription(header), "secret");
  EXPECT_EQ(b[35], 6);
  EXPECT_NE(std::memcmp(&b[36], "secret", 6), 0);
}

TEST(DataHeaderLayout, NoFieldsGiveRecordSizeNineAndA127ByteFixedPart) {
  const TDataHeader header = CreateDataHeader({}, {}, kContext);
  EXPECT_EQ(header.RecordSize, 9);
  EXPECT_EQ(DataFixedPartSize(0), 127u);
}

TEST(FieldDefinitionLayout, StoredImageCarriesFieldsAndZeroWorkingArea) {
  auto fields = QuotaFields();
  fields[1].Required = 1;
  fields[1].CharCase = fcUpperCase;
  fields[1].DefaultValue.Assign("'X'");
  fields[1].MinValue.Assign("'A'");
  fields[1].MaxValue.Assign("'Z'");
  fields[1].Description.Assign("user name");
  fields[1].Computed = 1;
  // Run-time data of a cursor.
  fields[1].Working.SortDescending = true;
  fields[1].Working.OriginName.Assign("QUOTA.NAME");
  fields[1].Working.SourceFieldNumber = 2;
  const auto area = WriteFieldDefinitions(fields, false);
  ASSERT_EQ(area.size(), 5u * 768u);
  const std::uint8_t* d = area.data() + 768;
  EXPECT_EQ(U16(d + 0), 2);
  EXPECT_EQ(d[2], 4);
  EXPECT_EQ(std::memcmp(d + 3, "NAME", 4), 0);
  EXPECT_EQ(d[33], 9);
  EXPECT_EQ(d[84], dtString);
  EXPECT_EQ(d[85], 0);
  EXPECT_EQ(d[86], 20);
  EXPECT_EQ(d[88], 21);
  EXPECT_EQ(U16(d + 90), 9);
  EXPECT_EQ(d[92], 1);
  EXPECT_EQ(d[93], fcUpperCase);
  EXPECT_EQ(d[94], 3);
  EXPECT_EQ(std::memcmp(d + 95, "'A'", 3), 0);
  EXPECT_EQ(std::memcmp(d + 146, "'Z'", 3), 0);
  EXPECT_EQ(std::memcmp(d + 197, "'X'", 3), 0);
  for (std::size_t i = 247; i < 768; ++i) ASSERT_EQ(d[i], 0) << i;
  // A definition read back carries no run-time data.
  const TFieldDefinition back = ReadFieldDefinition(d);
  EXPECT_EQ(back.Name.View(), "NAME");
  EXPECT_EQ(back.Computed, 0);
  EXPECT_EQ(back.Working.Expression, nullptr);
  EXPECT_FALSE(back.Working.SortDescending);
  EXPECT_EQ(back.Working.OriginName.View(), "");
  EXPECT_EQ(back.Working.SourceFieldNumber, 0);
  // A copy, as a cursor's logical definitions are, keeps it.
  const TFieldDefinition copy = fields[1];
  EXPECT_EQ(copy.Working.OriginName.View(), "QUOTA.NAME");
  EXPECT_EQ(copy.Working.SourceFieldNumber, 2);
  // The auto-increment field reads the record ID.
  EXPECT_EQ(U16(area.data() + 90), 5);
  // LIMIT follows NAME: 9 + 22.
  EXPECT_EQ(U16(area.data() + 2 * 768 + 90), 31);
  // BCD: 34 bytes, indexed as 8.
  EXPECT_EQ(area[4 * 768 + 88], 34);
  EXPECT_EQ(GetIndexedSize(fields[4]), 8);
}

TEST(IndexHeaderLayout, NewHeaderHasFixedSlotsAndZeroReservedBytes) {
  auto fields = QuotaFields();
  TIndexHeader header = CreateIndexHeader();
  AddPrimaryIndex(header, testing::MakeIndex("", {1}, fields, true), fields, kContext);
  AddSecondaryIndex(header, testing::MakeIndex("ByName", {2, 3}, fields, false), fields, kContext);
  PrepareIndexHeaderWrite(header);
  const auto b = IndexHeaderBytes(header, false);
  EXPECT_EQ(I32(&b[0]), 1);
  EXPECT_EQ(b[8], 5);
  EXPECT_EQ(I32(&b[9]), 1);
  EXPECT_EQ(b[13], 1);
  const std::uint8_t* s0 = &b[14];
  EXPECT_EQ(s0[0], 0);                // primary: no name
  EXPECT_EQ(U16(s0 + 31), 5);         // integer key: 4 + 1
  EXPECT_EQ(s0[35], 1);               // unique
  EXPECT_EQ(s0[37], 1);
  EXPECT_EQ(U16(s0 + 54), 1);
  const std::uint8_t* s1 = &b[14 + 120];
  EXPECT_EQ(s1[0], 6);
  EXPECT_EQ(std::memcmp(s1 + 1, "ByName", 6), 0);
  EXPECT_EQ(U16(s1 + 31), 22 + 5 + 4);
  EXPECT_EQ(s1[37], 2);
  EXPECT_EQ(U16(s1 + 54), 2);
  EXPECT_EQ(U16(s1 + 56), 3);
  const std::uint8_t* s31 = &b[14 + 31 * 120];
  EXPECT_EQ(s31[0], 11);
  EXPECT_EQ(std::memcmp(s31 + 1, "Sys Deleted", 11), 0);
  EXPECT_EQ(U16(s31 + 31), 5);
  EXPECT_EQ(s31[36], icNone);
  const std::uint8_t* s32 = &b[14 + 32 * 120];
  EXPECT_EQ(std::memcmp(s32 + 1, "Sys Text", 8), 0);
  EXPECT_EQ(U16(s32 + 31), 68);
  EXPECT_EQ(s32[36], icFull);
  EXPECT_EQ(I32(&b[3974]), 0);
  EXPECT_EQ(b[3978], 0);
  EXPECT_EQ(b[3979], 1);
  for (std::size_t i = 3980; i < 4096; ++i) ASSERT_EQ(b[i], 0);
}

TEST(BlobHeaderLayout, NewHeaderAndBlockHeaderBytes) {
  TBlobHeader header = CreateBlobHeader();
  PrepareBlobHeaderWrite(header);
  const auto b = BlobHeaderBytes(header, false);
  EXPECT_EQ(I32(&b[0]), 1);
  EXPECT_EQ(I32(&b[4]), 0);
  EXPECT_EQ(b[8], 5);
  EXPECT_EQ(I32(&b[9]), 0);
  EXPECT_EQ(I32(&b[13]), 1);
  for (std::size_t i = 18; i < 512; ++i) ASSERT_EQ(b[i], 0);

  const TBlockHeader block{7, 9, 494, 42, 100000};
  const auto h = BlockHeaderBytes(block, false);
  EXPECT_EQ(I32(&h[0]), 7);
  EXPECT_EQ(I32(&h[4]), 9);
  EXPECT_EQ(U16(&h[8]), 494);
  EXPECT_EQ(I32(&h[10]), 42);
  EXPECT_EQ(I32(&h[14]), 100000);
  EXPECT_EQ(BlockPosition(1, 1024), 512u);
  EXPECT_EQ(BlockPosition(3, 1024), 512u + 2048u);
}

TEST(PageHeaderLayout, HeaderFieldsAndPositions) {
  std::array<std::uint8_t, kPageSize> page{};
  WritePageHeader(page, TPageHeader{2, 17, 4, 6, 4000});
  EXPECT_EQ(page[0], 2);
  EXPECT_EQ(U16(&page[1]), 17);
  EXPECT_EQ(I32(&page[3]), 4);
  EXPECT_EQ(I32(&page[7]), 6);
  EXPECT_EQ(U16(&page[11]), 4000);
  const TPageHeader back = ReadPageHeader(page);
  EXPECT_EQ(back.EntryCount, 17);
  EXPECT_EQ(PagePosition(3), 3u * 4096u);
}

TEST(RecordLayout, RecordPositionsAndHeader) {
  EXPECT_EQ(RecordPosition(1, 0, 9), 127u);
  EXPECT_EQ(RecordPosition(3, 2, 31), 127u + 1536u + 62u);
  std::vector<std::uint8_t> record(31, 0);
  SetRecordHeader(record, kRecordLive, 12, 99);
  EXPECT_FALSE(RecordIsDeleted(record));
  EXPECT_EQ(RecordNumberOf(record), 12);
  EXPECT_EQ(RecordIdOf(record), 99);
  EXPECT_EQ(record[1], 12);
  EXPECT_EQ(record[5], 99);
  StoreBlobReference(record.data() + 10, TBlobReference{5, 77});
  EXPECT_EQ(LoadBlobReference(record.data() + 10).Signature, 77);
  EXPECT_EQ(record[14], 77);
}

// Any stored image read and written again comes back byte for byte, except
// the bytes the engine owns: the header changed flag (cleared by a read) and
// the computed flag and working area of a definition (always zero).
TEST(ImageRoundTrip, StoredBytesArePreserved) {
  std::vector<std::uint8_t> noise(4096);
  std::uint32_t x = 12345;
  for (auto& b : noise) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  std::array<std::uint8_t, kDataHeaderSize> data;
  std::copy_n(noise.begin(), data.size(), data.begin());
  auto dataBack = DataHeaderBytes(ReadDataHeader(data));
  EXPECT_EQ(dataBack[111], 0);
  dataBack[111] = data[111];
  EXPECT_EQ(dataBack, data);

  std::array<std::uint8_t, kIndexHeaderSize> index;
  std::copy_n(noise.begin(), index.size(), index.begin());
  for (const bool encrypted : {false, true}) {
    auto indexBack = IndexHeaderBytes(ReadIndexHeader(index, encrypted), encrypted);
    if (!encrypted) {
      EXPECT_EQ(indexBack[3979], 0);
    }
    const auto plainBack = ReadIndexHeader(indexBack, encrypted);
    const auto plainOriginal = ReadIndexHeader(index, encrypted);
    EXPECT_EQ(IndexHeaderBytes(plainBack, false), IndexHeaderBytes(plainOriginal, false));
  }
  auto indexBack = IndexHeaderBytes(ReadIndexHeader(index, false), false);
  indexBack[3979] = index[3979];
  EXPECT_EQ(indexBack, index);

  std::array<std::uint8_t, kBlobHeaderSize> blob;
  std::copy_n(noise.begin(), blob.size(), blob.begin());
  auto blobBack = BlobHeaderBytes(ReadBlobHeader(blob, false), false);
  blobBack[17] = blob[17];
  EXPECT_EQ(blobBack, blob);

  const std::span<const std::uint8_t> area(noise.data(), 2 * kFieldDefinitionSize);
  const auto defsBack = WriteFieldDefinitions(ReadFieldDefinitions(area, false), false);
  for (std::size_t i = 0; i < defsBack.size(); ++i) {
    const bool engineOwned = i % kFieldDefinitionSize >= 247;
    EXPECT_EQ(defsBack[i], engineOwned ? 0 : area[i]) << i;
  }
}

}  // namespace
}  // namespace tarn
