// The table of built-in functions.
#include "expressions/builtin_functions.h"

#include <algorithm>

#include "platform/code_page.h"
#include "expressions/builtin_function_rules.h"
#include "expressions/expression_layer.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

constexpr std::uint8_t kSetByVerification = 0;

constexpr TBuiltinFunction kBuiltinFunctions[] = {
    // operator, keyword, arguments (min, max), parser's type, aggregate, condition first, rule, evaluator
    {eoSUM, "SUM", 1, 1, kSetByVerification, true, false, TypeAggregate, EvaluateAggregate},
    {eoRUNSUM, "RUNSUM", 1, 1, kSetByVerification, true, false, TypeAggregate, EvaluateAggregate},
    {eoCOUNT, "COUNT", 1, 1, kSetByVerification, true, false, TypeAggregate, EvaluateAggregate},
    {eoMIN, "MIN", 1, 1, kSetByVerification, true, false, TypeAggregate, EvaluateAggregate},
    {eoMAX, "MAX", 1, 1, kSetByVerification, true, false, TypeAggregate, EvaluateAggregate},
    {eoAVG, "AVG", 1, 1, kSetByVerification, true, false, TypeAggregate, EvaluateAggregate},
    {eoUPPER, "UPPER", 1, 1, dtString, false, false, TypeCaseMapping, EvaluateCaseMapping},
    {eoLOWER, "LOWER", 1, 1, dtString, false, false, TypeCaseMapping, EvaluateCaseMapping},
    {eoSUBSTRING, "SUBSTRING", 2, 3, dtString, false, false, TypeSubstring, EvaluateSubstring},
    {eoREPLACE, "REPLACE", 3, 3, dtString, false, false, TypeReplace, EvaluateReplace},
    {eoPOS, "POS", 2, 2, dtInteger, false, false, TypeSearch, EvaluateSearch},
    {eoOCCURS, "OCCURS", 2, 2, dtInteger, false, false, TypeSearch, EvaluateSearch},
    {eoTRIMLEADING, "TRIM", 2, 2, dtString, false, false, TypeTrim, EvaluateTrim},
    {eoTRIMTRAILING, "TRIM", 2, 2, dtString, false, false, TypeTrim, EvaluateTrim},
    {eoTRIMBOTH, "TRIM", 2, 2, dtString, false, false, TypeTrim, EvaluateTrim},
    {eoLENGTH, "LENGTH", 1, 1, dtInteger, false, false, TypeLength, EvaluateLength},
    // CAST takes its type from the type name (arguments 1 and 2 are its size and scale).
    {eoCAST, "CAST", 1, 3, kSetByVerification, false, false, TypeCast, EvaluateCast},
    {eoEXTRACTYEAR, "EXTRACT", 1, 1, dtInteger, false, false, TypeExtract, EvaluateExtract},
    {eoEXTRACTMONTH, "EXTRACT", 1, 1, dtInteger, false, false, TypeExtract, EvaluateExtract},
    {eoEXTRACTWEEK, "EXTRACT", 1, 1, dtInteger, false, false, TypeExtract, EvaluateExtract},
    {eoEXTRACTDAY, "EXTRACT", 1, 1, dtInteger, false, false, TypeExtract, EvaluateExtract},
    {eoEXTRACTDAYOFWEEK, "EXTRACT", 1, 1, dtInteger, false, false, TypeExtract, EvaluateExtract},
    {eoEXTRACTHOUR, "EXTRACT", 1, 1, dtInteger, false, false, TypeExtract, EvaluateExtract},
    {eoEXTRACTMINUTE, "EXTRACT", 1, 1, dtInteger, false, false, TypeExtract, EvaluateExtract},
    {eoEXTRACTSECOND, "EXTRACT", 1, 1, dtInteger, false, false, TypeExtract, EvaluateExtract},
    {eoIF, "IF", 3, 3, kSetByVerification, false, true, TypeIf, EvaluateIf},
    {eoABS, "ABS", 1, 1, kSetByVerification, false, false, TypeAbs, EvaluateAbs},
    // ROUND takes the type, size and scale of its argument when parsed.
    {eoROUND, "ROUND", 1, 2, kSetByVerification, false, false, TypeRound, EvaluateRound},
    {eoTEXTSEARCH, "TEXTSEARCH", 2, 2, dtBoolean, false, false, TypeTextSearch, EvaluateTextSearch},
    {eoTEXTOCCURS, "TEXTOCCURS", 2, 2, kSetByVerification, false, false, TypeTextSearch, EvaluateTextSearch},
};

// The entry of each operator, by operator value.
struct TOperatorIndex {
  const TBuiltinFunction* entries[kLastExpOperator + 1] = {};
  constexpr TOperatorIndex() {
    for (const auto& function : kBuiltinFunctions) entries[function.Operator] = &function;
  }
};
constexpr TOperatorIndex kOperatorIndex;

}  // namespace

std::span<const TBuiltinFunction> BuiltinFunctions() noexcept { return kBuiltinFunctions; }

const TBuiltinFunction* FindBuiltinFunction(TExpOperator op) noexcept {
  return op <= kLastExpOperator ? kOperatorIndex.entries[op] : nullptr;
}

const TBuiltinFunction* FindAggregateFunction(std::string_view name) noexcept {
  const auto found = std::find_if(std::begin(kBuiltinFunctions), std::end(kBuiltinFunctions),
                                  [&](const TBuiltinFunction& f) { return f.Aggregate && AnsiSameText(f.Name, name); });
  return found == std::end(kBuiltinFunctions) ? nullptr : &*found;
}

}  // namespace tarn
