// TQueryStatement: preparation of the first statement of a text, execution of
// it and of every later statement, placeholders and the callbacks to the
// component.
#include "sql/query_statement.h"

#include <chrono>
#include <cstring>

#include "core/errors.h"
#include "engine/data_session.h"

namespace tarn {

namespace {

constexpr std::string_view kStatementDescription = "SQL statement";

[[noreturn]] void RaiseSql(std::string_view message) { RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, message); }

}  // namespace

TQueryStatement::TQueryStatement(TDataDirectory& directory) : directory_(directory), parser_(this) {
  queries_.push_back(std::make_unique<TDataQuery>(*this));
}

TQueryStatement::~TQueryStatement() {
  // Queries free their result tables and close their source tables; the
  // master goes last, as sub-selects and UNION parts refer to it.
  while (!queries_.empty()) queries_.pop_back();
}

TDataSession& TQueryStatement::GetDataSession() const { return directory_.Session(); }

TDataQuery& TQueryStatement::NewQuery() {
  queries_.push_back(std::make_unique<TDataQuery>(*this));
  return *queries_.back();
}

void TQueryStatement::AddParameter(TExpToken& parameter) { parameters_.push_back(&parameter); }

TExpSubQuery* TQueryStatement::ParseSubSelect(TExpressionParser& parser) {
  (void)parser;  // the statement's own parser: sub-selects share it
  TDataQuery& query = NewQuery();
  query.IsSubSelect = true;
  query.ParseQuery(/*subSelect=*/true, /*unionPart=*/false);
  return &query;
}

void TQueryStatement::ResetQueryList() {
  while (!queries_.empty()) queries_.pop_back();
  queries_.push_back(std::make_unique<TDataQuery>(*this));
  parameters_.clear();
}

void TQueryStatement::ParseNextStatement() {
  parser_.ErrorCode = TARN_SQLPARSE;
  parser_.TableName.clear();
  parser_.DatabaseName = directory_.Name();
  parser_.ExpressionDescription = kStatementDescription;
  MasterQuery().ParseQuery(/*subSelect=*/false, /*unionPart=*/false);
}

void TQueryStatement::ParseStatement(const std::string& text) {
  ResetQueryList();
  parser_.SetExpression(text);
  parser_.NextToken();
  ParseNextStatement();
}

void TQueryStatement::PrepareStatement(const std::string& text) {
  ParseStatement(text);
  PrepareDataQueries();
}

void TQueryStatement::PrepareDataQueries() {
  TDataQuery& master = MasterQuery();
  kind_ = master.Kind;
  if (kind_ == skSelect) {
    master.RequestLive = RequestLive && master.RequestLive;
    master.MaxRowCount = MaxRowCount;
  } else {
    master.RequestLive = true;
    master.MaxRowCount = -1;
  }
  for (auto it = queries_.rbegin(); it != queries_.rend(); ++it) (*it)->PrepareQuery();
  // A UNION part writes its rows into the result table of the query it
  // follows.
  for (const auto& query : queries_) {
    if (query->UnionPart != nullptr) query->UnionPart->resultCursor_ = query->resultCursor_;
  }
  liveRequested_ = master.RequestLive;
  liveGranted_ = master.LiveResult;
  selectStar_ = master.SelectStar;
  if (statementCallback_ != nullptr) {
    statementCallback_(statementUserData_, *this, kind_, selectStar_, liveGranted_, liveRequested_);
  }
}

int TQueryStatement::SetStatementParameters(std::uint16_t count, const TFieldDefinition* definitions,
                                            const std::uint8_t* buffer) {
  if (count > parameters_.size()) RaiseSql("Internal parameter error");
  for (std::uint16_t i = 0; i < count; ++i) {
    const TFieldDefinition& def = definitions[i];
    TExpToken& node = *parameters_[i];
    const std::uint8_t* at = buffer + def.FieldOffset;
    node.DataType = def.DataType;
    node.SubType = def.SubType;
    node.IsNull = at[0] == 0;
    const std::uint8_t* value = at + 1;
    if (def.DataType == dtBlob) {
      std::int32_t length = 0;
      std::memcpy(&length, value, sizeof length);
      const std::uint8_t* bytes = nullptr;
      std::memcpy(&bytes, value + sizeof length, sizeof bytes);
      if (length < 0 || (length > 0 && bytes == nullptr)) RaiseSql("Internal parameter error");
      const bool memo = def.SubType == dstMemo;
      node.SetDataSize(length + (memo ? 1 : 0));
      std::memset(node.ValueData(), 0, node.ValueCapacity());
      if (length > 0) std::memcpy(node.ValueData(), bytes, static_cast<std::size_t>(length));
      node.Decimals = 0;
      node.DataSize = length + (memo ? 1 : 0);
    } else {
      node.SetDataSize(def.PhysicalSize);
      std::memset(node.ValueData(), 0, node.ValueCapacity());
      std::memcpy(node.ValueData(), value, def.PhysicalSize);
      node.Decimals = def.PhysicalDecimals;
    }
  }
  return 0;
}

void TQueryStatement::ExecuteDataQueries(TDataCursor*& result) {
  result = nullptr;
  for (std::size_t i = queries_.size(); i-- > 1;) {
    TDataCursor* ignored = nullptr;
    queries_[i]->ExecuteQuery(ignored);
  }
  TDataQuery& master = MasterQuery();
  master.ExecuteQuery(result);
  executionTime_ += master.ExecutionTime;
  rowsAffected_ += master.RowsAffected;
  if (master.Kind != skSelect) result = nullptr;
}

void TQueryStatement::ExecuteStatement(TDataCursor*& result, bool progressWanted) {
  progressWanted_ = progressWanted;
  executionTime_ = 0;
  rowsAffected_ = 0;
  ExecuteDataQueries(result);
  while (parser_.TokenKind() != tkEndOfText) {
    ResetQueryList();
    ParseNextStatement();
    PrepareDataQueries();
    ExecuteDataQueries(result);
  }
}

TDataCursor* TQueryStatement::GetResultTable() const { return queries_.empty() ? nullptr : MasterQuery().ResultCursor(); }

void TQueryStatement::SetPasswordCallback(void* userData, TStatementPasswordCallback callback) noexcept {
  passwordUserData_ = userData;
  passwordCallback_ = callback;
}

void TQueryStatement::SetQueryProgressCallback(void* userData, TQueryProgressCallback callback) noexcept {
  progressUserData_ = userData;
  progressCallback_ = callback;
}

void TQueryStatement::SetQueryStatementCallback(void* userData, TQueryStatementCallback callback) noexcept {
  statementUserData_ = userData;
  statementCallback_ = callback;
}

void TQueryStatement::SetSaveProgressCallback(void* userData, TSaveProgressCallback callback) noexcept {
  saveUserData_ = userData;
  saveCallback_ = callback;
}

bool TQueryStatement::AskForPassword(const std::string& table) {
  return passwordCallback_ != nullptr && passwordCallback_(passwordUserData_, *this, table);
}

int TQueryStatement::GetProgressPercent() const { return directory_.Session().GetProgressPercent(); }

bool TQueryStatement::ReportProgress(int percent) {
  if (!progressWanted_ || progressCallback_ == nullptr) return false;
  bool stop = false;
  progressCallback_(progressUserData_, *this, percent, stop);
  return stop;
}

}  // namespace tarn
