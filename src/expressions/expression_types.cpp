// Operator and cast type tables.
#include "expressions/expression_types.h"

#include "storage/formats/data_types.h"
#include "expressions/expression_layer.h"

namespace tarn {

namespace {

using TTypeSet = std::uint32_t;

constexpr TTypeSet Bit(unsigned code) { return TTypeSet{1} << code; }

// Type classes: one bit per engine type code, plus one for memo BLOBs (so
// that "BLOB" below means the other BLOB sub types).
constexpr TTypeSet tNULL = Bit(0);
constexpr TTypeSet tSTRING = Bit(dtString);
constexpr TTypeSet tDATE = Bit(dtDate);
constexpr TTypeSet tBLOB = Bit(dtBlob);
constexpr TTypeSet tBOOLEAN = Bit(dtBoolean);
constexpr TTypeSet tSMALLINT = Bit(dtSmallInt);
constexpr TTypeSet tINTEGER = Bit(dtInteger);
constexpr TTypeSet tFLOAT = Bit(dtFloat);
constexpr TTypeSet tBCD = Bit(dtBCD);
constexpr TTypeSet tBYTES = Bit(dtBytes);
constexpr TTypeSet tTIME = Bit(dtTime);
constexpr TTypeSet tTIMESTAMP = Bit(dtTimeStamp);
constexpr TTypeSet tWORD = Bit(dtWord);
constexpr TTypeSet tVARBYTES = Bit(dtVarBytes);
constexpr TTypeSet tLARGEINT = Bit(dtLargeInt);
constexpr TTypeSet tMEMO = Bit(24);

constexpr TTypeSet tINT = tSMALLINT | tINTEGER | tWORD;  // "int" of the result rules
constexpr TTypeSet tINTS = tINT | tLARGEINT;             // every integer type
constexpr TTypeSet tNUMERIC = tINTS | tFLOAT | tBCD;
constexpr TTypeSet tTEXT = tSTRING | tMEMO;
constexpr TTypeSet tANY = ~TTypeSet{0};

TTypeSet TypeClass(std::uint8_t type, std::uint8_t subType) {
  if (type == dtBlob && subType == dstMemo) return tMEMO;
  return type < 24 ? Bit(type) : 0;
}

enum TOpGroup : std::uint8_t { ogEquality, ogOrder, ogLogic, ogAdd, ogSub, ogMul, ogDiv, ogNone };

TOpGroup GroupOf(TExpOperator op) {
  switch (op) {
    case eoEQ: case eoNE: return ogEquality;
    case eoGT: case eoLT: case eoGE: case eoLE: return ogOrder;
    case eoAND: case eoOR: return ogLogic;
    case eoADD: return ogAdd;
    case eoSUB: return ogSub;
    case eoMUL: return ogMul;
    case eoDIV: return ogDiv;
    default: return ogNone;
  }
}

struct TAcceptRule {
  TOpGroup Group;
  TTypeSet Left;
  TTypeSet Right;
};

// Left types down, accepted right types across.
constexpr TAcceptRule kAcceptRules[] = {
    {ogEquality, tDATE | tTIMESTAMP, tNULL | tDATE | tTIMESTAMP},
    {ogEquality, tTIME, tNULL | tTIME},
    {ogEquality, tTEXT, tNULL | tTEXT},
    {ogEquality, tBLOB, tNULL},
    {ogEquality, tBOOLEAN, tNULL | tBOOLEAN},
    {ogEquality, tNUMERIC, tNULL | tNUMERIC},
    {ogEquality, tBYTES, tNULL | tBYTES},
    {ogOrder, tDATE | tTIMESTAMP, tDATE | tTIMESTAMP},
    {ogOrder, tTEXT, tTEXT},
    {ogOrder, tNUMERIC, tNUMERIC},
    {ogOrder, tTIME, tTIME},
    {ogLogic, tBOOLEAN, tBOOLEAN},
    {ogAdd, tDATE | tTIME | tTIMESTAMP, tINTS},
    {ogAdd, tTEXT, tTEXT},
    {ogAdd, tINTS, tDATE | tNUMERIC | tTIME | tTIMESTAMP},
    {ogAdd, tFLOAT | tBCD, tNUMERIC},
    {ogSub, tDATE, tDATE | tINTS},
    {ogSub, tNUMERIC, tNUMERIC},
    {ogSub, tTIME, tINTS | tTIME},
    {ogSub, tTIMESTAMP, tDATE | tINTS | tTIME | tTIMESTAMP},
    {ogMul, tNUMERIC, tNUMERIC},
    {ogDiv, tNUMERIC, tNUMERIC},
};

// Result type code 0xFF stands for the memo result (a BLOB with the memo sub type).
constexpr std::uint8_t kMemoResult = 0xFF;

struct TResultRule {
  TOpGroup Group;
  TTypeSet Left;
  TTypeSet Right;
  std::uint8_t Result;
};

constexpr TResultRule kResultRules[] = {
    {ogAdd, tSTRING, tSTRING, dtString},
    {ogAdd, tTEXT, tTEXT, kMemoResult},
    {ogAdd, tDATE, tINTS, dtDate},
    {ogAdd, tINT, tDATE, dtDate},
    {ogAdd, tINT, tINT, dtInteger},
    {ogAdd, tINT, tFLOAT, dtFloat},
    {ogAdd, tINT, tBCD, dtBCD},
    {ogAdd, tINT, tTIME, dtTime},
    {ogAdd, tINT, tTIMESTAMP, dtTimeStamp},
    {ogAdd, tINT, tLARGEINT, dtLargeInt},
    {ogAdd, tLARGEINT, tDATE, dtDate},
    {ogAdd, tLARGEINT, tINTS, dtLargeInt},
    {ogAdd, tLARGEINT, tFLOAT, dtFloat},
    {ogAdd, tLARGEINT, tBCD, dtBCD},
    {ogAdd, tLARGEINT, tTIME, dtTime},
    {ogAdd, tLARGEINT, tTIMESTAMP, dtTimeStamp},
    {ogAdd, tFLOAT, tNUMERIC, dtFloat},
    {ogAdd, tBCD, tINTS | tBCD, dtBCD},
    {ogAdd, tBCD, tFLOAT, dtFloat},
    {ogAdd, tTIME, tINTS, dtTime},
    {ogAdd, tTIMESTAMP, tINTS, dtTimeStamp},

    {ogSub, tDATE, tDATE, dtInteger},
    {ogSub, tDATE, tINTS, dtDate},
    {ogSub, tINT, tINT, dtInteger},
    {ogSub, tINT, tFLOAT, dtFloat},
    {ogSub, tINT, tBCD, dtBCD},
    {ogSub, tINT, tLARGEINT, dtLargeInt},
    {ogSub, tLARGEINT, tINTS, dtLargeInt},
    {ogSub, tLARGEINT, tFLOAT, dtFloat},
    {ogSub, tLARGEINT, tBCD, dtBCD},
    {ogSub, tFLOAT, tNUMERIC, dtFloat},
    {ogSub, tBCD, tINTS | tBCD, dtBCD},
    {ogSub, tBCD, tFLOAT, dtFloat},
    {ogSub, tTIME, tINTS, dtTime},
    {ogSub, tTIME, tTIME, dtInteger},
    {ogSub, tTIMESTAMP, tDATE | tTIME, dtInteger},
    {ogSub, tTIMESTAMP, tINTS, dtTimeStamp},
    {ogSub, tTIMESTAMP, tTIMESTAMP, dtFloat},

    {ogMul, tINT, tINT, dtInteger},
    {ogMul, tINT, tFLOAT, dtFloat},
    {ogMul, tINT, tBCD, dtBCD},
    {ogMul, tINT, tLARGEINT, dtLargeInt},
    {ogMul, tLARGEINT, tINTS, dtLargeInt},
    {ogMul, tLARGEINT, tFLOAT, dtFloat},
    {ogMul, tLARGEINT, tBCD, dtBCD},
    {ogMul, tFLOAT, tNUMERIC, dtFloat},
    {ogMul, tBCD, tINTS | tBCD, dtBCD},
    {ogMul, tBCD, tFLOAT, dtFloat},

    {ogDiv, tINTS, tINTS | tFLOAT, dtFloat},
    {ogDiv, tINTS, tBCD, dtBCD},
    {ogDiv, tFLOAT, tNUMERIC, dtFloat},
    {ogDiv, tBCD, tINTS | tBCD, dtBCD},
    {ogDiv, tBCD, tFLOAT, dtFloat},
};

struct TCastRule {
  TTypeSet Target;
  TTypeSet Sources;
};

// Target types down, accepted source types across.
constexpr TCastRule kCastRules[] = {
    {tDATE, tSTRING | tDATE | tBYTES | tTIMESTAMP | tVARBYTES},
    {tBOOLEAN, tSTRING | tBOOLEAN | tSMALLINT | tINTEGER | tBCD | tBYTES | tWORD | tVARBYTES | tLARGEINT},
    {tSMALLINT | tWORD,
     tSTRING | tBOOLEAN | tSMALLINT | tINTEGER | tFLOAT | tBCD | tBYTES | tWORD | tVARBYTES | tLARGEINT},
    {tINTEGER | tFLOAT | tBCD | tLARGEINT,
     tSTRING | tSMALLINT | tINTEGER | tFLOAT | tBCD | tBYTES | tWORD | tVARBYTES | tLARGEINT},
    {tTIME, tSTRING | tBYTES | tTIME | tTIMESTAMP | tVARBYTES},
    {tTIMESTAMP, tSTRING | tDATE | tBYTES | tTIME | tTIMESTAMP | tVARBYTES},
    {tSTRING | tBLOB | tBYTES | tVARBYTES, tANY},
};

}  // namespace

bool IsMemoType(std::uint8_t type, std::uint8_t subType) noexcept { return type == dtBlob && subType == dstMemo; }

bool IsStringOrMemoType(std::uint8_t type, std::uint8_t subType) noexcept {
  return type == dtString || IsMemoType(type, subType);
}

bool CheckUnaryTypes(TExpOperator op, std::uint8_t type) {
  const TTypeSet t = type < 24 ? Bit(type) : 0;
  switch (op) {
    case eoISBLANK: case eoNOTBLANK: case eoNOT:
      return (t & tBOOLEAN) != 0;
    case eoMINUS:
      return (t & (tDATE | tSMALLINT | tINTEGER | tFLOAT | tBCD | tTIME | tTIMESTAMP | tLARGEINT)) != 0;
    case eoPLUS:
      return (t & (tDATE | tSMALLINT | tINTEGER | tFLOAT | tBCD | tTIME | tTIMESTAMP | tLARGEINT | tWORD)) != 0;
    default:
      return false;
  }
}

std::uint8_t GetUnaryResultDataType(TExpOperator op, std::uint8_t type) {
  return (op == eoISBLANK || op == eoNOTBLANK || op == eoNOT) ? std::uint8_t{dtBoolean} : type;
}

std::uint8_t GetUnaryResultSubType(TExpOperator op, std::uint8_t subType) {
  return (op == eoISBLANK || op == eoNOTBLANK || op == eoNOT) ? std::uint8_t{0} : subType;
}

bool CheckBinaryTypes(TExpOperator op, std::uint8_t leftType, std::uint8_t leftSubType, std::uint8_t rightSubType,
                      std::uint8_t rightType) {
  const TOpGroup group = GroupOf(op);
  const TTypeSet left = TypeClass(leftType, leftSubType);
  const TTypeSet right = TypeClass(rightType, rightSubType);
  for (const auto& rule : kAcceptRules)
    if (rule.Group == group && (rule.Left & left) != 0) return (rule.Right & right) != 0;
  return false;
}

std::uint8_t GetBinaryResultDataType(TExpOperator op, std::uint8_t leftType, std::uint8_t leftSubType,
                                     std::uint8_t rightSubType, std::uint8_t rightType) {
  const TOpGroup group = GroupOf(op);
  if (group == ogEquality || group == ogOrder || group == ogLogic) return dtBoolean;
  const TTypeSet left = TypeClass(leftType, leftSubType);
  const TTypeSet right = TypeClass(rightType, rightSubType);
  for (const auto& rule : kResultRules)
    if (rule.Group == group && (rule.Left & left) != 0 && (rule.Right & right) != 0)
      return rule.Result == kMemoResult ? std::uint8_t{dtBlob} : rule.Result;
  return leftType;
}

std::uint8_t GetBinaryResultSubType(TExpOperator op, std::uint8_t leftType, std::uint8_t leftSubType,
                                    std::uint8_t rightSubType, std::uint8_t rightType) {
  const TTypeSet left = TypeClass(leftType, leftSubType);
  const TTypeSet right = TypeClass(rightType, rightSubType);
  if (op == eoADD && (left & tTEXT) != 0 && (right & tTEXT) != 0 && ((left | right) & tMEMO) != 0) return dstMemo;
  const bool rightNumeric = (right & tNUMERIC) != 0;
  if (op == eoADD || op == eoMUL) {
    if (leftSubType == dstMoney && rightNumeric) return dstMoney;
    if (leftSubType == 0 && rightSubType == dstMoney) return dstMoney;
  } else if (op == eoSUB || op == eoDIV) {
    if (leftSubType == dstMoney && rightNumeric) return dstMoney;
  }
  return 0;
}

bool CheckCastTypes(std::uint8_t targetType, std::uint8_t sourceType) {
  const TTypeSet target = targetType < 24 ? Bit(targetType) : 0;
  const TTypeSet source = sourceType < 24 ? Bit(sourceType) : 0;
  for (const auto& rule : kCastRules)
    if ((rule.Target & target) != 0) return (rule.Sources & source) != 0;
  return false;
}

}  // namespace tarn
