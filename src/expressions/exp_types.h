// Enumerations of the expression tree: node classes, operators, parse
// modifiers, optimisation levels and join types. The numeric values are
// carried by packed trees and must not change.
#pragma once

#include <cstdint>

namespace tarn {

enum TExpNodeClass : std::uint8_t {
  enNULL = 0,
  enUNARY = 1,
  enBINARY = 2,
  enCOMPARE = 3,
  enFIELD = 4,
  enCONST = 5,
  enTUPLE = 6,
  enCONTINUE = 7,
  enUDF = 8,
  enLIST = 9,
  enFUNC = 10,
  enLISTELEM = 11,
  enEXTBINARY = 12,
};
inline constexpr std::uint8_t kLastExpNodeClass = enEXTBINARY;

enum TExpOperator : std::uint8_t {
  eoNOTDEFINED = 0,
  eoISBLANK = 1,
  eoNOTBLANK = 2,
  eoEQ = 3,
  eoNE = 4,
  eoGT = 5,
  eoLT = 6,
  eoGE = 7,
  eoLE = 8,
  eoNOT = 9,
  eoAND = 10,
  eoOR = 11,
  eoTUPLE = 12,
  eoFIELD = 13,
  eoCONST = 14,
  eoMINUS = 15,
  eoPLUS = 16,
  eoADD = 17,
  eoSUB = 18,
  eoMUL = 19,
  eoDIV = 20,
  eoMOD = 21,
  eoREM = 22,
  eoSUM = 23,
  eoRUNSUM = 24,
  eoCOUNT = 25,
  eoMIN = 26,
  eoMAX = 27,
  eoAVG = 28,
  eoCONT = 29,
  eoUDF = 30,
  eoCONTINUE = 31,
  eoLIKE = 32,
  eoIN = 33,
  eoSUBIN = 34,
  eoLIST = 35,
  eoUPPER = 36,
  eoLOWER = 37,
  eoFUNC = 38,
  eoLISTELEM = 39,
  eoASSIGN = 40,
  eoBETWEEN = 41,
  eoNOTBETWEEN = 42,
  eoNOTLIKE = 43,
  eoNOTIN = 44,
  eoNOTSUBIN = 45,
  eoSUBSTRING = 46,
  eoREPLACE = 47,
  eoPOS = 48,
  eoOCCURS = 49,
  eoTRIMLEADING = 50,
  eoTRIMTRAILING = 51,
  eoTRIMBOTH = 52,
  eoLENGTH = 53,
  eoCAST = 54,
  eoEXTRACTYEAR = 55,
  eoEXTRACTMONTH = 56,
  eoEXTRACTWEEK = 57,
  eoEXTRACTDAY = 58,
  eoEXTRACTDAYOFWEEK = 59,
  eoEXTRACTHOUR = 60,
  eoEXTRACTMINUTE = 61,
  eoEXTRACTSECOND = 62,
  eoIF = 63,
  eoABS = 64,
  eoROUND = 65,
  eoTEXTSEARCH = 66,
  eoTEXTOCCURS = 67,
};
inline constexpr std::uint8_t kLastExpOperator = eoTEXTOCCURS;

// One bit per option of TParseModifiers.
enum TParseOptions : std::uint8_t {
  pmAllowAggregates = 1u << 0,
  pmAllowAllFields = 1u << 1,
  pmAllowExtPredicates = 1u << 2,
  pmAllowParameters = 1u << 3,
  pmAllowSubSelects = 1u << 4,
};
using TParseModifiers = std::uint8_t;

enum TOptimizeLevel : std::uint8_t { olNone = 0, olPartial = 1, olFull = 2 };

enum TJoinType : std::uint8_t { jtNone = 0, jtInner = 1, jtLeftOuter = 2, jtRightOuter = 3, jtFullOuter = 4 };

// Deepest nesting of parentheses and function calls the parser accepts. A
// flat chain (a OR b OR c ..., a + b + c ...) is not nesting: the tree walkers
// follow chains of any length without recursing, and only evaluation recurses,
// once per function or extended predicate.
inline constexpr int kMaxExpressionNesting = 200;
// Deepest nesting of functions and extended predicates in a tree read from a
// packed buffer: what text within the nesting limit can produce (a function
// and a predicate directly in its condition per level, plus one predicate at
// the top).
inline constexpr int kMaxCallNesting = 2 * kMaxExpressionNesting + 1;

}  // namespace tarn
