// Acceptance of data, index and BLOB headers, including hostile and damaged ones.
#include <gtest/gtest.h>

#include <cstring>

#include "format_fixtures.h"
#include "storage/formats/check_header.h"

namespace tarn {
namespace {

using testing::kContext;
using testing::RaisedCode;

// A valid data file image of the quota table with `records` zeroed records.
std::vector<std::uint8_t> DataFile(const TDataHeader& header, const std::vector<TFieldDefinition>& fields,
                                   std::size_t extraBytes = 0) {
  const auto headerBytes = DataHeaderBytes(header);
  const auto area = WriteFieldDefinitions(fields, header.Encrypted != 0);
  std::vector<std::uint8_t> file(headerBytes.size() + area.size() + extraBytes, 0);
  std::copy(headerBytes.begin(), headerBytes.end(), file.begin());
  std::copy(area.begin(), area.end(), file.begin() + static_cast<std::ptrdiff_t>(headerBytes.size()));
  return file;
}

struct DataCase {
  const char* name;
  std::function<void(TDataHeader&, std::vector<TFieldDefinition>&)> damage;
  std::size_t extraBytes;
  TarnErrorCode expected;
};

TEST(CheckDataHeader, HostileAndDamagedHeaders) {
  const DataCase cases[] = {
      {"valid", [](TDataHeader&, auto&) {}, 0, 0},
      {"valid with two records",
       [](TDataHeader& h, auto&) { h.NextRecordNumber = 3; h.NextFreeRecordNumber = 2; }, 160, 0},
      {"version 4", [](TDataHeader& h, auto&) { h.VersionNum = 4; }, 0, TARN_OLDVERSION},
      {"field count 1025", [](TDataHeader& h, auto&) { h.FieldCount = 1025; }, 0, TARN_HEADERCORRUPT},
      {"field count 65535", [](TDataHeader& h, auto&) { h.FieldCount = 65535; }, 0, TARN_HEADERCORRUPT},
      {"field count above the definitions", [](TDataHeader& h, auto&) { h.FieldCount = 6; }, 0,
       TARN_HEADERCORRUPT},
      {"description length 200", [](TDataHeader& h, auto&) { h.Description.Length = 200; }, 0,
       TARN_HEADERCORRUPT},
      {"password length 16", [](TDataHeader& h, auto&) { h.Password.Length = 16; }, 0, TARN_HEADERCORRUPT},
      {"record size too small", [](TDataHeader& h, auto&) { h.RecordSize = 79; }, 0, TARN_HEADERCORRUPT},
      {"record size huge", [](TDataHeader& h, auto&) { h.RecordSize = 65535; }, 0, TARN_HEADERCORRUPT},
      {"record size zero", [](TDataHeader& h, auto&) { h.RecordSize = 0; }, 80, TARN_HEADERCORRUPT},
      {"negative next record number", [](TDataHeader& h, auto&) { h.NextRecordNumber = -1; }, 0,
       TARN_HEADERCORRUPT},
      {"next record number beyond the file", [](TDataHeader& h, auto&) { h.NextRecordNumber = 5; }, 160,
       TARN_HEADERCORRUPT},
      {"records counted in a file that ends with its definitions",
       [](TDataHeader& h, auto&) { h.NextRecordNumber = 3; }, 0, TARN_HEADERCORRUPT},
      {"bytes of an interrupted append past the records", [](TDataHeader&, auto&) {}, 81, 0},
      {"whole records past the header's count", [](TDataHeader& h, auto&) { h.NextRecordNumber = 2; }, 240, 0},
      {"free head beyond the records",
       [](TDataHeader& h, auto&) { h.NextRecordNumber = 3; h.NextFreeRecordNumber = 3; }, 160, TARN_HEADERCORRUPT},
      {"negative free head", [](TDataHeader& h, auto&) { h.NextFreeRecordNumber = -7; }, 0, TARN_HEADERCORRUPT},
      {"BLOB block size negative", [](TDataHeader& h, auto&) { h.BlobBlockSize = -512; }, 0, TARN_HEADERCORRUPT},
      {"BLOB block size 63", [](TDataHeader& h, auto&) { h.BlobBlockSize = 63; }, 0, TARN_HEADERCORRUPT},
      {"BLOB block size 0 means 512", [](TDataHeader& h, auto&) { h.BlobBlockSize = 0; }, 0, 0},
      {"BLOB field count wrong", [](TDataHeader& h, auto&) { h.BlobFieldCount = 2; }, 0, TARN_HEADERCORRUPT},
      {"name length byte 255", [](TDataHeader&, auto& f) { f[1].Name.Length = 255; }, 0, TARN_HEADERCORRUPT},
      {"empty name", [](TDataHeader&, auto& f) { f[1].Name.Clear(); }, 0, TARN_HEADERCORRUPT},
      {"name starting with a digit", [](TDataHeader&, auto& f) { f[1].Name.Assign("1NAME"); }, 0,
       TARN_HEADERCORRUPT},
      {"duplicate name ignoring case", [](TDataHeader&, auto& f) { f[2].Name.Assign("name "); }, 0,
       TARN_HEADERCORRUPT},
      {"field number out of place", [](TDataHeader&, auto& f) { f[2].FieldNumber = 2; }, 0, TARN_HEADERCORRUPT},
      {"data type 0", [](TDataHeader&, auto& f) { f[2].DataType = 0; }, 0, TARN_HEADERCORRUPT},
      {"string size 251", [](TDataHeader&, auto& f) { f[1].Size = 251; }, 0, TARN_HEADERCORRUPT},
      {"integer with a size", [](TDataHeader&, auto& f) { f[2].Size = 4; }, 0, TARN_HEADERCORRUPT},
      {"decimals on an integer", [](TDataHeader&, auto& f) { f[2].Decimals = 2; }, 0, TARN_HEADERCORRUPT},
      {"default text length 51", [](TDataHeader&, auto& f) { f[2].DefaultValue.Length = 51; }, 0,
       TARN_HEADERCORRUPT},
      {"field offset shifted", [](TDataHeader&, auto& f) { f[2].FieldOffset = 32; }, 0, TARN_HEADERCORRUPT},
      {"field offset far beyond the record", [](TDataHeader&, auto& f) { f[4].FieldOffset = 60000; }, 0,
       TARN_HEADERCORRUPT},
      {"auto-increment offset not 5", [](TDataHeader&, auto& f) { f[0].FieldOffset = 9; }, 0,
       TARN_HEADERCORRUPT},
  };
  for (const DataCase& c : cases) {
    auto fields = testing::QuotaFields();
    TDataHeader header = CreateDataHeader({}, fields, kContext);
    c.damage(header, fields);
    const auto file = DataFile(header, fields, c.extraBytes);
    EXPECT_EQ(RaisedCode([&] { CheckDataFileImage(file, kContext); }), c.expected) << c.name;
  }
}

TEST(CheckDataHeader, ShortFilesAreCorrupt) {
  auto fields = testing::QuotaFields();
  const auto file = DataFile(CreateDataHeader({}, fields, kContext), fields);
  for (std::size_t size : {std::size_t{0}, std::size_t{126}, std::size_t{127}, file.size() - 1}) {
    const std::span<const std::uint8_t> part(file.data(), size);
    EXPECT_EQ(RaisedCode([&] { CheckDataFileImage(part, kContext); }), TARN_HEADERCORRUPT) << size;
  }
}

TEST(CheckDataHeader, ErrorsCarryTableAndDirectory) {
  auto fields = testing::QuotaFields();
  TDataHeader header = CreateDataHeader({}, fields, kContext);
  header.VersionNum = 3;
  try {
    CheckDataHeader(header, fields, DataFixedPartSize(fields.size()), kContext);
    FAIL() << "no error";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_OLDVERSION);
    EXPECT_EQ(e.ErrorTableName(), "quota");
    EXPECT_EQ(e.ErrorDatabaseName(), "/data/");
  }
}

bool RejectQuotes(std::string_view text, std::uint8_t) { return text.find('\'') == std::string_view::npos; }
bool NoLocales(std::uint16_t, std::uint16_t) { return false; }

TEST(CheckDataHeader, InstalledVerifiersDecideTextsAndLanguages) {
  auto fields = testing::QuotaFields();
  fields[2].MinValue.Assign("'x'");
  TDataHeaderParams params;
  params.LanguageID = 0x0409;
  const TDataHeader header = CreateDataHeader(params, fields, kContext);
  const auto file = DataFile(header, fields);
  EXPECT_EQ(RaisedCode([&] { CheckDataFileImage(file, kContext); }), 0);
  SetExpressionVerifier(&RejectQuotes);
  EXPECT_EQ(RaisedCode([&] { CheckDataFileImage(file, kContext); }), TARN_HEADERCORRUPT);
  SetExpressionVerifier(nullptr);
  SetLocaleValidator(&NoLocales);
  EXPECT_EQ(RaisedCode([&] { CheckDataFileImage(file, kContext); }), TARN_CANNOTLOADLDDRV);
  SetLocaleValidator(nullptr);
}

TEST(CheckDataHeader, LanguagesThePlatformDoesNotSupportAreRefused) {
  auto fields = testing::QuotaFields();
  struct Case {
    std::uint16_t language, sort;
    TarnErrorCode expected;
  } cases[] = {{0, 0, 0}, {0x0409, 0, 0}, {0x0407, 1, 0}, {0x0409, 7, TARN_CANNOTLOADLDDRV},
               {0x03FF, 0, TARN_CANNOTLOADLDDRV}};
  for (const Case& c : cases) {
    TDataHeaderParams params;
    params.LanguageID = c.language;
    params.SortID = c.sort;
    const auto file = DataFile(CreateDataHeader(params, fields, kContext), fields);
    EXPECT_EQ(RaisedCode([&] { CheckDataFileImage(file, kContext); }), c.expected) << c.language << "/" << c.sort;
  }
}

// Index header cases against the quota fields.
struct IndexCase {
  const char* name;
  std::function<void(TIndexHeader&)> damage;
  TarnErrorCode expected;
};

TEST(CheckIndexHeader, HostileAndDamagedHeaders) {
  const auto fields = testing::QuotaFields();
  const IndexCase cases[] = {
      {"valid", [](TIndexHeader&) {}, 0},
      {"version 2", [](TIndexHeader& h) { h.VersionNum = 2; }, TARN_OLDVERSION},
      {"index count 200", [](TIndexHeader& h) { h.IndexCount = 200; }, TARN_HEADERCORRUPT},
      {"index count 31", [](TIndexHeader& h) { h.IndexCount = 31; }, TARN_HEADERCORRUPT},
      {"index count beyond the defined", [](TIndexHeader& h) { h.IndexCount = 2; }, TARN_HEADERCORRUPT},
      {"key field count 40", [](TIndexHeader& h) { h.Slots[1].KeyFieldCount = 40; }, TARN_HEADERCORRUPT},
      {"key field count above the list", [](TIndexHeader& h) { h.Slots[1].KeyFieldCount = 2; },
       TARN_HEADERCORRUPT},
      {"gap in the key fields", [](TIndexHeader& h) { h.Slots[1].KeyFields[2] = 3; }, TARN_HEADERCORRUPT},
      {"unknown key field", [](TIndexHeader& h) { h.Slots[1].KeyFields[0] = 99; }, TARN_HEADERCORRUPT},
      {"BLOB key field", [](TIndexHeader& h) { h.Slots[1].KeyFields[0] = 4; }, TARN_HEADERCORRUPT},
      {"key size not matching", [](TIndexHeader& h) { h.Slots[1].KeySize = 4000; }, TARN_HEADERCORRUPT},
      {"name length 99", [](TIndexHeader& h) { h.Slots[1].Name.Length = 99; }, TARN_HEADERCORRUPT},
      {"name starting with a blank digit", [](TIndexHeader& h) { h.Slots[1].Name.Assign(" 9x"); },
       TARN_HEADERCORRUPT},
      {"primary with a name", [](TIndexHeader& h) { h.Slots[0].Name.Assign("P"); }, TARN_HEADERCORRUPT},
      {"primary not unique", [](TIndexHeader& h) { h.Slots[0].Unique = 0; }, TARN_HEADERCORRUPT},
      {"compression 9", [](TIndexHeader& h) { h.Slots[0].Compression = 9; }, TARN_HEADERCORRUPT},
      {"root page beyond the pages", [](TIndexHeader& h) { h.Slots[1].RootPageNumber = 10; }, TARN_HEADERCORRUPT},
      {"negative free page", [](TIndexHeader& h) { h.Slots[0].NextFreePageNumber = -1; }, TARN_HEADERCORRUPT},
      {"parked slot page beyond the pages", [](TIndexHeader& h) { h.Slots[20].NextFreePageNumber = 11; },
       TARN_HEADERCORRUPT},
      {"root page within the pages", [](TIndexHeader& h) { h.Slots[1].RootPageNumber = 9; }, 0},
      {"next page number 0", [](TIndexHeader& h) { h.NextPageNumber = 0; }, TARN_HEADERCORRUPT},
      {"negative record count", [](TIndexHeader& h) { h.ActualRecordCount = -3; }, TARN_HEADERCORRUPT},
      {"deleted index key size", [](TIndexHeader& h) { h.Slots[31].KeySize = 600; }, TARN_HEADERCORRUPT},
      {"text index on a memo and a string",
       [](TIndexHeader& h) { h.Slots[32].KeyFieldCount = 2; h.Slots[32].KeyFields[0] = 4; h.Slots[32].KeyFields[1] = 2; },
       0},
      {"text index on an integer",
       [](TIndexHeader& h) { h.Slots[32].KeyFieldCount = 1; h.Slots[32].KeyFields[0] = 3; }, TARN_HEADERCORRUPT},
      {"text index key field count 17", [](TIndexHeader& h) { h.Slots[32].KeyFieldCount = 17; },
       TARN_HEADERCORRUPT},
      {"no primary index with an empty slot 0",
       [](TIndexHeader& h) { ClearIndexDefinition(h.Slots[0]); h.NoPrimaryIndex = 1; }, 0},
      {"empty slot 0 without the flag", [](TIndexHeader& h) { ClearIndexDefinition(h.Slots[0]); },
       TARN_HEADERCORRUPT},
  };
  for (const IndexCase& c : cases) {
    TIndexHeader header = CreateIndexHeader();
    AddPrimaryIndex(header, testing::MakeIndex("", {1}, fields, true), fields, kContext);
    AddSecondaryIndex(header, testing::MakeIndex("ByName", {2}, fields, false), fields, kContext);
    header.NextPageNumber = 10;
    c.damage(header);
    for (const bool encrypted : {false, true}) {
      const auto bytes = IndexHeaderBytes(header, encrypted);
      EXPECT_EQ(RaisedCode([&] { CheckIndexFileImage(bytes, encrypted, fields, kContext); }), c.expected)
          << c.name << (encrypted ? " (encrypted)" : "");
    }
  }
}

// The key limit counts the record ID that a non-unique index appends: fields
// whose keys take 520 bytes make a valid unique index but no non-unique one.
TEST(CheckIndexHeader, KeyLimitCountsTheRecordIdOfNonUniqueIndexes) {
  std::vector<TFieldDefinition> fields;
  for (std::uint8_t size = 1; size <= 250; ++size) {
    fields = {testing::MakeField("ID", dtInteger), testing::MakeField("A", dtString, 250),
              testing::MakeField("B", dtString, 250), testing::MakeField("C", dtString, size)};
    testing::LayOut(fields);
    if (testing::MakeIndex("Wide", {2, 3, 4}, fields, true).KeySize == 520) break;
  }
  ASSERT_EQ(testing::MakeIndex("Wide", {2, 3, 4}, fields, true).KeySize, 520);
  for (const bool unique : {true, false}) {
    TIndexHeader header = CreateIndexHeader();
    AddPrimaryIndex(header, testing::MakeIndex("", {1}, fields, true), fields, kContext);
    header.Slots[1] = testing::MakeIndex("Wide", {2, 3, 4}, fields, unique);
    header.IndexCount = 1;
    const auto bytes = IndexHeaderBytes(header, false);
    EXPECT_EQ(RaisedCode([&] { CheckIndexFileImage(bytes, false, fields, kContext); }),
              unique ? 0 : TARN_HEADERCORRUPT)
        << (unique ? "unique" : "non-unique");
  }
}

TEST(CheckIndexHeader, FreshFileWithoutPrimaryIndexIsAccepted) {
  const auto fields = testing::QuotaFields();
  TIndexHeader header = CreateIndexHeader();
  AddPrimaryIndex(header, MakeEmptyIndexDefinition(), fields, kContext);
  const auto bytes = IndexHeaderBytes(header, false);
  EXPECT_EQ(bytes[3978], 1);
  EXPECT_EQ(RaisedCode([&] { CheckIndexFileImage(bytes, false, fields, kContext); }), 0);
  EXPECT_EQ(RaisedCode([&] { CheckIndexFileImage(std::span(bytes).first(4095), false, fields, kContext); }),
            TARN_HEADERCORRUPT);
}

TEST(CheckBlobHeader, VersionAndFreeBlockHead) {
  struct Case {
    std::int32_t version, nextBlock, freeHead;
    TarnErrorCode expected;
  } cases[] = {
      {5, 1, 0, 0}, {5, 5, 4, 0}, {5, 5, 5, TARN_HEADERCORRUPT}, {5, 5, -1, TARN_HEADERCORRUPT},
      {5, 0, 0, TARN_HEADERCORRUPT}, {5, -9, 0, TARN_HEADERCORRUPT}, {4, 1, 0, TARN_OLDVERSION},
  };
  for (const Case& c : cases) {
    TBlobHeader header = CreateBlobHeader();
    header.VersionNum = static_cast<std::uint8_t>(c.version);
    header.NextBlockNumber = c.nextBlock;
    header.NextFreeBlockNumber = c.freeHead;
    const auto bytes = BlobHeaderBytes(header, true);
    EXPECT_EQ(RaisedCode([&] { CheckBlobFileImage(bytes, true, kContext); }), c.expected)
        << c.nextBlock << " " << c.freeHead;
  }
  EXPECT_EQ(RaisedCode([&] { CheckBlobFileImage(std::vector<std::uint8_t>(100), false, kContext); }),
            TARN_HEADERCORRUPT);
}

}  // namespace
}  // namespace tarn
