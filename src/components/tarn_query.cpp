// The query component: SQL text, preparation, parameters and execution.
#include "components/tarn_query.h"

#include <cstring>

#include "components/db_messages.h"
#include "components/field.h"
#include "components/tarn_session.h"
#include "core/errors.h"
#include "expressions/bcd_values.h"
#include "sql/query_statement.h"

namespace tarn {

namespace {

// Longest string passed as a string; longer ones go as BLOB values.
constexpr std::size_t kMaxStringParameter = 250;

void ProgressThunk(void* userData, TQueryStatement& /*statement*/, int percent, bool& stop) {
  auto* query = static_cast<TTarnQuery*>(userData);
  if (query->OnQueryProgress) query->OnQueryProgress(*query, static_cast<std::uint16_t>(percent), stop);
}

void SaveProgressThunk(void* userData, TQueryStatement& /*statement*/, int percent) {
  auto* query = static_cast<TTarnQuery*>(userData);
  if (query->OnSaveProgress) query->OnSaveProgress(*query, static_cast<std::uint16_t>(percent));
}

template <class T>
void AppendValue(std::vector<std::uint8_t>& buffer, T value) {
  const std::size_t at = buffer.size();
  buffer.resize(at + sizeof value);
  std::memcpy(buffer.data() + at, &value, sizeof value);
}

}  // namespace

TTarnQuery::TTarnQuery(TComponent* owner) : TTarnDBDataSet(owner) {
  sql_.OnChange = [this] { QueryChanged(); };
}

TTarnQuery::~TTarnQuery() {
  BeginDestroying();
  try {
    Close();
    UnPrepare();
  } catch (...) {
  }
  if (dataSource_ != nullptr) dataSource_->RemoveDataLink(*this);
  dataSource_ = nullptr;
}

// --- SQL text and parameters ---------------------------------------------------------------------

void TTarnQuery::QueryChanged() {
  if (Loading()) {
    DeriveParams(false);
    return;
  }
  Close();
  UnPrepare();
  DeriveParams(true);
}

void TTarnQuery::DeriveParams(bool recreate) {
  if (!paramCheck_) {
    text_ = sql_.Text();
    markers_.clear();
    for (int i = 0; i < params_.Count(); ++i) markers_.push_back(params_[i].Name());
    return;
  }
  std::vector<std::string> names;
  text_ = ParseSQLParams(sql_.Text(), names);
  markers_ = names;
  if (!recreate) {
    for (const std::string& name : names) params_.Add(name);
    return;
  }
  TParams fresh;
  for (const std::string& name : names) fresh.Add(name);
  fresh.AssignValues(params_);
  params_.Clear();
  for (int i = 0; i < fresh.Count(); ++i) params_.Add(fresh[i].Name()).AssignValue(fresh[i]);
}

void TTarnQuery::Loaded() {
  TTarnDBDataSet::Loaded();
  DeriveParams(false);
}

// --- properties ------------------------------------------------------------------------------------

void TTarnQuery::SetRequestLive(bool value) {
  if (value == requestLive_) return;
  CheckInactive();
  UnPrepare();
  requestLive_ = value;
}

void TTarnQuery::SetMaxRowCount(std::int32_t value) {
  maxRowCount_ = value;
  if (statement_) statement_->MaxRowCount = value;
}

void TTarnQuery::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  CheckInactive();
  readOnly_ = value;
}

void TTarnQuery::SetDataSource(TTarnDataSet* source) {
  if (source == dataSource_) return;
  for (TTarnDataSet* link = source; link != nullptr;) {
    if (link == this) throw EDatabaseError(db_messages::kCircularDataLink);
    auto* query = dynamic_cast<TTarnQuery*>(link);
    link = query != nullptr ? query->DataSource() : nullptr;
  }
  if (dataSource_ != nullptr) dataSource_->RemoveDataLink(*this);
  dataSource_ = source;
  if (dataSource_ != nullptr) dataSource_->AddDataLink(*this);
}

void TTarnQuery::SourceRecordChanged() {
  if (!Active() || dataSource_ == nullptr || !dataSource_->Active()) return;
  Close();
  Open();
}

void TTarnQuery::SourceDestroyed(TTarnDataSet& source) {
  if (&source == dataSource_) dataSource_ = nullptr;
}

void TTarnQuery::SetDatabaseName(const std::string& name) {
  if (name == DatabaseName()) return;
  if (Active()) throw EDatabaseError(db_messages::kDatabaseOpen);
  UnPrepare();
  TTarnDBDataSet::SetDatabaseName(name);
}

TStatementType TTarnQuery::StatementType() const {
  if (!statement_) return stUnknown;
  switch (statement_->Kind()) {
    case skSelect:
      return stSelect;
    case skInsert:
      return stInsert;
    case skUpdate:
      return stUpdate;
    case skDelete:
      return stDelete;
    case skCreateTable:
      return stCreateTable;
    case skAlterTable:
      return stAlterTable;
    case skDropTable:
      return stDropTable;
    case skCreateIndex:
      return stCreateIndex;
    case skDropIndex:
      return stDropIndex;
    default:
      return stUnknown;
  }
}

