// Scrambling and the round trip of scrambled headers and definitions.
#include <gtest/gtest.h>

#include <numeric>

#include "format_fixtures.h"
#include "storage/formats/blob_header.h"
#include "storage/formats/check_header.h"
#include "storage/formats/scrambling.h"

namespace tarn {
namespace {

using testing::kContext;

TEST(Scrambling, XorsWithRisingAndFallingSeeds) {
  std::array<std::uint8_t, 4> bytes{0x00, 0x00, 0xFF, 0x10};
  EncryptBuffer(bytes.data(), bytes.size(), TScrambleSeeds{0xFE, 0x01});
  // r: FE FF 00 01; f: 01 00 FF FE.
  EXPECT_EQ(bytes[0], 0x00 ^ 0xFE ^ 0x01);
  EXPECT_EQ(bytes[1], 0x00 ^ 0xFF ^ 0x00);
  EXPECT_EQ(bytes[2], 0xFF ^ 0x00 ^ 0xFF);
  EXPECT_EQ(bytes[3], 0x10 ^ 0x01 ^ 0xFE);
  DecryptBuffer(bytes.data(), bytes.size(), TScrambleSeeds{0xFE, 0x01});
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 4>{0x00, 0x00, 0xFF, 0x10}));
}

TEST(Scrambling, LengthMultipleOf65536IsLeftUnchanged) {
  for (std::size_t length : {std::size_t{65536}, std::size_t{131072}}) {
    std::vector<std::uint8_t> bytes(length);
    std::iota(bytes.begin(), bytes.end(), 0);
    const auto original = bytes;
    EncryptBuffer(bytes.data(), bytes.size(), kRecordSeeds);
    EXPECT_EQ(bytes, original) << length;
  }
  std::vector<std::uint8_t> bytes(65537, 0);
  EncryptBuffer(bytes.data(), bytes.size(), kRecordSeeds);
  EXPECT_NE(bytes[65536], 0);  // the whole length is scrambled otherwise
}

TEST(ScrambledRoundTrip, DefinitionsHeadersAndBlockHeadersComeBack) {
  auto fields = testing::QuotaFields();
  fields[1].DefaultValue.Assign("'NOBODY'");
  for (const bool encrypted : {false, true}) {
    const auto area = WriteFieldDefinitions(fields, encrypted);
    if (encrypted) {
      EXPECT_NE(area[2], 2) << "name length byte is scrambled";
    }
    const auto back = ReadFieldDefinitions(area, encrypted);
    ASSERT_EQ(back.size(), fields.size());
    EXPECT_EQ(WriteFieldDefinitions(back, false), WriteFieldDefinitions(fields, false));
    EXPECT_EQ(back[1].DefaultValue.View(), "'NOBODY'");
    EXPECT_EQ(back[4].PhysicalSize, 34);

    TIndexHeader index = CreateIndexHeader();
    AddSecondaryIndex(index, testing::MakeIndex("ByLimit", {3}, fields, false), fields, kContext);
    index.NextPageNumber = 9;
    index.Slots[1].RootPageNumber = 8;
    const auto indexBytes = IndexHeaderBytes(index, encrypted);
    EXPECT_EQ(indexBytes[8] == 5, !encrypted);
    const TIndexHeader indexBack = ReadIndexHeader(indexBytes, encrypted);
    EXPECT_EQ(indexBack.Slots[1].Name.View(), "ByLimit");
    EXPECT_EQ(indexBack.Slots[1].RootPageNumber, 8);
    EXPECT_EQ(indexBack.HeaderChanged, 0);  // cleared by every read

    TBlobHeader blob = CreateBlobHeader();
    blob.NextBlockNumber = 4;
    blob.NextFreeBlockNumber = 2;
    const TBlobHeader blobBack = ReadBlobHeader(BlobHeaderBytes(blob, encrypted), encrypted);
    EXPECT_EQ(blobBack.NextFreeBlockNumber, 2);
    EXPECT_EQ(blobBack.NextBlockNumber, 4);

    const TBlockHeader block{1, 3, 200, -5, 4000};
    const TBlockHeader blockBack = ReadBlockHeader(BlockHeaderBytes(block, encrypted), encrypted);
    EXPECT_EQ(blockBack.NextBlock, 3);
    EXPECT_EQ(blockBack.Signature, -5);
  }
}

TEST(ScrambledRoundTrip, EncryptedTableImagePassesTheChecks) {
  auto fields = testing::QuotaFields();
  TDataHeaderParams params;
  params.Encrypted = true;
  params.Password = "pw";
  params.Description = "quota table";
  TDataHeader header = CreateDataHeader(params, fields, kContext);
  const auto headerBytes = DataHeaderBytes(header);
  const auto area = WriteFieldDefinitions(fields, true);
  std::vector<std::uint8_t> file(headerBytes.begin(), headerBytes.end());
  file.insert(file.end(), area.begin(), area.end());
  const TDataFileImage image = CheckDataFileImage(file, kContext);
  EXPECT_EQ(GetHeaderPassword(image.Header), "pw");
  EXPECT_EQ(GetHeaderDescription(image.Header), "quota table");
  ASSERT_EQ(image.Fields.size(), fields.size());
  EXPECT_EQ(image.Fields[1].Name.View(), "NAME");
}

TEST(ScrambledRoundTrip, TwoHundredFiftySixFieldsAreStoredUnscrambled) {
  std::vector<TFieldDefinition> fields;
  for (int i = 0; i < 256; ++i) fields.push_back(testing::MakeField("F" + std::to_string(i), dtInteger));
  testing::LayOut(fields);
  TDataHeaderParams params;
  params.Encrypted = true;
  params.Password = "pw";
  const TDataHeader header = CreateDataHeader(params, fields, kContext);
  const auto area = WriteFieldDefinitions(fields, true);
  ASSERT_EQ(area.size(), 65536u * 3u);
  EXPECT_EQ(area[2], 2);  // "F0" in plain text
  EXPECT_EQ(area[3], 'F');
  const auto headerBytes = DataHeaderBytes(header);
  std::vector<std::uint8_t> file(headerBytes.begin(), headerBytes.end());
  file.insert(file.end(), area.begin(), area.end());
  const TDataFileImage image = CheckDataFileImage(file, kContext);
  EXPECT_EQ(image.Fields[255].Name.View(), "F255");
}

}  // namespace
}  // namespace tarn
