// Per-record evaluation of expression trees.
#include "expressions/expression_evaluator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/code_page.h"
#include "platform/locale_services.h"
#include "expressions/bcd_values.h"
#include "expressions/builtin_function_rules.h"
#include "expressions/date_time_values.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_layer.h"
#include "expressions/expression_types.h"
#include "expressions/text_code_page.h"
#include "expressions/text_word_search.h"
#include "expressions/value_conversion.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

bool IsIntegerType(std::uint8_t t) {
  return t == dtSmallInt || t == dtWord || t == dtInteger || t == dtLargeInt;
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

// The text of a string or memo value (up to its zero byte), without copying.
std::string_view TextOf(const TExpToken& n) {
  if (n.IsNull) return {};
  return std::string_view(reinterpret_cast<const char*>(n.Value.data()), n.StringLength());
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

[[noreturn]] void NumericOverflow(const TExpToken& node) {
  RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, "Numeric overflow in expression '" + node.Text + "'");
}

[[noreturn]] void DoesNotFit(const TExpToken& node) {
  RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {},
             "Value out of range for the result type of expression '" + node.Text + "'");
}

[[noreturn]] void NotEvaluable(const TExpToken& node) {
  RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {},
             "Internal error: '" + node.Text + "' cannot be evaluated");
}

// A BCD, integer or boolean value as 4-decimal fixed point.
std::int64_t FixedValue(const TExpToken& n, const TExpToken& context) {
  std::int64_t fixed = 0;
  if (n.DataType == dtBCD) {
    if (!BcdToFixed(n.Value.data(), fixed)) NumericOverflow(context);
  } else if (n.DataType == dtFloat) {
    if (!FloatToFixed(Read<double>(n), fixed)) NumericOverflow(context);
  } else if (!IntegerToFixed(IntValue(n), fixed)) {
    NumericOverflow(context);
  }
  return fixed;
}

double FloatValue(const TExpToken& n) {
  if (n.DataType == dtFloat || n.DataType == dtTimeStamp) return Read<double>(n);
  if (n.DataType == dtBCD) {
    std::int64_t fixed = 0;
    if (!BcdToFixed(n.Value.data(), fixed)) NumericOverflow(n);
    return FixedToFloat(fixed);
  }
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

void WriteFixed(TExpToken& n, std::int64_t fixed) {
  n.SetDataSize(kBcdPhysicalSize);
  FixedToBcd(fixed, n.Decimals, n.Value.data());
}

void SetNull(TExpToken& n) {
  n.IsNull = true;
  std::fill(n.Value.begin(), n.Value.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(n.Value.size(), 256)),
            std::uint8_t{0});
}

void SetBoolean(TExpToken& n, bool v) {
  n.DataType = dtBoolean;
  n.SubType = 0;
  n.IsNull = false;
  n.SetBooleanValue(v);
}

bool BooleanValue(const TExpToken& n) { return !n.IsNull && Read<std::uint16_t>(n) != 0; }

// Stores text in the node; an empty text is NULL. The node's declared size
// is kept when it is larger (the verified size of the expression).
void SetText(TExpToken& n, std::string_view s) {
  const std::int32_t declared = n.DataSize;
  n.SetStringValue(s.data(), s.size());
  if (declared > n.DataSize) n.SetDataSize(declared);
  n.IsNull = s.empty();
}

// memcpy that accepts an empty source (an empty view may have no data).
void CopyBytes(void* to, const void* from, std::size_t n) {
  if (n != 0) std::memcpy(to, from, n);
}

// Longest text an expression may produce; REPLACE and concatenation of
// hostile expressions could otherwise grow without bound.
constexpr std::size_t kMaxTextResult = 16 * 1024 * 1024;

// Makes room for length text bytes plus the zero byte and answers the buffer.
char* PrepareText(TExpToken& n, std::size_t length) {
  if (length >= kMaxTextResult)
    RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, "Result of expression '" + n.Text + "' is too large");
  const std::int32_t declared = n.DataSize;
  n.SetDataSize(static_cast<std::int32_t>(std::max<std::size_t>(length + 1, static_cast<std::size_t>(std::max(declared, 0)))));
  return reinterpret_cast<char*>(n.Value.data());
}

void FinishText(TExpToken& n, std::size_t length) {
  n.Value[length] = 0;
  n.IsNull = length == 0;
}

