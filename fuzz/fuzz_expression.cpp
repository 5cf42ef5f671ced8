// Fuzzes the expression tokenizer, parser and verifier over arbitrary text,
// and the packed-tree reader over arbitrary buffers. Every input must end in
// a tree or an engine error, never a crash.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/errors.h"
#include "platform/code_page.h"
#include "sql/exp_token_pack.h"
#include "sql/exp_tree.h"
#include "sql/expression_parser.h"
#include "sql/expression_verifier.h"
#include "storage/data_types.h"

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

bool FindColumn(void*, tarn::TExpToken& node) {
  for (std::size_t i = 0; i < std::size(kColumns); ++i) {
    if (!tarn::AnsiSameText(kColumns[i].Name, node.FieldName)) continue;
    node.FieldNumber = static_cast<std::uint16_t>(i + 1);
    node.DataType = kColumns[i].DataType;
    node.SubType = kColumns[i].SubType;
    node.DataSize = kColumns[i].DataSize;
    node.Decimals = kColumns[i].Decimals;
    return true;
  }
  return false;
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
  }
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