bool TTarnQuery::ResultIsLive() const { return statement_ != nullptr && statement_->LiveGranted(); }

bool TTarnQuery::CanModify() const { return !readOnly_ && ResultIsLive() && TTarnDBDataSet::CanModify(); }

// --- preparing -------------------------------------------------------------------------------------

void TTarnQuery::Prepare() {
  SetDBFlag(dbfPrepared, true);
  if (statement_) return;
  try {
    if (Active()) throw EDatabaseError(db_messages::kDataSetOpen);
    if (text_.size() < 2) throw EDatabaseError(db_messages::kNoSQLStatement);
    TTarnDatabase& database = *Database();
    auto statement = std::make_unique<TQueryStatement>(*database.Handle());
    statement->RequestLive = requestLive_;
    statement->MaxRowCount = maxRowCount_;
    statement->SetPasswordCallback(&database.Session(), &TTarnSession::StatementPasswordCallback);
    statement->PrepareStatement(text_);
    statement_ = std::move(statement);
  } catch (...) {
    if (!statement_ && !Active()) SetDBFlag(dbfPrepared, false);
    throw;
  }
}

void TTarnQuery::FreeStatement() { statement_.reset(); }

void TTarnQuery::UnPrepare() {
  // The answer cursor belongs to the statement: the dataset lets go of it first.
  if (Active()) Close();
  FreeStatement();
  SetDBFlag(dbfPrepared, false);
}

void TTarnQuery::SetPrepared(bool value) {
  if (value) {
    Prepare();
  } else {
    UnPrepare();
  }
}

void TTarnQuery::SetDBFlag(TDBFlag flag, bool value) {
  // Letting go of the database always frees the statement first.
  if (!value && DBFlag(flag)) {
    bool last = true;
    for (TDBFlag other : {dbfOpened, dbfPrepared, dbfExecSQL})
      if (other != flag && DBFlag(other)) last = false;
    if (last) FreeStatement();
  }
  TTarnDBDataSet::SetDBFlag(flag, value);
}

void TTarnQuery::Disconnect() {
  Close();
  UnPrepare();
  TTarnDBDataSet::Disconnect();
}

// --- executing ---------------------------------------------------------------------------------------

void TTarnQuery::TakeSourceValues() {
  if (dataSource_ == nullptr || !dataSource_->Active()) return;
  for (int i = 0; i < params_.Count(); ++i) {
    TParam& param = params_[i];
    if (param.Bound()) continue;
    TField* field = dataSource_->FindField(param.Name());
    if (field == nullptr) continue;
    if (field->IsNull()) {
      param.SetDataType(field->DataType());
      param.Clear();
    } else {
      switch (field->DataType()) {
        case ftSmallint:
          param.SetAsSmallInt(static_cast<std::int16_t>(field->AsInteger()));
          break;
        case ftWord:
          param.SetAsWord(static_cast<std::uint16_t>(field->AsInteger()));
          break;
        case ftInteger:
        case ftAutoInc:
          param.SetAsInteger(static_cast<std::int32_t>(field->AsLargeInt()));
          break;
        case ftLargeint:
          param.SetAsLargeInt(field->AsLargeInt());
          break;
        case ftFloat:
          param.SetAsFloat(field->AsFloat());
          break;
        case ftCurrency:
          param.SetAsCurrency(field->AsFloat());
          break;
        case ftBCD: {
          std::int64_t fixed = 0;
          FloatToFixed(field->AsFloat(), fixed);
          param.SetAsBCD(fixed);
          break;
        }
        case ftBoolean:
          param.SetAsBoolean(field->AsBoolean());
          break;
        case ftDate:
          param.SetAsDate(static_cast<std::int32_t>(field->AsFloat()));
          break;
        case ftTime:
          param.SetAsTime(static_cast<std::int32_t>(field->AsFloat()));
          break;
        case ftDateTime:
          param.SetAsDateTime(field->AsFloat());
          break;
        case ftMemo:
        case ftFmtMemo:
          param.SetAsMemo(field->AsString());
          break;
        case ftBlob:
        case ftGraphic:
        case ftTypedBinary:
          param.SetAsBlob(field->AsString());
          param.SetDataType(field->DataType());
          break;
        default:
          param.SetAsString(field->AsString());
          break;
      }
    }
    // Still the source's to fill at the next record.
    param.SetBound(false);
  }
}

