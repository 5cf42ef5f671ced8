// Field definitions from a cursor and the mapping between field kinds and
// engine types.
#include "components/field_definitions.h"

#include "components/db_messages.h"
#include "cursor/data_cursor.h"
#include "platform/code_page.h"

namespace tarn {

const char* FieldTypeName(TFieldType kind) noexcept {
  switch (kind) {
    case ftString:
      return "String";
    case ftSmallint:
      return "SmallInt";
    case ftInteger:
      return "Integer";
    case ftWord:
      return "Word";
    case ftBoolean:
      return "Boolean";
    case ftFloat:
      return "Float";
    case ftCurrency:
      return "Currency";
    case ftBCD:
      return "BCD";
    case ftDate:
      return "Date";
    case ftTime:
      return "Time";
    case ftDateTime:
      return "DateTime";
    case ftBytes:
      return "Bytes";
    case ftVarBytes:
      return "VarBytes";
    case ftAutoInc:
      return "AutoInc";
    case ftBlob:
      return "Blob";
    case ftMemo:
      return "Memo";
    case ftGraphic:
      return "Graphic";
    case ftFmtMemo:
      return "FmtMemo";
    case ftTypedBinary:
      return "TypedBinary";
    case ftFixedChar:
      return "FixedChar";
    case ftWideString:
      return "WideString";
    case ftLargeint:
      return "LargeInt";
    case ftGuid:
      return "Guid";
    default:
      return "Unknown";
  }
}

bool IsBlobFieldType(TFieldType kind) noexcept {
  return kind == ftBlob || kind == ftMemo || kind == ftGraphic || kind == ftFmtMemo || kind == ftTypedBinary;
}

TFieldType FieldTypeOf(const TFieldDefinition& def, int& size, int& precision) noexcept {
  size = 0;
  precision = 0;
  switch (def.DataType) {
    case dtString:
      size = def.Size;
      return ftString;
    case dtDate:
      return ftDate;
    case dtBlob:
      switch (def.SubType) {
        case dstMemo:
          return ftMemo;
        case dstFormattedMemo:
          return ftFmtMemo;
        case dstGraphic:
          return ftGraphic;
        case dstTypedBinary:
          return ftTypedBinary;
        default:
          return ftBlob;
      }
    case dtBoolean:
      return ftBoolean;
    case dtSmallInt:
      return ftSmallint;
    case dtInteger:
      return def.SubType == dstAutoInc ? ftAutoInc : ftInteger;
    case dtFloat:
      return def.SubType == dstMoney ? ftCurrency : ftFloat;
    case dtBCD:
      size = def.Decimals;
      precision = 32;
      return ftBCD;
    case dtBytes:
      size = def.Size;
      return ftBytes;
    case dtTime:
      return ftTime;
    case dtTimeStamp:
      return ftDateTime;
    case dtWord:
      return ftWord;
    case dtCardinal:
      return ftInteger;
    case dtVarBytes:
      size = def.Size;
      return ftVarBytes;
    case dtLargeInt:
      return ftLargeint;
    default:
      return ftUnknown;
  }
}

bool EngineTypeOf(TFieldType kind, std::uint8_t& dataType, std::uint8_t& subType) noexcept {
  subType = dstNone;
  switch (kind) {
    case ftString:
    case ftGuid:
      dataType = dtString;
      return true;
    case ftFixedChar:
      dataType = dtString;
      subType = dstFixedChar;
      return true;
    case ftWideString:
      dataType = dtString;
      subType = dstWideString;
      return true;
    case ftSmallint:
      dataType = dtSmallInt;
      return true;
    case ftInteger:
      dataType = dtInteger;
      return true;
    case ftAutoInc:
      dataType = dtInteger;
      subType = dstAutoInc;
      return true;
    case ftWord:
      dataType = dtWord;
      return true;
    case ftBoolean:
      dataType = dtBoolean;
      return true;
    case ftFloat:
      dataType = dtFloat;
      return true;
    case ftCurrency:
      dataType = dtFloat;
      subType = dstMoney;
      return true;
    case ftBCD:
      dataType = dtBCD;
      return true;
    case ftDate:
      dataType = dtDate;
      return true;
    case ftTime:
      dataType = dtTime;
      return true;
    case ftDateTime:
      dataType = dtTimeStamp;
      return true;
    case ftBytes:
      dataType = dtBytes;
      return true;
    case ftVarBytes:
      dataType = dtVarBytes;
      return true;
    case ftLargeint:
      dataType = dtLargeInt;
      return true;
    case ftBlob:
      dataType = dtBlob;
      return true;
    case ftMemo:
      dataType = dtBlob;
      subType = dstMemo;
      return true;
    case ftGraphic:
      dataType = dtBlob;
      subType = dstGraphic;
      return true;
    case ftFmtMemo:
      dataType = dtBlob;
      subType = dstFormattedMemo;
      return true;
    case ftTypedBinary:
      dataType = dtBlob;
      subType = dstTypedBinary;
      return true;
    default:
      dataType = dtUnknown;
      return false;
  }
}

namespace {

bool NameTaken(const std::vector<TFieldDef>& defs, const std::string& name) {
  for (const TFieldDef& def : defs)
    if (AnsiSameText(def.Name, name)) return true;
  return false;
}

}  // namespace

std::vector<TFieldDef> BuildFieldDefs(const TDataCursor& cursor) {
  std::vector<TFieldDef> defs;
  const std::uint16_t count = cursor.GetFieldCount();
  for (std::uint16_t n = 1; n <= count; ++n) {
    TFieldDefinition engine;
    cursor.GetFieldDefinition(n, engine);
    TFieldDef def;
    def.DataType = FieldTypeOf(engine, def.Size, def.Precision);
    if (def.DataType == ftUnknown) continue;
    const std::string base = engine.Name.Str();
    def.Name = base;
    for (int suffix = 1; NameTaken(defs, def.Name); ++suffix) def.Name = base + "_" + IntToStr(suffix);
    def.FieldNo = n;
    def.Required = engine.Required != 0;
    def.Origin = engine.Working.OriginName.Str();
    def.Description = engine.Description.Str();
    def.Engine = engine;
    defs.push_back(std::move(def));
  }
  return defs;
}

}  // namespace tarn
