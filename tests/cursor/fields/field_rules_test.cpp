// The field rules: each refusal with its code and the field it names, the
// order in which the rules are applied, name trimming and cutting, the
// letters rule, and the completion of sizes, decimals, the calculated flag
// and the record offsets.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "cursor/field_rules.h"
#include "support/field_builders.h"

namespace tarn {
namespace {

using test_support::LaidOut;
using test_support::MakeField;

const TFieldRulesContext kContext{"quota", "/data/vantrel/"};

// ID (auto-increment), NAME (string 20), AMOUNT (BCD, 2 places), SEEN (date).
std::vector<TFieldDefinition> BaseFields() {
  std::vector<TFieldDefinition> fields = LaidOut({MakeField("ID", dtInteger, 0, dstAutoInc), MakeField("NAME", dtString, 20),
                                                  MakeField("AMOUNT", dtBCD), MakeField("SEEN", dtDate)});
  fields[2].Decimals = 2;
  return fields;
}

struct TRefusal {
  const char* What;
  std::function<void(std::vector<TFieldDefinition>&)> Change;
  TarnErrorCode Code;
  std::string Field;  // the field name the error carries
};

TEST(FieldRules, EachRefusalCarriesItsCodeAndField) {
  const TRefusal cases[] = {
      {"blank name", [](auto& f) { f[1].Name.Assign("   "); }, TARN_INVALIDFIELDNAME, ""},
      {"digit first", [](auto& f) { f[1].Name.Assign("1NAME"); }, TARN_INVALIDFIELDNAME, "1NAME"},
      {"blank then digit", [](auto& f) { f[1].Name.Assign("  9X"); }, TARN_INVALIDFIELDNAME, "9X"},
      {"same name, other case and blanks", [](auto& f) { f[3].Name.Assign("  name "); }, TARN_INVALIDFIELDNAME, "NAME"},
      {"same number", [](auto& f) { f[3].FieldNumber = 2; }, TARN_INVALIDFLDTYPE, "NAME"},
      {"same name and number: the name rule first", [](auto& f) { f[3] = f[1]; }, TARN_INVALIDFIELDNAME, "NAME"},
      {"type 0", [](auto& f) { f[3].DataType = dtUnknown; }, TARN_INVALIDFLDTYPE, "SEEN"},
      {"string of 251", [](auto& f) { f[1].Size = 251; }, TARN_INVALIDFLDTYPE, "NAME"},
      {"bytes of 251", [](auto& f) { f[1].DataType = dtBytes; f[1].Size = 251; }, TARN_INVALIDFLDTYPE, "NAME"},
      {"varbytes of 251", [](auto& f) { f[1].DataType = dtVarBytes; f[1].Size = 251; }, TARN_INVALIDFLDTYPE, "NAME"},
      {"BCD places above 63", [](auto& f) { f[2].Decimals = 64; }, TARN_INVALIDFLDTYPE, "AMOUNT"},
      {"type 0 before its texts", [](auto& f) { f[3].DataType = dtUnknown; f[3].DefaultValue.Assign("x"); },
       TARN_INVALIDFLDTYPE, "SEEN"},
      {"default not a date", [](auto& f) { f[3].DefaultValue.Assign("2024-02-30"); }, TARN_INVALIDVCHKSTRUCT, "SEEN"},
      {"minimum not a currency", [](auto& f) { f[2].MinValue.Assign("1.23456"); }, TARN_INVALIDVCHKSTRUCT, "AMOUNT"},
      {"maximum beyond the integer", [](auto& f) { f[0].MaxValue.Assign("2147483648"); }, TARN_INVALIDVCHKSTRUCT, "ID"},
      {"small integer default beyond 16 bits", [](auto& f) { f[3].DataType = dtSmallInt; f[3].DefaultValue.Assign("40000"); },
       TARN_INVALIDVCHKSTRUCT, "SEEN"},
      {"default on a type without literals", [](auto& f) { f[3].DataType = dtCardinal; f[3].DefaultValue.Assign("1"); },
       TARN_INVALIDVCHKSTRUCT, "SEEN"},
  };
  for (const TRefusal& c : cases) {
    std::vector<TFieldDefinition> fields = BaseFields();
    c.Change(fields);
    try {
      VerifyFieldInformation(fields, kContext, {.AssignOffsets = true});
      ADD_FAILURE() << c.What << ": accepted";
    } catch (const ETarnEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), c.Code) << c.What;
      EXPECT_EQ(e.ErrorFieldName(), c.Field) << c.What;
      EXPECT_EQ(e.ErrorTableName(), "quota") << c.What;
      EXPECT_EQ(e.ErrorDatabaseName(), "/data/vantrel/") << c.What;
    }
  }
}

