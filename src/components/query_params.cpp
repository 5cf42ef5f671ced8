// Query parameters and the marker scan of SQL text.
#include "components/query_params.h"

#include "components/db_messages.h"
#include "components/field.h"
#include "core/errors.h"
#include "expressions/bcd_values.h"
#include "platform/code_page.h"

namespace tarn {

// --- TParam ---------------------------------------------------------------------------------------

void TParam::SetText(TFieldType kind, const std::string& value) {
  dataType_ = kind;
  text_ = value;
  null_ = false;
  bound_ = true;
}

void TParam::SetNumber(TFieldType kind, std::int64_t integer, double real) {
  dataType_ = kind;
  integer_ = integer;
  real_ = real;
  null_ = false;
  bound_ = true;
}

void TParam::SetAsString(const std::string& value) { SetText(ftString, value); }
void TParam::SetAsMemo(const std::string& value) { SetText(ftMemo, value); }
void TParam::SetAsBlob(const std::string& value) { SetText(ftBlob, value); }
void TParam::SetAsSmallInt(std::int16_t value) { SetNumber(ftSmallint, value, value); }
void TParam::SetAsWord(std::uint16_t value) { SetNumber(ftWord, value, value); }
void TParam::SetAsInteger(std::int32_t value) { SetNumber(ftInteger, value, value); }
void TParam::SetAsLargeInt(std::int64_t value) { SetNumber(ftLargeint, value, static_cast<double>(value)); }
void TParam::SetAsFloat(double value) { SetNumber(ftFloat, 0, value); }
void TParam::SetAsCurrency(double value) { SetNumber(ftCurrency, 0, value); }
void TParam::SetAsBCD(std::int64_t fixed) { SetNumber(ftBCD, fixed, FixedToFloat(fixed)); }
void TParam::SetAsBoolean(bool value) { SetNumber(ftBoolean, value ? 1 : 0, value ? 1 : 0); }
void TParam::SetAsDate(std::int32_t dayNumber) { SetNumber(ftDate, dayNumber, dayNumber); }
void TParam::SetAsTime(std::int32_t milliseconds) { SetNumber(ftTime, milliseconds, milliseconds); }
void TParam::SetAsDateTime(double timeStamp) { SetNumber(ftDateTime, 0, timeStamp); }

void TParam::Clear() {
  null_ = true;
  text_.clear();
  integer_ = 0;
  real_ = 0;
  bound_ = true;
}

std::string TParam::AsString() const {
  if (null_) return {};
  switch (dataType_) {
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
      return FormatFloatGeneral(real_);
    case ftBCD:
      return FixedToText(integer_);
    case ftBoolean:
      return integer_ != 0 ? "True" : "False";
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftGuid:
    case ftMemo:
    case ftFmtMemo:
    case ftBlob:
    case ftGraphic:
    case ftTypedBinary:
    case ftBytes:
    case ftVarBytes:
      return text_;
    default:
      return IntToStr(integer_);
  }
}

std::int64_t TParam::AsLargeInt() const { return null_ ? 0 : integer_; }
double TParam::AsFloat() const { return null_ ? 0 : real_; }

void TParam::AssignValue(const TParam& source) {
  dataType_ = source.dataType_;
  bound_ = source.bound_;
  null_ = source.null_;
  text_ = source.text_;
  integer_ = source.integer_;
  real_ = source.real_;
}

// --- TParams --------------------------------------------------------------------------------------

TParam& TParams::Items(int index) const {
  if (index < 0 || index >= Count()) throw EDatabaseError(db_messages::kFieldIndexRange);
  return *items_[static_cast<std::size_t>(index)];
}

TParam* TParams::FindParam(const std::string& name) const {
  for (const auto& param : items_)
    if (AnsiSameText(param->Name(), name)) return param.get();
  return nullptr;
}

TParam& TParams::ParamByName(const std::string& name) const {
  TParam* param = FindParam(name);
  if (param == nullptr) throw EDatabaseError(FormatMessage(db_messages::kParameterNotFound, name));
  return *param;
}

TParam& TParams::Add(const std::string& name) {
  if (TParam* existing = FindParam(name)) return *existing;
  items_.push_back(std::make_unique<TParam>(name));
  return *items_.back();
}

void TParams::AssignValues(const TParams& old) {
  for (const auto& param : items_)
    if (const TParam* previous = old.FindParam(param->Name())) param->AssignValue(*previous);
}

// --- the marker scan --------------------------------------------------------------------------------

namespace {

bool IsNameDelimiter(char c) { return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n'; }
bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

// Bytes of the character at pos: 2 for a lead byte with a byte after it.
std::size_t CharBytes(const std::string& text, std::size_t pos) {
  return IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

}  // namespace

std::string ParseSQLParams(const std::string& sql, std::vector<std::string>& names) {
  names.clear();
  std::string out;
  out.reserve(sql.size());
  char quote = 0;  // the quote of the quoted text we are in, 0 outside
  std::size_t i = 0;
  while (i < sql.size()) {
    const std::size_t width = CharBytes(sql, i);
    if (width == 2) {
      out.append(sql, i, 2);
      i += 2;
      continue;
    }
    const char c = sql[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      out += c;
      ++i;
      continue;
    }
    if (IsQuote(c)) {
      quote = c;
      out += c;
      ++i;
      continue;
    }
    if (c != ':') {
      out += c;
      ++i;
      continue;
    }
    // A colon outside quoted text.
    if (i + 1 < sql.size() && sql[i + 1] == ':') {
      out += ':';
      i += 2;
      continue;
    }
    std::size_t j = i + 1;
    std::string name;
    if (j < sql.size() && IsQuote(sql[j])) {
      // A quoted name: up to the same quote (or the end of the text).
      const char nameQuote = sql[j++];
      while (j < sql.size() && sql[j] != nameQuote) {
        const std::size_t w = CharBytes(sql, j);
        name.append(sql, j, w);
        j += w;
      }
      if (j < sql.size()) ++j;
    } else {
      while (j < sql.size() && (CharBytes(sql, j) == 2 || !IsNameDelimiter(sql[j]))) {
        const std::size_t w = CharBytes(sql, j);
        name.append(sql, j, w);
        j += w;
      }
      if (name.empty()) {
        // A colon with no name after it is an ordinary character.
        out += c;
        ++i;
        continue;
      }
    }
    names.push_back(name);
    out += '?';
    i = j;
  }
  return out;
}

}  // namespace tarn