void TTarnQuery::PassParams() {
  if (markers_.empty()) return;
  std::vector<TFieldDefinition> defs;
  std::vector<std::uint8_t> buffer;
  std::vector<std::string> texts;  // BLOB values stay here until the statement copied them
  texts.reserve(markers_.size());
  for (std::size_t i = 0; i < markers_.size(); ++i) {
    const TParam* param = params_.FindParam(markers_[i]);
    if (param == nullptr) throw EDatabaseError(FormatMessage(db_messages::kNoParameterValue, markers_[i]));
    std::uint8_t dataType = 0;
    std::uint8_t subType = 0;
    if (!EngineTypeOf(param->DataType(), dataType, subType))
      throw EDatabaseError(FormatMessage(db_messages::kNoParameterValue, param->Name()));
    if (dataType != dtBlob) subType = dstNone;  // only BLOB kinds carry their sub type
    TFieldDefinition def = MakeEmptyFieldDefinition();
    def.FieldNumber = static_cast<std::uint16_t>(i + 1);
    def.Name.Assign(param->Name());
    def.FieldOffset = static_cast<std::uint16_t>(buffer.size());
    const bool present = !param->IsNull();
    std::vector<std::uint8_t> value;
    const std::string text = param->AsString();
    if (dataType == dtString && text.size() > kMaxStringParameter) {
      dataType = dtBlob;
      subType = dstMemo;
    }
    def.DataType = dataType;
    def.SubType = subType;
    switch (dataType) {
      case dtString:
        def.Size = static_cast<std::uint8_t>(std::max<std::size_t>(text.size(), 1));
        value.assign(text.begin(), text.end());
        value.push_back(0);
        break;
      case dtBlob: {
        texts.push_back(text);
        AppendValue(value, static_cast<std::int32_t>(texts.back().size()));
        AppendValue(value, static_cast<const void*>(texts.back().data()));
        break;
      }
      case dtSmallInt:
        AppendValue(value, static_cast<std::int16_t>(param->AsLargeInt()));
        break;
      case dtWord:
        AppendValue(value, static_cast<std::uint16_t>(param->AsLargeInt()));
        break;
      case dtInteger:
        AppendValue(value, static_cast<std::int32_t>(param->AsLargeInt()));
        break;
      case dtLargeInt:
        AppendValue(value, param->AsLargeInt());
        break;
      case dtBoolean:
        AppendValue(value, static_cast<std::uint16_t>(param->AsLargeInt() != 0 ? 1 : 0));
        break;
      case dtFloat:
      case dtTimeStamp:
        AppendValue(value, param->AsFloat());
        break;
      case dtDate:
      case dtTime:
        AppendValue(value, static_cast<std::int32_t>(param->AsLargeInt()));
        break;
      case dtBCD: {
        def.Decimals = 4;
        value.resize(kBcdPhysicalSize);
        std::int64_t fixed = param->AsLargeInt();
        if (param->DataType() != ftBCD) FloatToFixed(param->AsFloat(), fixed);
        FixedToBcd(fixed, 4, value.data());
        break;
      }
      case dtBytes:
      case dtVarBytes:
        def.Size = static_cast<std::uint8_t>(std::min<std::size_t>(std::max<std::size_t>(text.size(), 1), 255));
        value.assign(text.begin(), text.begin() + def.Size <= text.end() ? text.begin() + def.Size : text.end());
        value.resize(def.Size);
        break;
      default:
        throw EDatabaseError(FormatMessage(db_messages::kNoParameterValue, param->Name()));
    }
    def.PhysicalSize = static_cast<std::uint8_t>(value.size());
    def.PhysicalDecimals = def.Decimals;
    buffer.push_back(present ? 1 : 0);
    if (!present) std::fill(value.begin(), value.end(), 0);
    buffer.insert(buffer.end(), value.begin(), value.end());
    defs.push_back(def);
  }
  Check(static_cast<TarnErrorCode>(
      statement_->SetStatementParameters(static_cast<std::uint16_t>(defs.size()), defs.data(), buffer.data())));
}

TDataCursor* TTarnQuery::Execute() {
  TakeSourceValues();
  PassParams();
  statement_->SetQueryProgressCallback(this, &ProgressThunk);
  TDataCursor* answer = nullptr;
  try {
    statement_->ExecuteStatement(answer);
  } catch (const ETarnEngineError& error) {
    if (error.ErrorCode() == TARN_SQLPARSE) UnPrepare();
    throw;
  }
  rowsAffected_ = statement_->RowsAffected();
  executionTime_ = statement_->ExecutionTime();
  return answer;
}

TDataCursor* TTarnQuery::CreateHandle(std::unique_ptr<TDataCursor>& /*owned*/) {
  if (sql_.Count() == 0 || text_.empty()) throw EDatabaseError(db_messages::kNoSQLStatement);
  Prepare();
  return Execute();
}

void TTarnQuery::ExecSQL() {
  CheckInactive();
  SetDBFlag(dbfExecSQL, true);
  try {
    Prepare();
    Execute();
  } catch (...) {
    SetDBFlag(dbfExecSQL, false);
    throw;
  }
  SetDBFlag(dbfExecSQL, false);
}

void TTarnQuery::SaveToTable(const std::string& tableName, const std::string& databaseName) {
  if (!statement_ || !Active()) return;
  TTarnSession& session = *DBSession();
  TTarnDatabase& target = session.OpenDatabase(databaseName, this);
  try {
    statement_->SetSaveProgressCallback(this, &SaveProgressThunk);
    statement_->SaveResultToTable(*target.Handle(), tableName, false);
  } catch (...) {
    session.CloseDatabase(target);
    throw;
  }
  session.CloseDatabase(target);
}

}  // namespace tarn
