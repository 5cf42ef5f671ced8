// The table of built-in functions describes what the grammar builds: every
// function the grammar knows has one entry, the parser gives its node the
// entry's type and an argument count within the entry's bounds, verification
// refuses a node with fewer arguments than the entry requires, and the
// aggregate names come from the table.
#include <gtest/gtest.h>

#include <set>

#include "evaluation_test_support.h"
#include "expressions/builtin_functions.h"
#include "expressions/exp_tree.h"

namespace tarn {
namespace {

using namespace testing_support;

struct TSample {
  TExpOperator Operator;
  std::string Text;
};

// One text per function operator.
const TSample kSamples[] = {
    {eoSUM, "SUM(Age)"},
    {eoRUNSUM, "RUNSUM(Age)"},
    {eoCOUNT, "COUNT(Name)"},
    {eoMIN, "MIN(Age)"},
    {eoMAX, "MAX(Age)"},
    {eoAVG, "AVG(Age)"},
    {eoUPPER, "UPPER(Name)"},
    {eoLOWER, "lower(Name)"},
    {eoSUBSTRING, "SUBSTRING(Name FROM 2 FOR 3)"},
    {eoREPLACE, "REPLACE('a' WITH 'b' IN Name)"},
    {eoPOS, "POS('a' IN Name)"},
    {eoOCCURS, "OCCURS('a' IN Name)"},
    {eoTRIMLEADING, "TRIM(LEADING ' ' FROM Name)"},
    {eoTRIMTRAILING, "TRIM(TRAILING ' ' FROM Name)"},
    {eoTRIMBOTH, "TRIM(BOTH ' ' FROM Name)"},
    {eoLENGTH, "LENGTH(Name)"},
    {eoCAST, "CAST(Age AS DECIMAL(10,2))"},
    {eoEXTRACTYEAR, "EXTRACT(YEAR FROM Birth)"},
    {eoEXTRACTMONTH, "EXTRACT(MONTH FROM Birth)"},
    {eoEXTRACTWEEK, "EXTRACT(WEEK FROM Birth)"},
    {eoEXTRACTDAY, "EXTRACT(DAY FROM Birth)"},
    {eoEXTRACTDAYOFWEEK, "EXTRACT(DAYOFWEEK FROM Birth)"},
    {eoEXTRACTHOUR, "EXTRACT(HOUR FROM Start)"},
    {eoEXTRACTMINUTE, "EXTRACT(MINUTE FROM Start)"},
    {eoEXTRACTSECOND, "EXTRACT(SECOND FROM Start)"},
    {eoIF, "IF(Active THEN Name ELSE City)"},
    {eoABS, "ABS(Age)"},
    {eoROUND, "ROUND(Ratio TO 2)"},
    {eoTEXTSEARCH, "TEXTSEARCH('word' IN Notes)"},
    {eoTEXTOCCURS, "TEXTOCCURS('word' IN Notes)"},
};

TEST(BuiltinFunctions, OneEntryPerFunctionOperator) {
  std::set<TExpOperator> seen;
  for (const TBuiltinFunction& function : BuiltinFunctions()) {
    EXPECT_TRUE(seen.insert(function.Operator).second) << function.Name;
    EXPECT_EQ(FindBuiltinFunction(function.Operator), &function) << function.Name;
    EXPECT_LE(function.MinArguments, function.MaxArguments) << function.Name;
    EXPECT_NE(function.Type, nullptr) << function.Name;
    EXPECT_NE(function.Evaluate, nullptr) << function.Name;
  }
  EXPECT_EQ(seen.size(), std::size(kSamples));
  for (const TExpOperator notAFunction : {eoNOTDEFINED, eoEQ, eoADD, eoLIKE, eoFUNC, eoUDF})
    EXPECT_EQ(FindBuiltinFunction(notAFunction), nullptr) << int{notAFunction};
}

TEST(BuiltinFunctions, TheParserBuildsWhatTheTableDescribes) {
  for (const TSample& sample : kSamples) {
    auto parsed = ParseText(sample.Text, {.Modifiers = pmAllowExtPredicates | pmAllowAggregates});
    ASSERT_TRUE(parsed.Root) << sample.Text << ": " << parsed.Text;
    const TExpToken& node = *parsed.Root;
    const TBuiltinFunction* function = FindBuiltinFunction(sample.Operator);
    ASSERT_NE(function, nullptr) << sample.Text;
    EXPECT_EQ(node.NodeClass, enFUNC) << sample.Text;
    EXPECT_EQ(node.Operator, sample.Operator) << sample.Text;
    EXPECT_TRUE(AnsiSameText(node.Text, function->Name)) << sample.Text;
    EXPECT_GE(node.ArgumentCount(), function->MinArguments) << sample.Text;
    EXPECT_LE(node.ArgumentCount(), function->MaxArguments) << sample.Text;
    // CAST takes the named type, ROUND its argument's.
    if (sample.Operator != eoCAST && sample.Operator != eoROUND) {
      EXPECT_EQ(node.DataType, function->ParsedDataType) << sample.Text;
    }
    if (function->Aggregate) {
      EXPECT_EQ(GetOperatorForAggregate(function->Name), function->Operator);
    }
    // Verification accepts it, and refuses it with a required argument gone.
    auto verified = ParseText(sample.Text, {.Modifiers = pmAllowExtPredicates | pmAllowAggregates, .Verify = true});
    ASSERT_TRUE(verified.Root) << sample.Text << ": " << verified.Text;
    TExpTokenPtr shortened = CopyExpressionTokens(parsed.Root.get());
    shortened->Arguments[function->MinArguments - 1].reset();
    TTestTable table;
    try {
      VerifyExpressionToken(TARN_INVALIDFILTER, "", "customer", true, FindTestColumn, &table, nullptr, *shortened,
                            "filter expression");
      ADD_FAILURE() << sample.Text << " verified without argument " << int{function->MinArguments} - 1;
    } catch (const ETarnEngineError& error) {
      EXPECT_EQ(error.ErrorText(), "Expression nested too deeply in filter expression") << sample.Text;
    }
  }
  EXPECT_EQ(GetOperatorForAggregate("count"), eoCOUNT);
  EXPECT_EQ(GetOperatorForAggregate("UPPER"), eoNOTDEFINED);
}

}  // namespace
}  // namespace tarn
