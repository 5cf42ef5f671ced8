// Per-record evaluation of expression trees.
#include "sql/expression_evaluator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "engine/errors.h"
#include "platform/code_page.h"
#include "platform/locale_services.h"
#include "sql/date_time_values.h"
#include "sql/exp_token_stack.h"
#include "sql/expression_types.h"
#include "storage/data_types.h"

namespace tarn {

namespace {

bool IsIntegerType(std::uint8_t t) {
  return t == dtSmallInt || t == dtInteger || t == dtWord || t == dtLargeInt;
}

bool IsTextValue(const TExpToken& n) { return n.DataType == dtString || n.DataType == dtBlob; }

template <typename T>
T Read(const TExpToken& n) {
  T v{};
  std::memcpy(&v, n.Value.data(), sizeof(T));
  return v;
}

template <typename T>
void Write(TExpToken& n, T v) {
  n.SetDataSize(static_cast<std::int32_t>(sizeof(T)));
  std::memcpy(n.Value.data(), &v, sizeof(T));
}

std::int64_t IntValue(const TExpToken& n) {
  switch (n.DataType) {
    case dtSmallInt: return Read<std::int16_t>(n);
    case dtWord: case dtBoolean: return Read<std::uint16_t>(n);
    case dtInteger: case dtDate: case dtTime: return Read<std::int32_t>(n);
    case dtLargeInt: return Read<std::int64_t>(n);
    case dtFloat: case dtTimeStamp: {
      const double d = Read<double>(n);
      return std::isfinite(d) && std::fabs(d) < 9.2e18 ? static_cast<std::int64_t>(d) : 0;
    }
    default: return 0;
  }
}

double FloatValue(const TExpToken& n) {
  if (n.DataType == dtFloat || n.DataType == dtTimeStamp) return Read<double>(n);
  return static_cast<double>(IntValue(n));
}

// Stores an integer in the width of the node's type; wraps (low-order bits).
void WriteInteger(TExpToken& n, std::uint64_t v) {
  switch (n.DataType) {
    case dtSmallInt: Write(n, static_cast<std::int16_t>(static_cast<std::uint16_t>(v))); break;
    case dtWord: Write(n, static_cast<std::uint16_t>(v)); break;
    case dtLargeInt: Write(n, static_cast<std::int64_t>(v)); break;
    default: Write(n, static_cast<std::int32_t>(static_cast<std::uint32_t>(v))); break;
  }
}

void SetNull(TExpToken& n) {
  n.IsNull = true;
  std::fill(n.Value.begin(), n.Value.begin() + std::min<std::size_t>(n.Value.size(), 256), std::uint8_t{0});
}

void SetBoolean(TExpToken& n, bool v) {
  n.DataType = dtBoolean;
  n.SubType = 0;
  n.IsNull = false;
  n.SetBooleanValue(v);
}

bool BooleanValue(const TExpToken& n) { return !n.IsNull && Read<std::uint16_t>(n) != 0; }

void SetString(TExpToken& n, const std::string& s) {
  n.SetStringValue(s);
  n.IsNull = s.empty();  // an empty string result is NULL
}

[[noreturn]] void NotEvaluable(const TExpToken& node) {
  RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {},
             "Internal error: '" + node.Text + "' cannot be evaluated by this engine version");
}

int CompareText(const TExpToken& l, const TExpToken& r, std::uint16_t sortID, std::uint16_t languageID) {
  const std::string a = l.IsNull ? std::string() : l.StringValue();
  const std::string b = r.IsNull ? std::string() : r.StringValue();
  if (languageID == 0) return AnsiCompareStr(a, b) < 0 ? -1 : (a == b ? 0 : 1);
  return OSCompareStrings(languageID, sortID, a, b, false);
}

int CompareValues(const TExpToken& l, const TExpToken& r) {
  const bool lTemporalStamp = l.DataType == dtTimeStamp || r.DataType == dtTimeStamp;
  if (lTemporalStamp && (l.DataType == dtDate || r.DataType == dtDate)) {
    auto ms = [](const TExpToken& n) {
      return n.DataType == dtDate ? static_cast<double>(Read<std::int32_t>(n)) * kMillisecondsPerDay : Read<double>(n);
    };
    const double a = ms(l), b = ms(r);
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  if (l.DataType == dtBoolean && r.DataType == dtBoolean) {
    const bool a = Read<std::uint16_t>(l) != 0, b = Read<std::uint16_t>(r) != 0;
    return a == b ? 0 : (a ? 1 : -1);
  }
  const bool exact = (IsIntegerType(l.DataType) || l.DataType == dtDate || l.DataType == dtTime) &&
                     (IsIntegerType(r.DataType) || r.DataType == dtDate || r.DataType == dtTime);
  if (exact) {
    const std::int64_t a = IntValue(l), b = IntValue(r);
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  if (l.DataType == dtBCD || r.DataType == dtBCD) NotEvaluable(l);
  if (l.DataType == dtBytes || l.DataType == dtVarBytes) {
    const auto size = static_cast<std::size_t>(std::max(0, std::min(l.DataSize, r.DataSize)));
    const int c = std::memcmp(l.Value.data(), r.Value.data(), std::min(size, l.Value.size()));
    return c < 0 ? -1 : (c > 0 ? 1 : (l.DataSize < r.DataSize ? -1 : (l.DataSize > r.DataSize ? 1 : 0)));
  }
  const double a = FloatValue(l), b = FloatValue(r);
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool Holds(TExpOperator op, int c) {
  switch (op) {
    case eoEQ: return c == 0;
    case eoNE: return c != 0;
    case eoGT: return c > 0;
    case eoLT: return c < 0;
    case eoGE: return c >= 0;
    default: return c <= 0;
  }
}

class TEvaluator {
 public:
  TEvaluator(const std::uint8_t* record, void* context, TEvaluateFieldCallback callback, std::uint16_t sortID,
             std::uint16_t languageID)
      : record_(record), context_(context), callback_(callback), sortID_(sortID), languageID_(languageID) {}

  TExpTokenPtr Evaluate(const TExpToken& node);

 private:
  TExpTokenPtr ResultFor(const TExpToken& node) {
    TExpTokenPtr result = GetNewExpTokenInstance();
    result->Copy(node);
    result->NodeClass = enCONST;
    return result;
  }
  void Arithmetic(const TExpToken& node, const TExpToken& l, const TExpToken& r, TExpToken& out);
  void Function(const TExpToken& node, TExpToken& out);

  const std::uint8_t* record_;
  void* context_;
  TEvaluateFieldCallback callback_;
  std::uint16_t sortID_;
  std::uint16_t languageID_;
};

TExpTokenPtr TEvaluator::Evaluate(const TExpToken& node) {
  TExpTokenPtr out = ResultFor(node);
  switch (node.NodeClass) {
    case enCONST:
      break;
    case enFIELD:
      if (node.WasConstant) {
        out->DataType = node.SavedDataType;
        out->DataSize = node.SavedDataSize;
        break;
      }
      if (callback_ == nullptr)
        RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {},
                   "Internal error: Column '" + node.FieldName + "' specified illegally");
      callback_(context_, record_, *out);
      break;
    case enUNARY: {
      TExpTokenPtr v = Evaluate(*node.Left);
      switch (node.Operator) {
        case eoNOT: SetBoolean(*out, !BooleanValue(*v)); break;
        case eoISBLANK: SetBoolean(*out, v->IsNull); break;
        case eoNOTBLANK: SetBoolean(*out, !v->IsNull); break;
        case eoPLUS: out->Copy(*v); out->NodeClass = enCONST; break;
        case eoMINUS:
          out->IsNull = v->IsNull;
          if (v->IsNull) SetNull(*out);
          else if (v->DataType == dtFloat || v->DataType == dtTimeStamp) Write(*out, -Read<double>(*v));
          else if (v->DataType == dtBCD) NotEvaluable(node);
          else WriteInteger(*out, 0 - static_cast<std::uint64_t>(IntValue(*v)));
          break;
        default: NotEvaluable(node);
      }
      break;
    }
    case enBINARY:
    case enCOMPARE: {
      if (node.Operator == eoAND || node.Operator == eoOR) {
        // The right side first: it decides alone when it is false (AND) or true (OR).
        const bool right = BooleanValue(*Evaluate(*node.Right));
        if (node.Operator == eoAND && !right) { SetBoolean(*out, false); break; }
        if (node.Operator == eoOR && right) { SetBoolean(*out, true); break; }
        SetBoolean(*out, BooleanValue(*Evaluate(*node.Left)));
        break;
      }
      TExpTokenPtr l = Evaluate(*node.Left);
      TExpTokenPtr r = Evaluate(*node.Right);
      if (node.Operator >= eoEQ && node.Operator <= eoLE) {
        if (node.NodeClass == enCOMPARE) NotEvaluable(node);
        SetBoolean(*out, EvaluateComparison(node.Operator, *l, *r, sortID_, languageID_));
      } else {
        Arithmetic(node, *l, *r, *out);
      }
      break;
    }
    case enEXTBINARY: {
      TExpTokenPtr value = Evaluate(*node.Arguments.at(0));
      bool result = false;
      switch (node.Operator) {
        case eoLIKE: case eoNOTLIKE: {
          TExpTokenPtr pattern = Evaluate(*node.Arguments.at(1));
          result = !value->IsNull && !pattern->IsNull &&
                   MatchLikePattern(value->StringValue(), pattern->StringValue(), sortID_, languageID_);
          if (node.Operator == eoNOTLIKE) result = !result;
          break;
        }
        case eoIN: case eoNOTIN:
          for (std::size_t i = 1; i < node.Arguments.size() && !result; ++i)
            result = EvaluateComparison(eoEQ, *value, *Evaluate(*node.Arguments[i]), sortID_, languageID_);
          if (node.Operator == eoNOTIN) result = !result;
          break;
        case eoBETWEEN: case eoNOTBETWEEN:
          result = EvaluateComparison(eoGE, *value, *Evaluate(*node.Arguments.at(1)), sortID_, languageID_) &&
                   EvaluateComparison(eoLE, *value, *Evaluate(*node.Arguments.at(2)), sortID_, languageID_);
          if (node.Operator == eoNOTBETWEEN) result = !result;
          break;
        default:
          NotEvaluable(node);
      }
      SetBoolean(*out, result);
      break;
    }
    case enFUNC:
      Function(node, *out);
      break;
    default:
      NotEvaluable(node);
  }
  if (out->DataType == dtBoolean && !out->IsNull && Read<std::uint16_t>(*out) > 1) out->SetBooleanValue(true);
  return out;
}

void TEvaluator::Arithmetic(const TExpToken& node, const TExpToken& l, const TExpToken& r, TExpToken& out) {
  out.IsNull = false;
  if (node.Operator == eoADD && IsTextValue(l) && IsTextValue(r)) {
    // Concatenation treats NULL as empty.
    const std::string joined = (l.IsNull ? std::string() : l.StringValue()) + (r.IsNull ? std::string() : r.StringValue());
    SetString(out, joined);
    out.DataSize = std::max<std::int32_t>(out.DataSize, l.DataSize + r.DataSize - 1);
    out.SetDataSize(out.DataSize);
    return;
  }
  if (l.IsNull || r.IsNull) return SetNull(out);
  if (out.DataType == dtBCD || l.DataType == dtBCD || r.DataType == dtBCD) NotEvaluable(node);
  const std::uint8_t lt = l.DataType, rt = r.DataType;
  // Dates, times and timestamps.
  if (lt == dtTimeStamp || rt == dtTimeStamp || lt == dtDate || rt == dtDate || lt == dtTime || rt == dtTime) {
    auto low32 = [](const TExpToken& n) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(IntValue(n))); };
    const double msPerDay = static_cast<double>(kMillisecondsPerDay);
    if (lt == dtTimeStamp && rt == dtTimeStamp) return Write(out, Read<double>(l) - Read<double>(r));
    if (lt == dtTimeStamp && rt == dtDate)
      return WriteInteger(out, static_cast<std::uint64_t>(static_cast<std::int64_t>(std::floor(Read<double>(l) / msPerDay)) - Read<std::int32_t>(r)));
    if (lt == dtTimeStamp && rt == dtTime)
      return WriteInteger(out, static_cast<std::uint64_t>(static_cast<std::int64_t>(std::fmod(Read<double>(l), msPerDay)) - Read<std::int32_t>(r)));
    if (lt == dtTimeStamp || rt == dtTimeStamp) {
      const bool stampLeft = lt == dtTimeStamp;
      const double stamp = Read<double>(stampLeft ? l : r);
      const double days = static_cast<double>(low32(stampLeft ? r : l)) * msPerDay;
      return Write(out, node.Operator == eoSUB ? stamp - days : stamp + days);
    }
    if ((lt == dtDate && rt == dtDate) || (lt == dtTime && rt == dtTime))
      return WriteInteger(out, static_cast<std::uint32_t>(Read<std::int32_t>(l)) - static_cast<std::uint32_t>(Read<std::int32_t>(r)));
    const bool temporalLeft = lt == dtDate || lt == dtTime;
    const std::uint32_t base = static_cast<std::uint32_t>(Read<std::int32_t>(temporalLeft ? l : r));
    const std::uint32_t n = static_cast<std::uint32_t>(low32(temporalLeft ? r : l));
    return Write(out, static_cast<std::int32_t>(node.Operator == eoSUB ? base - n : base + n));
  }
  if (node.Operator == eoDIV || out.DataType == dtFloat) {
    const double a = FloatValue(l), b = FloatValue(r);
    double v = 0;
    switch (node.Operator) {
      case eoADD: v = a + b; break;
      case eoSUB: v = a - b; break;
      case eoMUL: v = a * b; break;
      default:
        if (b == 0) return SetNull(out);
        v = a / b;
    }
    out.DataType = dtFloat;
    return Write(out, v);
  }
  // Integers wrap in the width of the result type.
  const auto a = static_cast<std::uint64_t>(IntValue(l)), b = static_cast<std::uint64_t>(IntValue(r));
  switch (node.Operator) {
    case eoADD: return WriteInteger(out, a + b);
    case eoSUB: return WriteInteger(out, a - b);
    case eoMUL: return WriteInteger(out, a * b);
    default: NotEvaluable(node);
  }
}

void TEvaluator::Function(const TExpToken& node, TExpToken& out) {
  out.IsNull = false;
  auto arg = [&](std::size_t i) { return Evaluate(*node.Arguments.at(i)); };
  switch (node.Operator) {
    case eoSUM: case eoRUNSUM: case eoAVG: case eoMIN: case eoMAX: case eoCOUNT: {
      TExpTokenPtr v = arg(0);
      out.Copy(*v);
      out.NodeClass = enCONST;
      return;
    }
    case eoUPPER: case eoLOWER: {
      TExpTokenPtr v = arg(0);
      if (v->IsNull) return SetNull(out);
      const std::string s = v->StringValue();
      return SetString(out, node.Operator == eoUPPER ? AnsiUpperCase(s) : AnsiLowerCase(s));
    }
    case eoLENGTH: {
      TExpTokenPtr v = arg(0);
      if (v->IsNull) return SetNull(out);
      return Write(out, static_cast<std::int32_t>(v->StringLength()));
    }
    case eoSUBSTRING: {
      TExpTokenPtr v = arg(0);
      TExpTokenPtr from = arg(1);
      if (v->IsNull || from->IsNull) return SetNull(out);
      const std::string s = v->StringValue();
      std::int64_t start = std::max<std::int64_t>(IntValue(*from), 1) - 1;
      std::int64_t count = static_cast<std::int64_t>(s.size());
      if (node.Arguments.size() > 2) {
        TExpTokenPtr length = arg(2);
        if (length->IsNull) return SetNull(out);
        count = IntValue(*length);
      }
      if (count < 1 || start >= static_cast<std::int64_t>(s.size())) return SetString(out, std::string());
      return SetString(out, s.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count)));
    }
    case eoTRIMLEADING: case eoTRIMTRAILING: case eoTRIMBOTH: {
      TExpTokenPtr c = arg(0);
      TExpTokenPtr v = arg(1);
      if (v->IsNull) return SetNull(out);
      std::string s = v->StringValue();
      const char ch = c->IsNull ? '\0' : static_cast<char>(c->Value[0]);
      if (node.Operator != eoTRIMTRAILING) s.erase(0, s.find_first_not_of(ch));
      if (node.Operator != eoTRIMLEADING) {
        const std::size_t last = s.find_last_not_of(ch);
        s.erase(last == std::string::npos ? 0 : last + 1);
      }
      return SetString(out, s);
    }
    case eoABS: {
      TExpTokenPtr v = arg(0);
      if (v->IsNull) return SetNull(out);
      if (v->DataType == dtFloat) return Write(out, std::fabs(Read<double>(*v)));
      if (v->DataType == dtBCD) NotEvaluable(node);
      const std::int64_t i = IntValue(*v);
      return WriteInteger(out, i < 0 ? 0 - static_cast<std::uint64_t>(i) : static_cast<std::uint64_t>(i));
    }
    case eoEXTRACTYEAR: case eoEXTRACTMONTH: case eoEXTRACTDAY: case eoEXTRACTDAYOFWEEK:
    case eoEXTRACTHOUR: case eoEXTRACTMINUTE: case eoEXTRACTSECOND: {
      TExpTokenPtr v = arg(0);
      if (v->IsNull) return SetNull(out);
      std::int32_t day = 0, ms = 0;
      const bool hasDate = v->DataType != dtTime, hasTime = v->DataType != dtDate;
      if (v->DataType == dtDate) day = Read<std::int32_t>(*v);
      else if (v->DataType == dtTime) ms = Read<std::int32_t>(*v);
      else {
        const double stamp = Read<double>(*v);
        const double days = std::floor(stamp / static_cast<double>(kMillisecondsPerDay));
        if (!std::isfinite(days) || std::fabs(days) > 4e6) return SetNull(out);
        day = static_cast<std::int32_t>(days);
        ms = static_cast<std::int32_t>(stamp - days * static_cast<double>(kMillisecondsPerDay));
      }
      int y, mo, d, h, mi, s, msec;
      DecodeDate(day, y, mo, d);
      DecodeTime(ms, h, mi, s, msec);
      std::int32_t result = 0;
      switch (node.Operator) {
        case eoEXTRACTYEAR: result = hasDate ? y : 0; break;
        case eoEXTRACTMONTH: result = hasDate ? mo : 0; break;
        case eoEXTRACTDAY: result = hasDate ? d : 0; break;
        case eoEXTRACTDAYOFWEEK: result = hasDate ? DayOfWeek(day) : 0; break;
        case eoEXTRACTHOUR: result = hasTime ? h : 0; break;
        case eoEXTRACTMINUTE: result = hasTime ? mi : 0; break;
        default: result = hasTime ? s : 0; break;
      }
      return Write(out, result);
    }
    case eoIF: {
      const bool condition = BooleanValue(*arg(0));
      TExpTokenPtr chosen = arg(condition ? 1 : 2);
      if (chosen->IsNull) return SetNull(out);
      if (chosen->DataType != out.DataType) NotEvaluable(node);
      const std::uint8_t type = out.DataType;
      const std::int32_t size = out.DataSize;
      out.Copy(*chosen);
      out.NodeClass = enCONST;
      out.DataType = type;
      out.DataSize = std::max(size, chosen->DataSize);
      return;
    }
    default:
      NotEvaluable(node);
  }
}

}  // namespace