int Sign(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

int CompareValues(const TExpToken& l, const TExpToken& r) {
  const std::uint8_t lt = l.DataType, rt = r.DataType;
  if ((lt == dtTimeStamp || rt == dtTimeStamp) && (lt == dtDate || rt == dtDate)) {
    auto ms = [](const TExpToken& n) {
      return n.DataType == dtDate ? static_cast<double>(Read<std::int32_t>(n)) * kMillisecondsPerDay : Read<double>(n);
    };
    return Sign(ms(l), ms(r));
  }
  if (lt == dtBoolean && rt == dtBoolean) {
    const bool a = Read<std::uint16_t>(l) != 0, b = Read<std::uint16_t>(r) != 0;
    return a == b ? 0 : (a ? 1 : -1);
  }
  const bool exact = (IsIntegerType(lt) || lt == dtDate || lt == dtTime) &&
                     (IsIntegerType(rt) || rt == dtDate || rt == dtTime);
  if (exact) {
    const std::int64_t a = IntValue(l), b = IntValue(r);
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  if (lt == dtBCD || rt == dtBCD) {
    // 4-decimal fixed point: a float side is scaled by 10000 and rounded;
    // one too large for fixed point is compared as a float.
    if (lt == dtFloat || rt == dtFloat) {
      const TExpToken& f = lt == dtFloat ? l : r;
      std::int64_t scaled = 0;
      if (!FloatToFixed(Read<double>(f), scaled)) return Sign(FloatValue(l), FloatValue(r));
      const std::int64_t a = lt == dtFloat ? scaled : FixedValue(l, l);
      const std::int64_t b = rt == dtFloat ? scaled : FixedValue(r, r);
      return a < b ? -1 : (a > b ? 1 : 0);
    }
    const std::int64_t a = FixedValue(l, l), b = FixedValue(r, r);
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  if (lt == dtBytes || lt == dtVarBytes) {
    const auto size = static_cast<std::size_t>(std::max(0, std::min(l.DataSize, r.DataSize)));
    const int c = std::memcmp(l.Value.data(), r.Value.data(), std::min({size, l.Value.size(), r.Value.size()}));
    return c < 0 ? -1 : (c > 0 ? 1 : (l.DataSize < r.DataSize ? -1 : (l.DataSize > r.DataSize ? 1 : 0)));
  }
  return Sign(FloatValue(l), FloatValue(r));
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

void Arithmetic(TExpOperator op, const TExpToken& l, const TExpToken& r, TExpToken& out) {
  out.IsNull = false;
  if (op == eoADD && IsTextValue(l) && IsTextValue(r)) {
    // Concatenation treats NULL as empty.
    const std::string_view a = TextOf(l), b = TextOf(r);
    char* p = PrepareText(out, a.size() + b.size());
    CopyBytes(p, a.data(), a.size());
    CopyBytes(p + a.size(), b.data(), b.size());
    FinishText(out, a.size() + b.size());
    out.SetDataSize(std::max<std::int32_t>(out.DataSize, l.DataSize + r.DataSize - 1));
    return;
  }
  if (l.IsNull || r.IsNull) return SetNull(out);
  const std::uint8_t lt = l.DataType, rt = r.DataType;
  // Dates, times and timestamps.
  if (lt == dtTimeStamp || rt == dtTimeStamp || lt == dtDate || rt == dtDate || lt == dtTime || rt == dtTime) {
    auto low32 = [](const TExpToken& n) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(IntValue(n))); };
    const double msPerDay = static_cast<double>(kMillisecondsPerDay);
    if (lt == dtTimeStamp && rt == dtTimeStamp) return Write(out, Read<double>(l) - Read<double>(r));
    if (lt == dtTimeStamp && rt == dtDate) {
      const double days = std::floor(Read<double>(l) / msPerDay);
      if (!std::isfinite(days) || std::fabs(days) > 4e9) return SetNull(out);
      return WriteInteger(out, static_cast<std::uint64_t>(static_cast<std::int64_t>(days) - Read<std::int32_t>(r)));
    }
    if (lt == dtTimeStamp && rt == dtTime) {
      const double part = std::fmod(Read<double>(l), msPerDay);
      if (!std::isfinite(part)) return SetNull(out);
      return WriteInteger(out, static_cast<std::uint64_t>(static_cast<std::int64_t>(part) - Read<std::int32_t>(r)));
    }
    if (lt == dtTimeStamp || rt == dtTimeStamp) {
      const bool stampLeft = lt == dtTimeStamp;
      const double stamp = Read<double>(stampLeft ? l : r);
      const double days = static_cast<double>(low32(stampLeft ? r : l)) * msPerDay;
      return Write(out, op == eoSUB ? stamp - days : stamp + days);
    }
    if ((lt == dtDate && rt == dtDate) || (lt == dtTime && rt == dtTime))
      return WriteInteger(out, static_cast<std::uint32_t>(Read<std::int32_t>(l)) - static_cast<std::uint32_t>(Read<std::int32_t>(r)));
    const bool temporalLeft = lt == dtDate || lt == dtTime;
    const std::uint32_t base = static_cast<std::uint32_t>(Read<std::int32_t>(temporalLeft ? l : r));
    const std::uint32_t n = static_cast<std::uint32_t>(low32(temporalLeft ? r : l));
    return Write(out, static_cast<std::int32_t>(op == eoSUB ? base - n : base + n));
  }
  if (out.DataType == dtBCD) {
    // 4-decimal fixed point with 128-bit intermediates; overflow raises.
    const std::int64_t a = FixedValue(l, out), b = FixedValue(r, out);
    std::int64_t v = 0;
    bool fits = true;
    switch (op) {
      case eoADD: fits = FixedAdd(a, b, v); break;
      case eoSUB: fits = FixedSub(a, b, v); break;
      case eoMUL: fits = FixedMul(a, b, v); break;
      case eoDIV:
        if (b == 0) return SetNull(out);
        fits = FixedDiv(a, b, v);
        break;
      default: NotEvaluable(out);
    }
    if (!fits) NumericOverflow(out);
    return WriteFixed(out, v);
  }
  if (op == eoDIV || out.DataType == dtFloat) {
    const double a = FloatValue(l), b = FloatValue(r);
    double v = 0;
    switch (op) {
      case eoADD: v = a + b; break;
      case eoSUB: v = a - b; break;
      case eoMUL: v = a * b; break;
      case eoDIV:
        if (b == 0) return SetNull(out);
        v = a / b;
        break;
      default: NotEvaluable(out);
    }
    out.DataType = dtFloat;
    return Write(out, v);
  }
  // Integers wrap in the width of the result type.
  const auto a = static_cast<std::uint64_t>(IntValue(l)), b = static_cast<std::uint64_t>(IntValue(r));
  switch (op) {
    case eoADD: return WriteInteger(out, a + b);
    case eoSUB: return WriteInteger(out, a - b);
    case eoMUL: return WriteInteger(out, a * b);
    default: NotEvaluable(out);
  }
}

bool Comparison(TExpOperator op, const TExpToken& left, const TExpToken& right, const TTextCodePage& codePage) {
  if (IsTextValue(left) && (IsTextValue(right) || right.DataType == 0)) {
    if ((op == eoEQ || op == eoNE) && (left.IsNull || right.IsNull)) {
      const bool equal = left.IsNull && right.IsNull;
      return op == eoEQ ? equal : !equal;
    }
    return Holds(op, codePage.Compare(TextOf(left), TextOf(right), false));  // NULL counts as empty
  }
  if (left.IsNull || right.IsNull) {
    if (op == eoEQ) return left.IsNull && right.IsNull;
    if (op == eoNE) return !(left.IsNull && right.IsNull);
    if (!(left.IsNull && right.IsNull)) return false;
  }
  if (left.DataType == 0 || right.DataType == 0) return false;
  return Holds(op, CompareValues(left, right));
}

void BinaryOperation(TExpOperator op, const TExpToken& left, const TExpToken& right, const TTextCodePage& codePage,
                     TExpToken& result) {
  if (op >= eoEQ && op <= eoLE) return SetBoolean(result, Comparison(op, left, right, codePage));
  if (op == eoAND || op == eoOR) {
    const bool a = BooleanValue(left), b = BooleanValue(right);
    return SetBoolean(result, op == eoAND ? (a && b) : (a || b));
  }
  Arithmetic(op, left, right, result);
}

// The enCOMPARE test: eoEQ / eoNE over the first partialLength bytes of both
// texts (cut at a character boundary of the table's code page), optionally
// without regard to case.
void CompareText(TExpOperator op, std::int32_t partialLength, bool caseInsensitive, const TTextCodePage& codePage,
                 TExpToken& result, const TExpToken& right, const TExpToken& left) {
  if (left.IsNull || right.IsNull) {
    const bool equal = left.IsNull && right.IsNull;
    return SetBoolean(result, op == eoNE ? !equal : equal);
  }
  std::string_view a = TextOf(left), b = TextOf(right);
  if (partialLength > 0) {
    const auto n = static_cast<std::size_t>(partialLength);
    a = a.substr(0, codePage.CutLength(a, n));
    b = b.substr(0, codePage.CutLength(b, n));
  }
  const bool equal = codePage.Compare(a, b, caseInsensitive) == 0;
  SetBoolean(result, op == eoNE ? !equal : equal);
}

// LIKE: '%' any run of characters, '_' one character, characters as the
// table's code page delimits them.
bool MatchLike(std::string_view value, std::string_view pattern, const TTextCodePage& codePage) {
  std::size_t v = 0, p = 0;
  std::size_t starP = std::string_view::npos, starV = 0;
  while (v < value.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      starP = ++p;
      starV = v;
      continue;
    }
    const std::size_t vLen = codePage.CharLength(value, v);
    if (p < pattern.size()) {
      const std::size_t pLen = codePage.CharLength(pattern, p);
      if ((pLen == 1 && pattern[p] == '_') ||
          (pLen == vLen && codePage.SameChar(value.substr(v, vLen), pattern.substr(p, pLen)))) {
        v += vLen;
        p += pLen;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    // Let the last '%' absorb one more character and retry.
    starV += codePage.CharLength(value, starV);
    v = starV;
    p = starP;
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

// Byte position of the first occurrence of what in text at a character
// boundary of the table's code page, or npos. An empty search text is never
// found.
std::size_t FindText(const TTextCodePage& codePage, std::string_view text, std::string_view what, std::size_t from) {
  if (what.empty()) return std::string_view::npos;
  for (std::size_t i = from; i + what.size() <= text.size(); i = codePage.NextCharPos(text, i))
    if (text.compare(i, what.size(), what) == 0) return i;
  return std::string_view::npos;
}

// Intermediate values live in scratch nodes kept per thread and reused
// between evaluations, so evaluating a record takes only its result node from
// the shared pool. A thread keeps at most kMaxScratchNodes spares; beyond that,
// and while the thread ends, nodes come from and go back to the shared pool.
constexpr std::size_t kMaxScratchNodes = 64;

// The state of this thread's list; constant-initialised, so it is valid
// before the list is made and after it is destroyed.
enum class TScratchState : std::uint8_t { None, Alive, Gone };
thread_local TScratchState tScratchState = TScratchState::None;

class TScratchNodes {
 public:
  TScratchNodes() {
    free_.reserve(kMaxScratchNodes);
    tScratchState = TScratchState::Alive;
  }
  ~TScratchNodes() { tScratchState = TScratchState::Gone; }
  TScratchNodes(const TScratchNodes&) = delete;
  TScratchNodes& operator=(const TScratchNodes&) = delete;

  TExpToken* Take() {
    if (free_.empty()) return GetNewExpTokenInstance().release();
    TExpToken* node = free_.back().release();
    free_.pop_back();
    return node;
  }
  // A kept node's fields are all overwritten by the next Copy. A node with
  // operands, or with a buffer grown for a long text or BLOB, goes back
  // through the shared pool, which frees or trims it.
  void Give(TExpToken* node) noexcept {
    if (free_.size() >= kMaxScratchNodes || node->Value.size() > kMaxPooledValueCapacity || node->Left ||
        node->Right || node->ThirdOperand || !node->Arguments.empty()) {
      ReturnExpTokenInstance(node);
      return;
    }
    free_.emplace_back(node);  // within the reserved capacity: does not allocate
  }

 private:
  std::vector<std::unique_ptr<TExpToken>> free_;
};

TScratchNodes& ThreadScratchNodes() {
  thread_local TScratchNodes nodes;
  return nodes;
}

struct TScratchReturn {
  void operator()(TExpToken* node) const noexcept {
    if (tScratchState == TScratchState::Alive) ThreadScratchNodes().Give(node);
    else ReturnExpTokenInstance(node);
  }
};
using TScratchPtr = std::unique_ptr<TExpToken, TScratchReturn>;

TScratchPtr TakeScratchNode() {
  // While the thread ends (its list destroyed) the shared pool serves.
  if (tScratchState == TScratchState::Gone) return TScratchPtr(GetNewExpTokenInstance().release());
  return TScratchPtr(ThreadScratchNodes().Take());
}

}  // namespace

// Evaluates one tree for one record; the evaluators of the built-in
// functions use its services.
class TExpressionEvaluator {
 public:
  TExpressionEvaluator(const std::uint8_t* record, void* context, TEvaluateFieldCallback callback,
                       TEvaluateTextSearchCallback textCallback, std::uint16_t sortID, std::uint16_t languageID)
      : record_(record), context_(context), callback_(callback), textCallback_(textCallback), sortID_(sortID),
        languageID_(languageID), codePage_(languageID, sortID) {}

  // Makes out a constant copy of node holding the node's value. Chains of
  // unary and binary operators are followed with a list of pending frames
  // instead of recursion, so their length does not matter; functions and
  // extended predicates evaluate their arguments by calling this again.
  void EvaluateInto(const TExpToken& node, TExpToken& out);

  // For the evaluators of functions: the value of node in a scratch node of
  // this thread, an argument and its value, conversion, word search, and the
  // table's code page.
  TScratchPtr Evaluate(const TExpToken& node) {
    TScratchPtr out = TakeScratchNode();
    EvaluateInto(node, *out);
    return out;
  }
  const TExpToken& Argument(const TExpToken& node, std::size_t i) const {
    const TExpToken* a = node.GetArgumentExpToken(i);
    if (a == nullptr) NotEvaluable(node);
    return *a;
  }
  TScratchPtr ArgumentValue(const TExpToken& node, std::size_t i) { return Evaluate(Argument(node, i)); }
  // Converts value to out's type (CAST and IF).
  void Convert(const TExpToken& node, const TExpToken& value, TExpToken& out, bool raiseOnMismatch);
  // TEXTSEARCH (1 for a match, else 0) and TEXTOCCURS (the number of matches)
  // in the text of the column node.
  std::int32_t TextMatches(const TExpToken& columnNode, std::string_view search, std::string_view text, bool occurs);
  const TTextCodePage& CodePage() const noexcept { return codePage_; }

 private:
  // A unary or binary operator node whose operands are being evaluated.
  struct TFrame {
    const TExpToken* node;
    TExpToken* out;
    TScratchPtr first;   // the operand evaluated first (AND and OR: the right one)
    TScratchPtr second;  // the other operand of a binary node
    std::uint8_t stage;
  };
  // The frames of this thread; evaluations started from within a function
  // stack theirs above the caller's. The capacity is kept between records.
  static std::vector<TFrame>& ThreadFrames() {
    thread_local std::vector<TFrame> frames;
    return frames;
  }
  static bool IsOperator(const TExpToken& node) {
    return node.NodeClass == enUNARY || node.NodeClass == enBINARY || node.NodeClass == enCOMPARE;
  }
  // Starts an operator node: a frame, or at once for any other node.
  void Start(std::vector<TFrame>& frames, const TExpToken& node, TExpToken& out);
  // Every node that is not a unary or binary operator.
  void EvaluateOperand(const TExpToken& node, TExpToken& out);

  bool Extended(const TExpToken& node);
  void Function(const TExpToken& node, TExpToken& out);

  const std::uint8_t* record_;
  void* context_;
  TEvaluateFieldCallback callback_;
  TEvaluateTextSearchCallback textCallback_;
  std::uint16_t sortID_;
  std::uint16_t languageID_;
  TTextCodePage codePage_;
};

namespace {

// Booleans are stored normalised: any value of 2 and above is 1.
void NormaliseBoolean(TExpToken& out) {
  if (out.DataType == dtBoolean && !out.IsNull && Read<std::uint16_t>(out) > 1) out.SetBooleanValue(true);
}

}  // namespace

void TExpressionEvaluator::Start(std::vector<TFrame>& frames, const TExpToken& node, TExpToken& out) {
  if (!IsOperator(node)) return EvaluateOperand(node, out);
  if (!node.Left || (node.NodeClass != enUNARY && !node.Right)) NotEvaluable(node);
  out.Copy(node);
  out.NodeClass = enCONST;
  frames.push_back({&node, &out, {}, {}, 0});
}

void TExpressionEvaluator::EvaluateInto(const TExpToken& root, TExpToken& rootOut) {
  std::vector<TFrame>& frames = ThreadFrames();
  const std::size_t base = frames.size();
  // An error leaves no frame of this evaluation behind.
  struct TUnwind {
    std::vector<TFrame>& frames;
    std::size_t base;
    ~TUnwind() {
      while (frames.size() > base) frames.pop_back();
    }
  } unwind{frames, base};
  Start(frames, root, rootOut);
  // Frames are addressed by position: an operand that is a function grows the
  // list (and may move it) while it is evaluated.
  while (frames.size() > base) {
    const std::size_t top = frames.size() - 1;
    const TExpToken& node = *frames[top].node;
    TExpToken& out = *frames[top].out;
    const bool logical = node.NodeClass != enUNARY && (node.Operator == eoAND || node.Operator == eoOR);
    switch (frames[top].stage) {
      case 0: {
        // The operand of a unary node; for AND and OR the right side first,
        // as it decides alone when it is false (AND) or true (OR).
        frames[top].stage = 1;
        frames[top].first = TakeScratchNode();
        TExpToken& value = *frames[top].first;
        Start(frames, node.NodeClass == enUNARY || !logical ? *node.Left : *node.Right, value);
        break;
      }
      case 1: {
        if (node.NodeClass == enUNARY) {
          EvaluateUnary(node.Operator, *frames[top].first, out);
          NormaliseBoolean(out);
          frames.pop_back();
          break;
        }
        if (logical) {
          const bool right = BooleanValue(*frames[top].first);
          frames[top].first.reset();
          if (node.Operator == eoAND ? !right : right) {
            SetBoolean(out, right);
            frames.pop_back();
            break;
          }
        }
        frames[top].stage = 2;
        frames[top].second = TakeScratchNode();
        TExpToken& value = *frames[top].second;
        Start(frames, logical ? *node.Left : *node.Right, value);
        break;
      }
      default: {
        if (logical) {
          SetBoolean(out, BooleanValue(*frames[top].second));
        } else {
          const TExpToken& l = *frames[top].first;
          const TExpToken& r = *frames[top].second;
          if (node.NodeClass == enCOMPARE && IsTextValue(l))
            CompareText(node.Operator, node.PartialLength, node.CaseInsensitive, codePage_, out, r, l);
          else
            BinaryOperation(node.Operator, l, r, codePage_, out);
          NormaliseBoolean(out);
        }
        frames.pop_back();
        break;
      }
    }
  }
}

void TExpressionEvaluator::EvaluateOperand(const TExpToken& node, TExpToken& out) {
  out.Copy(node);
  out.NodeClass = enCONST;
  switch (node.NodeClass) {
    case enCONST:
      break;
    case enFIELD:
      // A quoted name the verifier resolved to a column (WasConstant) is that
      // column here too; one it turned back into a literal is an enCONST node.
      if (callback_ == nullptr)
        RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {},
                   "Internal error: Column '" + node.FieldName + "' specified illegally");
      callback_(context_, record_, out);
      break;
    case enTUPLE:
      out.NodeClass = enFIELD;
      break;
    case enEXTBINARY:
      SetBoolean(out, Extended(node));
      break;
    case enFUNC:
      Function(node, out);
      break;
    default:
      NotEvaluable(node);
  }
  NormaliseBoolean(out);
}

bool TExpressionEvaluator::Extended(const TExpToken& node) {
  TScratchPtr value = Evaluate(Argument(node, 0));
  bool result = false;
  switch (node.Operator) {
    case eoLIKE: case eoNOTLIKE: {
      TScratchPtr pattern = Evaluate(Argument(node, 1));
      result = !value->IsNull && !pattern->IsNull && MatchLike(TextOf(*value), TextOf(*pattern), codePage_);
      return node.Operator == eoNOTLIKE ? !result : result;
    }
    case eoIN: case eoNOTIN:
      for (std::size_t i = 1; i < node.Arguments.size() && !result; ++i)
        result = Comparison(eoEQ, *value, *Evaluate(Argument(node, i)), codePage_);
      return node.Operator == eoNOTIN ? !result : result;
    case eoBETWEEN: case eoNOTBETWEEN:
      result = Comparison(eoGE, *value, *Evaluate(Argument(node, 1)), codePage_) &&
               Comparison(eoLE, *value, *Evaluate(Argument(node, 2)), codePage_);
      return node.Operator == eoNOTBETWEEN ? !result : result;
    case eoSUBIN: case eoNOTSUBIN: {
      const TExpToken& tuple = Argument(node, 1);
      if (tuple.SubQuery == nullptr) NotEvaluable(node);
      result = tuple.SubQuery->SubSelectContains(*value);
      return node.Operator == eoNOTSUBIN ? !result : result;
    }
    default:
      NotEvaluable(node);
  }
}

// Converts value to out's type (CAST and IF): BLOBs are copied, everything
// else goes through the value conversion. A failed conversion leaves the
// target's zero value; a value out of the target's range raises.
void TExpressionEvaluator::Convert(const TExpToken& node, const TExpToken& value, TExpToken& out,
                                   bool raiseOnMismatch) {
  const std::uint8_t targetType = out.DataType;
  const std::int32_t targetSize = out.DataSize;
  out.IsNull = false;
  const bool memoSource = value.DataType == dtBlob && value.SubType == dstMemo;
  if ((value.DataType == dtBlob && !memoSource) || targetType == dtBlob) {
    // Bytes are copied; into a string at most its size less one, zero-terminated.
    const auto available = static_cast<std::size_t>(std::max(value.DataSize, 0));
    std::size_t n = std::min(available, value.Value.size());
    if (targetType == dtString) {
      if (targetSize > 0) n = std::min(n, static_cast<std::size_t>(targetSize - 1));
      const std::string_view bytes(reinterpret_cast<const char*>(value.Value.data()), n);
      const std::size_t length = std::min(n, TextOf(value).size());
      char* p = PrepareText(out, length);
      CopyBytes(p, bytes.data(), length);
      FinishText(out, length);
      return;
    }
    if (targetType == dtBlob) {
      if (memoSource || value.DataType == dtString) n = TextOf(value).size();
      out.SetDataSize(static_cast<std::int32_t>(n));
      std::memcpy(out.Value.data(), value.Value.data(), n);
      out.IsNull = n == 0;
      return;
    }
    const std::int32_t size = FixedValueSize(targetType) != 0 ? FixedValueSize(targetType) : targetSize;
    out.SetDataSize(std::max(size, 0));
    std::fill(out.Value.begin(), out.Value.end(), std::uint8_t{0});
    std::memcpy(out.Value.data(), value.Value.data(), std::min(n, static_cast<std::size_t>(std::max(size, 0))));
    return;
  }
  const std::uint8_t sourceType = memoSource ? std::uint8_t{dtString} : value.DataType;
  std::int32_t sourceSize = value.DataSize;
  if (sourceType == dtString) sourceSize = static_cast<std::int32_t>(TextOf(value).size() + 1);
  const std::int32_t room = std::max({sourceSize, targetSize, 256});
  out.SetDataSize(room);
  std::memcpy(out.Value.data(), value.Value.data(),
              std::min(static_cast<std::size_t>(std::max(sourceSize, 0)), value.Value.size()));
  const TConversionResult result = ConvertValue(sourceType, sourceSize, value.Decimals, out.Value.data(),
                                                out.Value.size(), out.Decimals, targetSize, targetType);
  if (result == TConversionResult::DoesNotFit && raiseOnMismatch) DoesNotFit(node);
  const std::int32_t fixed = FixedValueSize(targetType);
  out.DataSize = fixed != 0 ? fixed : targetSize;
  if (targetType == dtString && TextOf(out).empty()) out.IsNull = true;
}

void TExpressionEvaluator::Function(const TExpToken& node, TExpToken& out) {
  const TBuiltinFunction* function = FindBuiltinFunction(node.Operator);
  if (function == nullptr) NotEvaluable(node);
  out.IsNull = false;
  function->Evaluate(*this, node, out);
}

std::int32_t TExpressionEvaluator::TextMatches(const TExpToken& columnNode, std::string_view search,
                                               std::string_view text, bool occurs) {
  if (textCallback_ != nullptr) return textCallback_(context_, columnNode, search, text, occurs);
  if (occurs) return TextOccurs(search, text, TTextIndexParams::Defaults(), languageID_, sortID_);
  return TextSearch(search, text, TTextIndexParams::Defaults(), languageID_, sortID_) ? 1 : 0;
}

// The evaluators of the built-in functions (builtin_functions.cpp). A NULL
// argument gives NULL where the function says so; text lengths are bytes.

void EvaluateAggregate(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  TScratchPtr v = evaluator.ArgumentValue(node, 0);
  out.Copy(*v);
  out.NodeClass = enCONST;
}

void EvaluateCaseMapping(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  TScratchPtr v = evaluator.ArgumentValue(node, 0);
  if (v->IsNull) return SetNull(out);
  const std::string_view s = TextOf(*v);
  char* p = PrepareText(out, s.size());
  CopyBytes(p, s.data(), s.size());
  FinishText(out, s.size());
  if (node.Operator == eoUPPER) evaluator.CodePage().UpperCase(p, s.size());
  else evaluator.CodePage().LowerCase(p, s.size());
}

void EvaluateLength(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  TScratchPtr v = evaluator.ArgumentValue(node, 0);
  if (v->IsNull) return SetNull(out);
  return Write(out, static_cast<std::int32_t>(TextOf(*v).size()));
}

void EvaluateSubstring(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  TScratchPtr v = evaluator.ArgumentValue(node, 0);
  TScratchPtr from = evaluator.ArgumentValue(node, 1);
  if (v->IsNull || from->IsNull) return SetNull(out);
  const std::string_view s = TextOf(*v);
  const std::int64_t start = std::max<std::int64_t>(IntValue(*from), 1) - 1;
  std::int64_t count = static_cast<std::int64_t>(s.size());
  if (node.Arguments.size() > 2) {
    TScratchPtr length = evaluator.ArgumentValue(node, 2);
    if (length->IsNull) return SetNull(out);
    count = IntValue(*length);
  }
  if (count < 1 || start >= static_cast<std::int64_t>(s.size())) return SetText(out, {});
  return SetText(out, s.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count)));
}

void EvaluateSearch(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  const TTextCodePage& codePage = evaluator.CodePage();
  TScratchPtr what = evaluator.ArgumentValue(node, 0);
  TScratchPtr v = evaluator.ArgumentValue(node, 1);
  if (v->IsNull) return SetNull(out);
  const std::string_view s = TextOf(*v), t = TextOf(*what);
  std::int32_t result = 0;
  if (node.Operator == eoPOS) {
    const std::size_t at = FindText(codePage, s, t, 0);
    result = at == std::string_view::npos ? 0 : static_cast<std::int32_t>(at + 1);
  } else {
    for (std::size_t at = FindText(codePage, s, t, 0); at != std::string_view::npos;
         at = FindText(codePage, s, t, at + t.size()))
      ++result;
  }
  return Write(out, result);
}

void EvaluateReplace(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  const TTextCodePage& codePage = evaluator.CodePage();
  TScratchPtr what = evaluator.ArgumentValue(node, 0);
  TScratchPtr with = evaluator.ArgumentValue(node, 1);
  TScratchPtr v = evaluator.ArgumentValue(node, 2);
  if (v->IsNull) return SetNull(out);
  const std::string_view s = TextOf(*v), t = TextOf(*what), r = TextOf(*with);
  if (t.empty() || t == r) return SetText(out, s);
  std::size_t count = 0;
  for (std::size_t at = FindText(codePage, s, t, 0); at != std::string_view::npos;
       at = FindText(codePage, s, t, at + t.size()))
    ++count;
  const std::size_t length = s.size() + count * r.size() - count * t.size();
  char* p = PrepareText(out, length);
  std::size_t written = 0, last = 0;
  for (std::size_t at = FindText(codePage, s, t, 0); at != std::string_view::npos;
       at = FindText(codePage, s, t, at + t.size())) {
    CopyBytes(p + written, s.data() + last, at - last);
    written += at - last;
    CopyBytes(p + written, r.data(), r.size());
    written += r.size();
    last = at + t.size();
  }
  CopyBytes(p + written, s.data() + last, s.size() - last);
  FinishText(out, length);
}

void EvaluateTrim(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  TScratchPtr c = evaluator.ArgumentValue(node, 0);
  TScratchPtr v = evaluator.ArgumentValue(node, 1);
  if (v->IsNull) return SetNull(out);
  std::string_view s = TextOf(*v);
  const std::string_view ch = TextOf(*c);
  if (!ch.empty()) {
    const std::string_view one = ch.substr(0, evaluator.CodePage().CharLength(ch, 0));
    if (node.Operator != eoTRIMTRAILING)
      while (s.size() >= one.size() && s.substr(0, one.size()) == one) s.remove_prefix(one.size());
    if (node.Operator != eoTRIMLEADING)
      while (s.size() >= one.size() && s.substr(s.size() - one.size()) == one &&
             !(one.size() == 1 && evaluator.CodePage().IsTrailBytePosition(s, s.size() - 1)))
        s.remove_suffix(one.size());
  }
  return SetText(out, s);
}

void EvaluateCast(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  TScratchPtr v = evaluator.ArgumentValue(node, 0);
  if (v->IsNull) return SetNull(out);
  return evaluator.Convert(node, *v, out, true);
}

void EvaluateAbs(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  TScratchPtr v = evaluator.ArgumentValue(node, 0);
  if (v->IsNull) return SetNull(out);
  if (v->DataType == dtFloat) return Write(out, std::fabs(Read<double>(*v)));
  if (v->DataType == dtBCD) {
    const std::int64_t fixed = FixedValue(*v, node);
    std::int64_t result = fixed;
    if (fixed < 0 && !FixedSub(0, fixed, result)) NumericOverflow(node);
    return WriteFixed(out, result);
  }
  const std::int64_t i = IntValue(*v);
  return WriteInteger(out, i < 0 ? 0 - static_cast<std::uint64_t>(i) : static_cast<std::uint64_t>(i));
}

void EvaluateRound(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  TScratchPtr v = evaluator.ArgumentValue(node, 0);
  if (v->IsNull) return SetNull(out);
  std::int64_t places = 0;
  if (node.Arguments.size() > 1 && node.Arguments[1]) {
    TScratchPtr d = evaluator.ArgumentValue(node, 1);
    places = d->IsNull ? 0 : std::clamp<std::int64_t>(IntValue(*d), 0, 32);
  }
  if (v->DataType == dtBCD) {
    std::int64_t result = 0;
    if (!RoundFixed(FixedValue(*v, node), static_cast<int>(places), result)) NumericOverflow(node);
    return WriteFixed(out, result);
  }
  const double x = FloatValue(*v);
  if (x == 0) return Write(out, 0.0);
  double unit = 1;  // 10^-places as repeated products of 0.1
  for (std::int64_t i = 0; i < places; ++i) unit *= 0.1;
  const double scaled = x / unit;
  const double rounded = std::trunc(x > 0 ? scaled + 0.5 : scaled - 0.5) * unit;
  out.DataType = dtFloat;
  return Write(out, rounded);
}

void EvaluateExtract(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  TScratchPtr v = evaluator.ArgumentValue(node, 0);
  if (v->IsNull) return SetNull(out);
  std::int32_t day = 0, ms = 0;
  const bool hasDate = v->DataType != dtTime, hasTime = v->DataType != dtDate;
  if (v->DataType == dtDate) {
    day = Read<std::int32_t>(*v);
  } else if (v->DataType == dtTime) {
    ms = Read<std::int32_t>(*v);
  } else {
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
    case eoEXTRACTWEEK: result = hasDate ? WeekOfYear(day) : 0; break;
    case eoEXTRACTDAYOFWEEK: result = hasDate ? DayOfWeek(day) : 0; break;
    case eoEXTRACTHOUR: result = hasTime ? h : 0; break;
    case eoEXTRACTMINUTE: result = hasTime ? mi : 0; break;
    default: result = hasTime ? s : 0; break;
  }
  return Write(out, result);
}

void EvaluateIf(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  const bool condition = BooleanValue(*evaluator.ArgumentValue(node, 0));
  TScratchPtr chosen = evaluator.ArgumentValue(node, condition ? 1 : 2);
  if (chosen->IsNull) return SetNull(out);
  if (chosen->DataType == out.DataType && (out.DataType != dtBCD || chosen->Decimals == out.Decimals)) {
    const std::uint8_t type = out.DataType, subType = out.SubType, decimals = out.Decimals;
    const std::int32_t size = out.DataSize;
    out.Copy(*chosen);
    out.NodeClass = enCONST;
    out.Text = node.Text;
    out.DataType = type;
    out.SubType = subType;
    out.Decimals = decimals;
    out.SetDataSize(std::max(size, chosen->DataSize));
    return;
  }
  return evaluator.Convert(node, *chosen, out, true);
}

void EvaluateTextSearch(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out) {
  const bool occurs = node.Operator == eoTEXTOCCURS;
  TScratchPtr search = evaluator.ArgumentValue(node, 0);
  const TExpToken& columnNode = evaluator.Argument(node, 1);
  TScratchPtr column = evaluator.Evaluate(columnNode);
  const std::int32_t answer =
      columnNode.Source != nullptr ? evaluator.TextMatches(columnNode, TextOf(*search), TextOf(*column), occurs) : 0;
  out.IsNull = false;
  if (occurs) {
    out.DataType = dtInteger;
    return Write(out, answer);
  }
  SetBoolean(out, answer != 0);
}

void EvaluateUnary(TExpOperator op, const TExpToken& v, TExpToken& out) {
  switch (op) {
    case eoNOT: return SetBoolean(out, !BooleanValue(v));
    case eoISBLANK: return SetBoolean(out, v.IsNull);
    case eoNOTBLANK: return SetBoolean(out, !v.IsNull);
    case eoPLUS: {
      const std::string text = out.Text;
      out.Copy(v);
      out.Text = text;
      out.NodeClass = enCONST;
      return;
    }
    case eoMINUS:
      out.IsNull = v.IsNull;
      if (v.IsNull) return SetNull(out);
      if (v.DataType == dtFloat || v.DataType == dtTimeStamp) return Write(out, -Read<double>(v));
      if (v.DataType == dtBCD) {
        std::int64_t result = 0;
        if (!FixedSub(0, FixedValue(v, out), result)) NumericOverflow(out);
        return WriteFixed(out, result);
      }
      return WriteInteger(out, 0 - static_cast<std::uint64_t>(IntValue(v)));
    default:
      NotEvaluable(out);
  }
}

void EvaluateBinary(TExpOperator op, const TExpToken& left, const TExpToken& right, std::uint16_t sortID,
                    std::uint16_t languageID, TExpToken& result) {
  BinaryOperation(op, left, right, TTextCodePage(languageID, sortID), result);
}

void EvaluateCompare(TExpOperator op, std::int32_t partialLength, bool caseInsensitive, std::uint16_t sortID,
                     std::uint16_t languageID, TExpToken& result, const TExpToken& right, const TExpToken& left) {
  CompareText(op, partialLength, caseInsensitive, TTextCodePage(languageID, sortID), result, right, left);
}

bool EvaluateComparison(TExpOperator op, const TExpToken& left, const TExpToken& right, std::uint16_t sortID,
                        std::uint16_t languageID) {
  return Comparison(op, left, right, TTextCodePage(languageID, sortID));
}

bool MatchLikePattern(std::string_view value, std::string_view pattern, std::uint16_t sortID,
                      std::uint16_t languageID) {
  return MatchLike(value, pattern, TTextCodePage(languageID, sortID));
}

std::int32_t WeekOfYear(std::int32_t dayNumber) noexcept {
  int year, month, day;
  DecodeDate(dayNumber, year, month, day);
  // First Monday on or after 1 January, a week earlier when after 4 January.
  auto weekStart = [](int y) {
    const std::int64_t jan1 = DayNumberOfCivil(y, 1, 1);
    std::int64_t r = (jan1 - 1) % 7;  // 0 for a Monday
    if (r < 0) r += 7;
    std::int64_t monday = r == 0 ? jan1 : jan1 + (7 - r);
    if (monday > jan1 + 3) monday -= 7;
    return monday;
  };
  std::int64_t k = dayNumber - weekStart(year);
  if (k < 0) k = dayNumber - weekStart(year - 1);
  if (k == 364) return 1;
  return static_cast<std::int32_t>((k + 1 + 6) / 7);
}

TExpTokenPtr EvaluateExpressionToken(const TExpToken& node, const std::uint8_t* record, void* context,
                                     TEvaluateFieldCallback fieldCallback, std::uint16_t sortID,
                                     std::uint16_t languageID) {
  return EvaluateExpressionToken(node, record, context, fieldCallback, nullptr, sortID, languageID);
}

TExpTokenPtr EvaluateExpressionToken(const TExpToken& node, const std::uint8_t* record, void* context,
                                     TEvaluateFieldCallback fieldCallback,
                                     TEvaluateTextSearchCallback textSearchCallback, std::uint16_t sortID,
                                     std::uint16_t languageID) {
  TExpressionEvaluator evaluator(record, context, fieldCallback, textSearchCallback, sortID, languageID);
  TExpTokenPtr result = GetNewExpTokenInstance();
  evaluator.EvaluateInto(node, *result);
  return result;
}

}  // namespace tarn