TEST(FieldRules, NamesStartWithALetterUnderscoreOrHighCharacter) {
  const struct {
    std::string Name;
    bool Accepted;
  } cases[] = {
      {"_ID", true}, {"zeta", true}, {"\xD3\xC3\xBB\xA7", true},  // GBK 用户
      {"\x80X", true}, {"\xFEX", true}, {"\xFFX", false},         {"9ID", false},
      {"$ID", false},  {"-ID", false},  {".ID", false},
  };
  for (const auto& c : cases) {
    std::vector<TFieldDefinition> fields = BaseFields();
    fields[1].Name.Assign(c.Name);
    const bool accepted = [&] {
      try {
        VerifyFieldInformation(fields, kContext, {});
        return true;
      } catch (const ETarnEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), TARN_INVALIDFIELDNAME) << c.Name;
        return false;
      }
    }();
    EXPECT_EQ(accepted, c.Accepted) << c.Name;
  }
}

TEST(FieldRules, NameIsTrimmedAndCutToThirtyCharacters) {
  std::vector<TFieldDefinition> fields = BaseFields();
  const std::string thirty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ_123";
  fields[1].Name.Assign(thirty);
  fields[1].Name.Length = 31;  // a 31st character the area cannot hold
  fields[3].Name.Assign("  SEEN  ");
  VerifyFieldInformation(fields, kContext, {});
  EXPECT_EQ(fields[1].Name.Length, 30);
  EXPECT_EQ(fields[1].Name.View(), thirty);
  EXPECT_EQ(fields[3].Name.Length, 4);
  EXPECT_EQ(fields[3].Name.View(), "SEEN");
  EXPECT_EQ(fields[3].Name.Chars[4], 0);
}

TEST(FieldRules, SizesDecimalsAndOffsetsAreCompleted) {
  std::vector<TFieldDefinition> fields = {
      MakeField("NAME", dtString, 10),  MakeField("ID", dtInteger, 0, dstAutoInc), MakeField("AMOUNT", dtBCD),
      MakeField("FLAG", dtBoolean, 7),  MakeField("CALC", dtInteger),
  };
  for (std::size_t i = 0; i < fields.size(); ++i) {
    fields[i].FieldNumber = static_cast<std::uint16_t>(i + 1);
    fields[i].FieldOffset = 999;
    fields[i].PhysicalSize = 77;
  }
  fields[2].Decimals = 2;
  fields[3].Decimals = 3;
  fields[4].Computed = 1;

  // A table: the calculated flag is cleared and every stored field placed.
  std::vector<TFieldDefinition> table = fields;
  EXPECT_EQ(VerifyFieldInformation(table, kContext, {.AssignOffsets = true}), 9 + 12 + 35 + 3 + 5);
  const struct {
    std::uint16_t Offset;
    std::uint8_t PhysicalSize, Size, PhysicalDecimals;
  } expected[] = {{9, 11, 10, 0}, {5, 4, 0, 0}, {21, 34, 0, 2}, {56, 2, 0, 0}, {59, 4, 0, 0}};
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(table[i].Name.Str());
    EXPECT_EQ(table[i].FieldOffset, expected[i].Offset);
    EXPECT_EQ(table[i].PhysicalSize, expected[i].PhysicalSize);
    EXPECT_EQ(table[i].Size, expected[i].Size);
    EXPECT_EQ(table[i].PhysicalDecimals, expected[i].PhysicalDecimals);
    EXPECT_EQ(table[i].Decimals, expected[i].PhysicalDecimals);
    EXPECT_EQ(table[i].Computed, 0);
  }

  // A result set keeps its calculated field, which takes no place in the
  // record; without offset assignment the stored fields keep their offsets
  // (the auto-increment field still lives in the record ID).
  std::vector<TFieldDefinition> answer = fields;
  EXPECT_EQ(VerifyFieldInformation(answer, kContext, {.IsResultSet = true}), 9 + 12 + 35 + 3);
  EXPECT_EQ(answer[4].Computed, 1);
  EXPECT_EQ(answer[4].FieldOffset, 999);
  EXPECT_EQ(answer[4].PhysicalSize, 4);
  EXPECT_EQ(answer[0].FieldOffset, 999);
  EXPECT_EQ(answer[1].FieldOffset, 5);
}

TEST(FieldRules, RecordBeyond65535BytesIsRefused) {
  std::vector<TFieldDefinition> fields;
  for (int i = 0; i < 300; ++i) fields.push_back(MakeField("F" + std::to_string(i), dtString, 250));
  fields = LaidOut(fields);
  try {
    VerifyFieldInformation(fields, kContext, {.AssignOffsets = true});
    ADD_FAILURE() << "accepted";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_RECTOOBIG);
    EXPECT_EQ(e.ErrorTableName(), "quota");
  }
  fields.resize(260);  // 9 + 260 x 252 = 65,529 bytes
  EXPECT_EQ(VerifyFieldInformation(fields, kContext, {.AssignOffsets = true}), 65529);
  EXPECT_EQ(fields.back().FieldOffset, 65529 - 252);
}

}  // namespace
}  // namespace tarn
