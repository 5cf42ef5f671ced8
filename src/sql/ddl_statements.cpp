// Preparation and execution of CREATE TABLE, CREATE INDEX, DROP TABLE and
// DROP INDEX: the target directory and cursor, the field and index
// definitions built from what the grammar read (names resolved against the
// new or existing columns), and the cursor's table operations that make the
// change. The statements change no rows and report none.
#include <string>

#include "core/errors.h"
#include "engine/data_session.h"
#include "platform/code_page.h"
#include "sql/data_query.h"
#include "sql/query_statement.h"
#include "storage/formats/data_types.h"
#include "storage/formats/field_definition.h"
#include "storage/formats/index_definition.h"

namespace tarn {

namespace {

// Name of the text-index definition.
constexpr std::string_view kSysTextIndexName = "Sys Text";

[[noreturn]] void RaiseSqlError(std::string_view message) {
  RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, message);
}

// The password callback of the target cursor: the statement asks its component.
bool AskStatementForPassword(void* userData, TDataCursor& cursor) {
  return static_cast<TQueryStatement*>(userData)->AskForPassword(cursor.TableName());
}

// Field numbers of the index columns among fields (names without regard to
// case, the first match in field order); invalidMessage(column) raises for a
// name no field has.
template <typename Raise>
void ResolveKeyFields(const TDataQuery::TCreateIndex& index, const std::vector<TFieldDefinition>& fields,
                      TIndexDefinition& def, Raise invalid) {
  std::size_t k = 0;
  for (const std::string& column : index.Columns) {
    std::uint16_t number = 0;
    for (const TFieldDefinition& field : fields) {
      if (AnsiSameText(field.Name.Str(), column)) {
        number = field.FieldNumber;
        break;
      }
    }
    if (number == 0) invalid(column);
    def.KeyFields[k++] = number;
  }
  def.KeyFieldCount = static_cast<std::uint8_t>(k);
}

TIndexDefinition BuildIndexDefinition(const TDataQuery::TCreateIndex& index,
                                      const std::vector<TFieldDefinition>& fields) {
  TIndexDefinition def = MakeEmptyIndexDefinition();
  def.Name.Assign(index.Name);
  def.Unique = index.Unique ? 1 : 0;
  def.Descending = index.Descending ? 1 : 0;
  def.CaseInsensitive = index.CaseInsensitive ? 1 : 0;
  def.Compression = index.Compression;
  ResolveKeyFields(index, fields, def, [&](const std::string& column) {
    RaiseSqlError("Invalid field name '" + column + "'" + " specified for index " + "'" + index.Name + "'");
  });
  return def;
}

// The field definitions of an open cursor's table, in column order.
std::vector<TFieldDefinition> TableFields(const TDataCursor& cursor) {
  std::vector<TFieldDefinition> fields;
  for (std::uint16_t f = 1; f <= cursor.GetPhysicalFieldCount(); ++f) {
    TFieldDefinition def;
    cursor.GetPhysicalFieldDefinition(f, def);
    fields.push_back(def);
  }
  return fields;
}

// Opens the target cursor exclusively and closes it when the scope ends,
// also when the operation raises.
class TExclusiveOpen {
 public:
  explicit TExclusiveOpen(TDataCursor& cursor) : cursor_(cursor) { cursor_.OpenCursor(); }
  ~TExclusiveOpen() {
    try {
      cursor_.CloseCursor();
    } catch (const ETarnEngineError&) {
      // The operation's own outcome (or its error) is what the caller hears.
    }
  }
  TExclusiveOpen(const TExclusiveOpen&) = delete;
  TExclusiveOpen& operator=(const TExclusiveOpen&) = delete;

 private:
  TDataCursor& cursor_;
};

}  // namespace

// --- the parsed items -----------------------------------------------------------------

TFieldDefinition TDataQuery::TCreateField::BuildFieldInfo(std::uint16_t number) const {
  TFieldDefinition def = MakeEmptyFieldDefinition();
  def.FieldNumber = number;
  def.Name.Assign(Name);
  def.Description.Assign(Description);
  def.DataType = DataType;
  def.SubType = SubType;
  def.Size = (DataType == dtString || DataType == dtBytes || DataType == dtVarBytes) ? Size : 0;
  def.Decimals = DataType == dtBCD ? Decimals : 0;
  def.Required = Required ? 1 : 0;
  def.CharCase = CharCase;
  def.DefaultValue.Assign(DefaultValue);
  def.MinValue.Assign(MinValue);
  def.MaxValue.Assign(MaxValue);
  def.Computed = 0;
  return def;
}

TDataQuery::TDefinitionTarget::~TDefinitionTarget() {
  if (Cursor) {
    try {
      if (Cursor->IsOpen()) Cursor->CloseCursor();
    } catch (const ETarnEngineError&) {
      // Nothing of the statement's own is left to keep.
    }
    Cursor.reset();
  }
  if (Directory != nullptr && Statement != nullptr) {
    // The statement's own directory was only counted; one opened by name is
    // closed again, unless tables of it are still open elsewhere.
    if (Directory == &Statement->Directory() || (Directory->UseCount() == 1 && Directory->GetHasOpenTables())) {
      Directory->DecUseCount();
    } else {
      Statement->GetDataSession().CloseDataDirectory(*Directory);
    }
  }
  Directory = nullptr;
}

