// CREATE TABLE-like descriptions of tables for the tarn shell. Names are
// written as double-quoted strings and option values as single-quoted ones,
// the forms the DDL statements read them in.
#include "tools/table_schema.h"

#include <span>
#include <string_view>
#include <vector>

#include "cursor/data_cursor.h"
#include "storage/formats/data_types.h"
#include "storage/formats/index_definition.h"
#include "storage/keys/languages.h"

namespace tarn::tools {

namespace {

std::string Quoted(std::string_view text, char quote) {
  std::string result(1, quote);
  for (const char c : text) {
    if (c == quote) result += quote;
    result += c;
  }
  result += quote;
  return result;
}

std::string Name(std::string_view name) { return Quoted(name, '"'); }
std::string Value(std::string_view value) { return Quoted(value, '\''); }

// The options of an index before its INDEX or PRIMARY KEY keywords.
std::string IndexFlags(const TIndexDefinition& def, bool primary) {
  std::string text;
  if (def.Unique != 0 && !primary) text += "UNIQUE ";
  if (def.Descending != 0) text += "DESC ";
  if (def.CaseInsensitive != 0) text += "NOCASE ";
  return text;
}

std::string IndexColumns(const TIndexDefinition& def, std::span<const TFieldDefinition> fields) {
  std::string text = "(";
  const std::size_t count = std::min<std::size_t>(def.KeyFieldCount, kMaxKeyFields);
  for (std::size_t k = 0; k < count; ++k) {
    if (k > 0) text += ", ";
    const std::uint16_t number = def.KeyFields[k];
    std::string column = "#" + std::to_string(number);
    for (const TFieldDefinition& field : fields)
      if (field.FieldNumber == number) column = Name(field.Name.View());
    text += column;
  }
  return text + ")";
}

std::string Compression(const TIndexDefinition& def) {
  switch (def.Compression) {
    case icDuplicateByte:
      return " COMPRESS DUPBYTE";
    case icTrailingByte:
      return " COMPRESS TRAILBYTE";
    case icFull:
      return " COMPRESS FULL";
    default:
      return {};
  }
}

std::string ColumnText(const TFieldDefinition& def) {
  std::string text = "  " + Name(def.Name.View()) + " " + SqlTypeText(def);
  if (!def.Description.View().empty()) text += " DESCRIPTION " + Value(def.Description.View());
  if (def.Required != 0) text += " NOT NULL";
  if (!def.DefaultValue.View().empty()) text += " DEFAULT " + Value(def.DefaultValue.View());
  if (!def.MinValue.View().empty()) text += " MIN " + Value(def.MinValue.View());
  if (!def.MaxValue.View().empty()) text += " MAX " + Value(def.MaxValue.View());
  if (def.CharCase == fcUpperCase) text += " CHARCASE UPPER";
  if (def.CharCase == fcLowerCase) text += " CHARCASE LOWER";
  return text;
}

// LANGUAGE and SORT for a table whose language is not the default one.
std::string LanguageText(std::uint16_t languageID, std::uint16_t sortID) {
  if (languageID == 0 && sortID == 0) return {};
  const int languageIndex = GetIndexFromLanguageID(languageID);
  if (languageIndex < 0) return "  /* language " + std::to_string(languageID) + " */\n";
  std::string text = "  LANGUAGE " + Value(GetLanguageNameFromIndex(languageIndex));
  const int sortIndex = GetIndexFromSortID(languageIndex, sortID);
  if (sortIndex > 0) text += " SORT " + Value(GetSortIDStringFromIndex(languageIndex, sortIndex));
  return text + "\n";
}

}  // namespace

std::string SqlTypeText(const TFieldDefinition& def) {
  const std::string size = std::to_string(def.Size);
  switch (def.DataType) {
    case dtString:
      return "CHAR(" + size + ")";
    case dtDate:
      return "DATE";
    case dtBlob: {
      // The BLOB kind is the sub type less 21 (1 memo, 2 binary, 3 formatted
      // memo, 5 graphic, 7 typed binary).
      const int kind = def.SubType > 21 ? def.SubType - 21 : 0;
      return "BLOB(0," + std::to_string(kind) + ")";
    }
    case dtBoolean:
      return "BOOLEAN";
    case dtSmallInt:
      return "SMALLINT";
    case dtInteger:
      return def.SubType == dstAutoInc ? "AUTOINC" : "INTEGER";
    case dtFloat:
      if (def.SubType == dstMoney) return "MONEY";
      return def.Decimals == 0 ? "FLOAT" : "FLOAT(15," + std::to_string(def.Decimals) + ")";
    case dtBCD:
      return "DECIMAL(32," + std::to_string(def.Decimals) + ")";
    case dtBytes:
      return "BYTES(" + size + ")";
    case dtTime:
      return "TIME";
    case dtTimeStamp:
      return "TIMESTAMP";
    case dtWord:
      return "WORD";
    case dtCardinal:
      return "CARDINAL";
    case dtExtended:
      return "EXTENDED";
    case dtVarBytes:
      return "VARBYTES(" + size + ")";
    case dtLargeInt:
      return "LARGEINT";
    default:
      return "TYPE" + std::to_string(def.DataType) + "(" + size + ")";
  }
}

std::string TableSchemaText(TDataDirectory& directory, const std::string& tableName) {
  TDataCursor cursor(directory);
  cursor.SetTableName(tableName);
  cursor.SetReadOnly(true);
  cursor.OpenCursor();
  std::vector<TFieldDefinition> fields(cursor.GetFieldCount());
  for (std::uint16_t f = 1; f <= fields.size(); ++f) cursor.GetFieldDefinition(f, fields[f - 1]);
  TDataTable& table = *cursor.Table();
  TIndexFile& indexes = table.IndexFile();
  TDataFile& data = table.DataFile();
  const std::string name = cursor.TableName();

  std::string text = "CREATE TABLE " + Name(name) + " (\n";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    text += ColumnText(fields[i]);
    text += i + 1 < fields.size() ? ",\n" : "\n";
  }
  TIndexDefinition primary;
  indexes.GetIndexDefinition(0, primary);
  if (primary.KeyFieldCount > 0) {
    text += "  " + IndexFlags(primary, /*primary=*/true) + "PRIMARY KEY " + IndexColumns(primary, fields) +
            Compression(primary) + "\n";
  }
  TIndexDefinition textIndex;
  indexes.GetIndexDefinition(kTextIndex, textIndex);
  if (textIndex.KeyFieldCount > 0) text += "  TEXT INDEX " + IndexColumns(textIndex, fields) + "\n";
  if (!data.GetDescription().empty()) text += "  DESCRIPTION " + Value(data.GetDescription()) + "\n";
  if (data.GetBlobFieldCount() > 0 && data.GetBlobBlockSize() != 512)
    text += "  BLOB BLOCK SIZE " + std::to_string(data.GetBlobBlockSize()) + "\n";
  text += LanguageText(data.GetLanguageID(), data.GetSortID());
  // The password stays out of the text: only the fact is shown.
  if (data.GetEncrypted()) text += "  /* ENCRYPTED */\n";
  if (data.GetUserMajorVersion() > 1 || data.GetUserMinorVersion() != 0) {
    text += "  USER MAJOR VERSION " + std::to_string(data.GetUserMajorVersion()) + "\n";
    text += "  USER MINOR VERSION " + std::to_string(data.GetUserMinorVersion()) + "\n";
  }
  text += ");\n";

  for (std::size_t slot = 1; slot <= indexes.GetIndexCount(); ++slot) {
    TIndexDefinition index;
    indexes.GetIndexDefinition(slot, index);
    text += "CREATE " + IndexFlags(index, /*primary=*/false) + "INDEX " + Name(index.Name.View()) + " ON " +
            Name(name) + " " + IndexColumns(index, fields) + Compression(index) + ";\n";
  }
  cursor.CloseCursor();
  return text;
}

}  // namespace tarn::tools