bool EvaluateComparison(TExpOperator op, const TExpToken& left, const TExpToken& right, std::uint16_t sortID,
                        std::uint16_t languageID) {
  if (IsTextValue(left) && (IsTextValue(right) || right.DataType == 0)) {
    if ((op == eoEQ || op == eoNE) && (left.IsNull || right.IsNull)) {
      const bool equal = left.IsNull && right.IsNull;
      return op == eoEQ ? equal : !equal;
    }
    return Holds(op, CompareText(left, right, sortID, languageID));  // NULL counts as empty
  }
  if (left.IsNull || right.IsNull) {
    if (op == eoEQ) return left.IsNull && right.IsNull;
    if (op == eoNE) return !(left.IsNull && right.IsNull);
    if (!(left.IsNull && right.IsNull)) return false;
  }
  if (left.DataType == 0 || right.DataType == 0) return false;
  return Holds(op, CompareValues(left, right));
}

bool MatchLikePattern(std::string_view value, std::string_view pattern, std::uint16_t sortID,
                      std::uint16_t languageID) {
  std::size_t v = 0, p = 0;
  std::size_t starP = std::string_view::npos, starV = 0;
  auto same = [&](std::size_t vi, std::size_t pi, std::size_t len) {
    if (languageID == 0 || len != 1) return value.substr(vi, len) == pattern.substr(pi, len);
    return OSCompareCharNoAccent(languageID, sortID, value[vi], pattern[pi]) == 0;
  };
  while (v < value.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      starP = ++p;
      starV = v;
      continue;
    }
    const std::size_t vLen = CharLength(value, v);
    if (p < pattern.size()) {
      const std::size_t pLen = CharLength(pattern, p);
      if ((pLen == 1 && pattern[p] == '_') || (pLen == vLen && same(v, p, pLen))) {
        v += vLen;
        p += pLen;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    // Let the last '%' absorb one more character and retry.
    starV += CharLength(value, starV);
    v = starV;
    p = starP;
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

TExpTokenPtr EvaluateExpressionToken(const TExpToken& node, const std::uint8_t* record, void* context,
                                     TEvaluateFieldCallback fieldCallback, std::uint16_t sortID,
                                     std::uint16_t languageID) {
  TEvaluator evaluator(record, context, fieldCallback, sortID, languageID);
  return evaluator.Evaluate(node);
}

}  // namespace tarn