// --- preparation ----------------------------------------------------------------------------

void TDataQuery::PrepareDefinitionQuery() {
  if (DefinitionTarget.Cursor) return;
  TSourceTable name;
  name.SetTableName(DefinitionTableName);
  TDataDirectory* directory = nullptr;
  if (DefinitionInMemory) {
    directory = &statement_.GetDataSession().OpenDataDirectory("Memory", "");
  } else if (!name.DatabaseName.empty()) {
    directory = &statement_.GetDataSession().OpenDataDirectory(name.DatabaseName, name.DatabaseName);
  } else {
    directory = &statement_.Directory();
    directory->IncUseCount();
  }
  DefinitionTarget.Statement = &statement_;
  DefinitionTarget.Directory = directory;
  DefinitionTarget.Cursor = std::make_unique<TDataCursor>(*directory);
  DefinitionTarget.Cursor->SetTableName(name.TableName);
  DefinitionTarget.Cursor->SetPasswordCallback(&statement_, &AskStatementForPassword);
}

// --- execution --------------------------------------------------------------------------------

void TDataQuery::ExecuteDefinitionQuery() {
  RowsAffected = 0;
  TDataCursor& cursor = *DefinitionTarget.Cursor;
  cursor.SetExclusive(true);
  cursor.SetInMemory(DefinitionInMemory);
  cursor.SetIsTemporary(false);
  cursor.SetIsResultSet(false);
  switch (Kind) {
    case skCreateTable:
      ExecuteCreateTableQuery();
      break;
    case skCreateIndex:
      ExecuteCreateIndexQuery();
      break;
    case skDropTable:
      ExecuteDropTableQuery();
      break;
    case skDropIndex:
      ExecuteDropIndexQuery();
      break;
    default:
      break;
  }
}

void TDataQuery::ExecuteCreateTableQuery() {
  TDataCursor& cursor = *DefinitionTarget.Cursor;
  TDataCursor::TCreateTableArguments arguments;
  arguments.LanguageID = LanguageID;
  arguments.SortID = SortID;
  arguments.UserMajorVersion = UserMajorVersion;
  arguments.UserMinorVersion = UserMinorVersion;
  arguments.Encrypted = Encrypted;
  arguments.Password = Password;
  arguments.Description = TableDescription;
  arguments.BlobBlockSize = BlobBlockSize;
  arguments.Fields.reserve(CreateFields.size());
  for (std::size_t i = 0; i < CreateFields.size(); ++i) {
    arguments.Fields.push_back(CreateFields[i].BuildFieldInfo(static_cast<std::uint16_t>(i + 1)));
  }
  // Slot 0: the PRIMARY KEY clause, or a definition without key fields (the
  // table then has no primary index). There are no secondary indexes.
  arguments.Indexes.push_back(CreateIndexes.empty() ? MakeEmptyIndexDefinition()
                                                    : BuildIndexDefinition(CreateIndexes.front(), arguments.Fields));
  if (HasTextIndex) {
    TIndexDefinition text = MakeEmptyIndexDefinition();
    text.Name.Assign(kSysTextIndexName);
    text.Compression = icFull;
    ResolveKeyFields(TextIndex, arguments.Fields, text, [](const std::string& column) {
      RaiseSqlError("Invalid field name '" + column + "'" + " specified for text index");
    });
    arguments.HasTextIndex = true;
    arguments.TextIndex = text;
  }
  if (IfNotExists && cursor.Directory().DataTableExists(cursor.TableName(), DefinitionInMemory)) return;
  arguments.AllowEmptyPrimaryIndex = true;
  arguments.StopWords = StopWordsGiven ? &StopWords : nullptr;
  arguments.SpaceChars = SpaceChars;
  arguments.IncludeChars = IncludeChars;
  arguments.Overwrite = false;
  cursor.CreateTable(arguments);
}

void TDataQuery::ExecuteCreateIndexQuery() {
  TDataCursor& cursor = *DefinitionTarget.Cursor;
  const TExclusiveOpen open(cursor);
  const TCreateIndex& index = CreateIndexes.front();
  TIndexDefinition def = BuildIndexDefinition(index, TableFields(cursor));
  if (IfNotExists && cursor.IndexExists(index.Name)) return;
  cursor.AddSecondaryIndex(def);
}

void TDataQuery::ExecuteDropTableQuery() {
  TDataCursor& cursor = *DefinitionTarget.Cursor;
  if (IfExists && !cursor.Directory().DataTableExists(cursor.TableName(), DefinitionInMemory)) return;
  cursor.DeleteTable();
}

void TDataQuery::ExecuteDropIndexQuery() {
  TDataCursor& cursor = *DefinitionTarget.Cursor;
  const TExclusiveOpen open(cursor);
  if (AnsiSameText(DropIndexName, "PRIMARY")) {
    // The primary index has the empty name.
    if (IfExists && !cursor.Table()->HasPrimaryIndex()) return;
    cursor.DeleteIndex("", TDataCursor::TIndexDefinitionRemoval::idRemove);
    return;
  }
  if (IfExists && !cursor.IndexExists(DropIndexName)) return;
  cursor.DeleteIndex(DropIndexName, TDataCursor::TIndexDefinitionRemoval::idRemove);
}

}  // namespace tarn
