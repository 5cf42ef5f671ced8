// Fuzzes the expression tokenizer, parser and verifier over arbitrary text,
// evaluates every verified tree against a small record (with values and with
// every column NULL), as written and after filter preparation, and fuzzes the
// packed-tree reader over arbitrary buffers. Every input must end in a tree,
// a value or an engine error, never a crash; a prepared filter must give the
// answer of the tree it was prepared from.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "expressions/bcd_values.h"
#include "expressions/expression_evaluator.h"
#include "expressions/filter_preparation.h"
#include "expressions/ansi_text_forms.h"
#include "platform/code_page.h"
#include "expressions/exp_token_pack.h"
#include "expressions/exp_tree.h"
#include "expressions/expression_parser.h"
#include "expressions/expression_verifier.h"
#include "storage/formats/data_types.h"

namespace {

struct TColumn {
  const char* Name;
  std::uint8_t DataType;
  std::uint8_t SubType;
  std::int32_t DataSize;
  std::uint8_t Decimals;
};

constexpr TColumn kColumns[] = {
    {"Name", tarn::dtString, 0, 21, 0},   {"Age", tarn::dtInteger, 0, 4, 0},
    {"Active", tarn::dtBoolean, 0, 2, 0}, {"Birth", tarn::dtDate, 0, 4, 0},
    {"Start", tarn::dtTime, 0, 4, 0},     {"Stamp", tarn::dtTimeStamp, 0, 8, 0},
    {"Price", tarn::dtFloat, tarn::dstMoney, 8, 0}, {"Amount", tarn::dtBCD, 0, 34, 2},
    {"Notes", tarn::dtBlob, tarn::dstMemo, 8, 0},   {"Photo", tarn::dtBlob, tarn::dstGraphic, 8, 0},
    {"Big", tarn::dtLargeInt, 0, 8, 0},   {"W", tarn::dtWord, 0, 2, 0},
    {"Small", tarn::dtSmallInt, 0, 2, 0}, {"Code", tarn::dtBytes, 0, 6, 0},
};

// Nonzero Source marks a column with an owner (TEXTSEARCH needs one).
int gOwner = 0;

bool FindColumn(void*, tarn::TExpToken& node) {
  for (std::size_t i = 0; i < std::size(kColumns); ++i) {
    if (!tarn::AnsiSameText(kColumns[i].Name, node.FieldName)) continue;
    node.FieldNumber = static_cast<std::uint16_t>(i + 1);
    node.Source = &gOwner;
    node.DataType = kColumns[i].DataType;
    node.SubType = kColumns[i].SubType;
    node.DataSize = kColumns[i].DataSize;
    node.Decimals = kColumns[i].Decimals;
    return true;
  }
  return false;
}

// The values of one record, by field number (index 0 unused).
struct TFuzzRecord {
  bool AllNull = false;
  std::vector<std::vector<std::uint8_t>> Values;
};

template <typename T>
std::vector<std::uint8_t> Bytes(T v) {
  std::vector<std::uint8_t> b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

std::vector<std::uint8_t> Text(std::string_view s) {
  std::vector<std::uint8_t> b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

const TFuzzRecord& SampleRecord() {
  static const TFuzzRecord record = [] {
    TFuzzRecord r;
    std::vector<std::uint8_t> bcd(34);
    tarn::FixedToBcd(-1234500, 2, bcd.data());
    r.Values = {{},
                Text("Smith \xB0\xA1 x%_*"),
                Bytes<std::int32_t>(-42),
                Bytes<std::uint16_t>(1),
                Bytes<std::int32_t>(tarn::StrToAnsiDate("2008-02-29")),
                Bytes<std::int32_t>(47107250),
                Bytes<double>(tarn::StrToAnsiDateTime("1999-12-31 23:59:59.999")),
                Bytes<double>(-2.5),
                bcd,
                {'T', 'h', 'e', ' ', 'c', 'a', 't', '*', ' ', 'E', '-', 'M', 'A', 'I', 'L'},
                {0xFF, 0x00, 0x7F, 0x80},
                Bytes<std::int64_t>(INT64_MIN),
                Bytes<std::uint16_t>(65535),
                Bytes<std::int16_t>(-32768),
                {1, 2, 3, 4, 5, 6}};
    return r;
  }();
  return record;
}

void ReadColumn(void* context, const std::uint8_t*, tarn::TExpToken& node) {
  const auto* record = static_cast<const TFuzzRecord*>(context);
  const std::size_t field = node.FieldNumber;
  node.IsNull = record->AllNull || field == 0 || field >= record->Values.size();
  if (node.IsNull) {
    std::memset(node.Value.data(), 0, node.ValueCapacity());
    return;
  }
  const auto& bytes = record->Values[field];
  const std::int32_t size = static_cast<std::int32_t>(bytes.size());
  node.SetDataSize(node.DataType == tarn::dtBlob ? size : std::max(node.DataSize, size));
  std::memcpy(node.Value.data(), bytes.data(), bytes.size());
}

// Evaluates the tree and, for boolean trees, checks that the prepared
// filter agrees with it on the same record.
void Evaluate(const tarn::TExpToken& root, bool allNull) {
  TFuzzRecord record = SampleRecord();
  record.AllNull = allNull;
  int plain = -1;
  try {
    tarn::TExpTokenPtr value = tarn::EvaluateExpressionToken(root, nullptr, &record, ReadColumn, 0, 0);
    if (value->DataType == tarn::dtBoolean) plain = value->IsNull ? 0 : (value->Value[0] != 0 ? 1 : 0);
  } catch (const tarn::ETarnEngineError&) {
  }
  try {
    tarn::TExpTokenPtr prepared =
        tarn::BuildNextFilterExpression(root, &record, ReadColumn, {.NoPartialCompare = true});
    tarn::TExpTokenPtr value = tarn::EvaluateExpressionToken(*prepared, nullptr, &record, ReadColumn, 0, 0);
    if (plain >= 0 && value->DataType == tarn::dtBoolean) {
      const int answer = value->IsNull ? 0 : (value->Value[0] != 0 ? 1 : 0);
      if (answer != plain) __builtin_trap();
    }
  } catch (const tarn::ETarnEngineError&) {
  }
}

// Packing what was unpacked gives the same bytes (table names, sources and
// parents do not travel, so the bytes are the invariant, not the trees).
void RoundTrip(const tarn::TExpToken& root) {
  std::vector<std::uint8_t> packed, repacked;
  tarn::PackExpressionTokens(&root, packed);
  tarn::TExpTokenPtr unpacked = tarn::UnpackExpressionTokens(packed);
  tarn::PackExpressionTokens(unpacked.get(), repacked);
  if (packed != repacked) __builtin_trap();
}

void ParseAndVerify(std::string_view text, bool sql) {
  tarn::TExpressionParser parser;
  parser.ErrorCode = sql ? tarn::TARN_SQLPARSE : tarn::TARN_INVALIDFILTER;
  parser.ExpressionDescription = "fuzz expression";
  const tarn::TParseModifiers modifiers =
      sql ? static_cast<tarn::TParseModifiers>(tarn::pmAllowAggregates | tarn::pmAllowAllFields |
                                               tarn::pmAllowExtPredicates | tarn::pmAllowParameters)
          : static_cast<tarn::TParseModifiers>(tarn::pmAllowExtPredicates);
  tarn::TExpTokenPtr root;
  try {
    parser.SetExpression(text);
    parser.NextToken();
    root = parser.ParseCompleteExpression(modifiers);
  } catch (const tarn::ETarnEngineError&) {
    return;
  }
  // A parsed tree copies, packs and unpacks to an equal tree.
  tarn::TExpTokenPtr copy = tarn::CopyExpressionTokens(root.get());
  if (!tarn::CompareExpressionTokens(root.get(), copy.get())) __builtin_trap();
  RoundTrip(*root);
  try {
    tarn::VerifyExpressionToken(parser.ErrorCode, "", "fuzz", true, FindColumn, nullptr, nullptr, *root,
                                "fuzz expression");
    RoundTrip(*root);
  } catch (const tarn::ETarnEngineError&) {
    return;
  }
  Evaluate(*root, false);
  Evaluate(*root, true);
}

void Unpack(std::span<const std::uint8_t> buffer) {
  try {
    tarn::TExpTokenPtr tree = tarn::UnpackExpressionTokens(buffer);
    if (tree) RoundTrip(*tree);
  } catch (const tarn::ETarnEngineError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0] % 3;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
  switch (mode) {
    case 0: ParseAndVerify(text, false); break;
    case 1: ParseAndVerify(text, true); break;
    default: Unpack(rest); break;
  }
  return 0;
}
