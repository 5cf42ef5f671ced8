// Shared fixtures of the expression tests: a small in-memory column list
// behind the verification callback, parse helpers and a tree printer.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/code_page.h"
#include "expressions/exp_token.h"
#include "expressions/expression_parser.h"
#include "expressions/expression_verifier.h"
#include "storage/formats/data_types.h"

namespace tarn::testing_support {

struct TTestColumn {
  std::string Name;
  std::uint8_t DataType;
  std::uint8_t SubType;
  std::int32_t DataSize;
  std::uint8_t Decimals;
};

// The columns every verification test can name.
inline std::vector<TTestColumn> DefaultColumns() {
  return {
      {"Name", dtString, 0, 21, 0},      {"City", dtString, 0, 31, 0},       {"Age", dtInteger, 0, 4, 0},
      {"Active", dtBoolean, 0, 2, 0},    {"Birth", dtDate, 0, 4, 0},         {"Start", dtTime, 0, 4, 0},
      {"Stamp", dtTimeStamp, 0, 8, 0},   {"Price", dtFloat, dstMoney, 8, 0}, {"Amount", dtBCD, 0, 34, 2},
      {"Small", dtSmallInt, 0, 2, 0},    {"Notes", dtBlob, dstMemo, 8, 0},   {"Photo", dtBlob, dstGraphic, 8, 0},
      {"Big", dtLargeInt, 0, 8, 0},      {"W", dtWord, 0, 2, 0},             {"Ratio", dtFloat, 0, 8, 0},
      {"Code", dtBytes, 0, 6, 0},        {"user", dtString, 0, 21, 0},       {"NAME2", dtString, 0, 11, 0},
  };
}

struct TTestTable {
  std::string TableName = "customer";
  std::vector<TTestColumn> Columns = DefaultColumns();
};

inline bool FindTestColumn(void* context, TExpToken& node) {
  auto* table = static_cast<TTestTable*>(context);
  if (!node.TableName.empty() && !AnsiSameText(node.TableName, table->TableName)) return false;
  for (std::size_t i = 0; i < table->Columns.size(); ++i) {
    const auto& column = table->Columns[i];
    if (!AnsiSameText(column.Name, node.FieldName)) continue;
    node.FieldNumber = static_cast<std::uint16_t>(i + 1);
    node.Source = table;
    node.DataType = column.DataType;
    node.SubType = column.SubType;
    node.DataSize = column.DataSize;
    node.Decimals = column.Decimals;
    return true;
  }
  return false;
}

// Prints a tree as nested prefix forms: (op left right), name(args), constants as written.
inline std::string Render(const TExpToken* node) {
  if (node == nullptr) return "<none>";
  switch (node->NodeClass) {
    case enUNARY:
      return "(" + node->Text + " " + Render(node->Left.get()) + ")";
    case enBINARY:
    case enCOMPARE:
      return "(" + node->Text + " " + Render(node->Left.get()) + " " + Render(node->Right.get()) + ")";
    case enFUNC:
    case enEXTBINARY: {
      std::string out = node->Text + "(";
      for (std::size_t i = 0; i < node->Arguments.size(); ++i) {
        if (i) out += ", ";
        out += Render(node->Arguments[i].get());
      }
      return out + ")";
    }
    case enFIELD:
      return node->TableName.empty() ? "[" + node->FieldName + "]" : "[" + node->TableName + "." + node->FieldName + "]";
    case enCONST:
      if (node->IsParameter) return "?";
      if (node->DataType == dtString) return "'" + node->StringValue() + "'";
      return node->Text;
    default:
      return "<" + node->Text + ">";
  }
}

struct TParseOutcome {
  TExpTokenPtr Root;
  TarnErrorCode Code = 0;
  std::string Text;     // the error's message text (context slot 6)
  std::string Message;  // the whole exception message
};

// How a test text is parsed: with which modifiers, as SQL or as a filter, and
// whether it is verified (against table, or a default test table).
struct TParseAs {
  TParseModifiers Modifiers = pmAllowExtPredicates;
  bool Sql = false;
  bool Verify = false;
  TTestTable* Table = nullptr;
};

// Parses text as the filter layer does (whole text, nothing may follow).
inline TParseOutcome ParseText(std::string_view text, const TParseAs& as = {}) {
  const TParseModifiers modifiers = as.Modifiers;
  const bool sql = as.Sql, verify = as.Verify;
  TTestTable* const table = as.Table;
  TParseOutcome outcome;
  TExpressionParser parser;
  parser.ErrorCode = sql ? TARN_SQLPARSE : TARN_INVALIDFILTER;
  parser.TableName = "customer";
  parser.ExpressionDescription = sql ? "SELECT SQL statement" : "filter expression";
  static TTestTable defaultTable;
  try {
    parser.SetExpression(text);
    parser.NextToken();
    outcome.Root = parser.ParseCompleteExpression(modifiers);
    if (verify)
      VerifyExpressionToken(parser.ErrorCode, parser.DatabaseName, parser.TableName, true, FindTestColumn,
                            table ? table : &defaultTable, nullptr, *outcome.Root, parser.ExpressionDescription);
  } catch (const ETarnEngineError& error) {
    outcome.Root.reset();
    outcome.Code = error.ErrorCode();
    outcome.Text = error.ErrorText();
    outcome.Message = error.Message();
  }
  return outcome;
}

inline TParseOutcome VerifyText(std::string_view text, TTestTable* table = nullptr) {
  return ParseText(text, {.Verify = true, .Table = table});
}

}  // namespace tarn::testing_support
