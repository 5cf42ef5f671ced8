// Every message text of the expression tokenizer, parser and verifier, kept
// in one place. Each is the fixed beginning of a message; the raising code
// appends the token, quotes and " in " plus the description as the message
// requires. The spellings (including "expectedafter" and "concatentation")
// are the system's own and are kept byte for byte.
#pragma once

#include <string_view>

namespace tarn::expmsg {

using M = std::string_view;

// Suffixes.
inline constexpr M kIn = " in ";
inline constexpr M kFoundIn = " found in ";

// Tokenizer.
inline constexpr M kMissingComment = "Missing ending comment slash and asterisk in ";
inline constexpr M kMissingSingleQuote = "Missing single quote after '";
inline constexpr M kMissingDoubleQuote = "Missing double quote after '";
inline constexpr M kMissingRightBracket = "Missing right bracket after '";

// Grammar.
inline constexpr M kExtPredicatesNotAllowed = "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in ";
inline constexpr M kUnknownSymbol = "Unknown or unexpected symbol '";
inline constexpr M kUnknownFunction = "Unknown or unexpected function '";
inline constexpr M kBetweenAnd = "Expected AND operator in BETWEEN operator, instead found '";
inline constexpr M kNotBetweenAnd = "Expected AND operator in NOT BETWEEN operator, instead found '";
inline constexpr M kInLeft = "Expected left parentheses for IN operator, instead found '";
inline constexpr M kNotInLeft = "Expected left parentheses for NOT IN operator, instead found '";
inline constexpr M kInRight = "Expected right parentheses after IN operator, instead found '";
inline constexpr M kNotInRight = "Expected right parentheses after NOT IN operator, instead found '";
inline constexpr M kSubSelectsNotAllowed = "Sub-select queries are not allowed in ";
inline constexpr M kSecondBar =
    "Second concatenation symbol '|' expected after first concatentation symbol, instead found '";
inline constexpr M kRightParen = "Right parentheses expected, instead found '";
inline constexpr M kAggregatesNotAllowed = "Aggregate functions are not allowed in ";
inline constexpr M kAfterCorrelation =
    "Symbol or string expression expected after table correlation name separator '.', instead found '";
inline constexpr M kAllFieldsNotAllowed = "* (all columns) symbol is not allowed in ";
inline constexpr M kCharRange = "Character constants (#) must be within the range of ";
inline constexpr M kConstantPrefix = "Constant '";
inline constexpr M kNotValidNumber = " is not a valid number ";
inline constexpr M kParametersNotAllowed = "Parameters are not allowed in ";
inline constexpr M kCurrentDateRight =
    "Right parentheses expected after first CURRENT_DATE function parentheses, instead found '";
inline constexpr M kCurrentTimeRight =
    "Right parentheses expected after first CURRENT_TIME function parentheses, instead found '";
inline constexpr M kCurrentTimeStampRight =
    "Right parentheses expected after first CURRENT_TIMESTAMP function parentheses, instead found '";
inline constexpr M kNestedTooDeeply = "Expression nested too deeply in ";

// Functions.
inline constexpr M kLowerLeft = "Left parentheses expectedafter LOWER keyword, instead found '";
inline constexpr M kLowerRight = "Right parentheses expected after LOWER function argument, instead found '";
inline constexpr M kUpperLeft = "Left parentheses expectedafter UPPER keyword, instead found '";
inline constexpr M kUpperRight = "Right parentheses expected after UPPER function argument, instead found '";
inline constexpr M kLengthLeft = "Left parentheses expectedafter LENGTH keyword, instead found '";
inline constexpr M kLengthRight = "Right parentheses expected after LENGTH function argument, instead found '";
inline constexpr M kSubstringLeft = "Left parentheses expected after SUBSTRING keyword, instead found '";
inline constexpr M kSubstringFrom = "FROM keyword expected after first SUBSTRING function argument, instead found '";
inline constexpr M kSubstringRight = "Right parentheses expected after SUBSTRING function arguments, instead found '";
inline constexpr M kReplaceLeft = "Left parentheses expected after REPLACE keyword, instead found '";
inline constexpr M kReplaceWith = "WITH keyword expected after first REPLACE function argument, instead found '";
inline constexpr M kReplaceIn = "IN keyword expected after second REPLACE function argument, instead found '";
inline constexpr M kReplaceRight = "Right parentheses expected after REPLACE function arguments, instead found '";
inline constexpr M kPosLeft = "Left parentheses expected after POS keyword, instead found '";
inline constexpr M kPosIn = "IN keyword expected after first POS function argument, instead found '";
inline constexpr M kPosRight = "Right parentheses expected after POS function arguments, instead found '";
inline constexpr M kOccursLeft = "Left parentheses expected after OCCURS keyword, instead found '";
inline constexpr M kOccursIn = "IN keyword expected after first OCCURS function argument, instead found '";
inline constexpr M kOccursRight = "Right parentheses expected after OCCURS function arguments, instead found '";
inline constexpr M kCastLeft = "Left parentheses expected after CAST keyword, instead found '";
inline constexpr M kCastAs = "AS keyword expected after first CAST function argument, instead found '";
inline constexpr M kCastRight = "Right parentheses expected after CAST function arguments, instead found '";
inline constexpr M kTrimLeft = "Left parentheses expected after TRIM keyword, instead found '";
inline constexpr M kTrimKind = "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found '";
inline constexpr M kTrimFrom = "FROM keyword expected after second TRIM function argument, instead found '";
inline constexpr M kTrimRight = "Right parentheses expected after TRIM function arguments, instead found '";
inline constexpr M kExtractLeft = "Left parentheses expected after EXTRACT keyword, instead found '";
inline constexpr M kExtractPart =
    "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, HOUR, MINUTE, or SECOND keyword expected after EXTRACT keyword, instead found '";
inline constexpr M kExtractFrom = "FROM keyword expected after second EXTRACT function argument, instead found '";
inline constexpr M kExtractRight = "Right parentheses expected after EXTRACT function arguments, instead found '";
inline constexpr M kAbsLeft = "Left parentheses expectedafter ABS keyword, instead found '";
inline constexpr M kAbsRight = "Right parentheses expected after ABS function argument, instead found '";
inline constexpr M kRoundLeft = "Left parentheses expectedafter ROUND keyword, instead found '";
inline constexpr M kRoundRight = "Right parentheses expected after ROUND function arguments, instead found '";
inline constexpr M kIfLeft = "Left parentheses expectedafter IF keyword, instead found '";
inline constexpr M kIfThen = "THEN keyword expected after first IF function argument, instead found '";
inline constexpr M kIfElse = "ELSE keyword expected after second IF function argument, instead found '";
inline constexpr M kIfRight = "Right parentheses expected after IF function arguments, instead found '";
inline constexpr M kTextSearchLeft = "Left parentheses expectedafter TEXTSEARCH keyword, instead found '";
inline constexpr M kTextSearchIn = "IN keyword expected after first TEXTSEARCH function argument, instead found '";
inline constexpr M kTextSearchRight = "Right parentheses expected after TEXTSEARCH function argument, instead found '";
inline constexpr M kTextOccursLeft = "Left parentheses expectedafter TEXTOCCURS keyword, instead found '";
inline constexpr M kTextOccursIn = "IN keyword expected after first TEXTOCCURS function argument, instead found '";
inline constexpr M kTextOccursRight = "Right parentheses expected after TEXTOCCURS function argument, instead found '";
inline constexpr M kAggregateLeft = "Left parentheses expectedafter aggregate function '";
inline constexpr M kAggregateLeftTail = ", instead found ";
inline constexpr M kAggregateRight = "Right parentheses expected after aggregate ";
inline constexpr M kAggregateRightTail = " function argument, instead found ";

// Data types.
inline constexpr M kCommaAfterFirst = "Comma expected after first ";           // + name + " argument, instead found '"
inline constexpr M kArgumentInsteadFound = " argument, instead found '";
inline constexpr M kRightAfterDataType = "Right parentheses expected after ";    // + name + " data type arguments, ..."
inline constexpr M kDataTypeArgumentsInsteadFound = " data type arguments, instead found '";
inline constexpr M kCharLeft = "Left parentheses expected after CHARACTER or CHAR data type, instead found '";
inline constexpr M kCharRight = "Right parentheses expected after CHARACTER or CHAR data type arguments, instead found '";
inline constexpr M kVarCharLeft = "Left parentheses expected after VARCHAR data type, instead found '";
inline constexpr M kVarCharRight = "Right parentheses expected after VARCHAR data type arguments, instead found '";
inline constexpr M kBlobLeft = "Left parentheses expected after BLOB data type, instead found '";
inline constexpr M kBlobComma = "Comma expected after first BLOB argument, instead found '";
inline constexpr M kBlobRight = "Right parentheses expected after BLOB data type arguments, instead found '";
inline constexpr M kBytesRight = "Right parentheses expected after BYTES data type arguments, instead found '";
inline constexpr M kDataTypeExpected = "SQL data type keyword expected, instead found '";

// Verification.
inline constexpr M kTypeMismatchBetween = "Type mismatch between ";
inline constexpr M kUnaryMismatchOperator = "' operator and ";  // "Type mismatch between '" + op + this + "'" + operand
inline constexpr M kDateExpected = "Date, time, or timestamp expression expected, instead found '";
inline constexpr M kInvalidColumn = "Invalid column name '";
inline constexpr M kInvalidColumnTable = " or table correlation name ";
inline constexpr M kSpecifiedIn = " specified in ";
inline constexpr M kSubSelectColumns = "More than 1 column for sub-select  specified in ";
inline constexpr M kAggregateFunction = " aggregate function ";
inline constexpr M kAggregateNumeric = "must contain a numeric, date, time, or timestamp expression in ";
inline constexpr M kFunctionArgumentMismatch = " function and function argument in ";
inline constexpr M kLengthMismatch = "Type mismatch between LENGTH function and function argument in ";
inline constexpr M kSubstringExpression = "Expression argument of SUBSTRING function must be a string or memo in ";
inline constexpr M kSubstringFromInteger = "FROM argument of SUBSTRING function must be an integer value in ";
inline constexpr M kSubstringForInteger = "FOR argument of SUBSTRING function must be an integer value in ";
inline constexpr M kReplaceInString = "IN argument of REPLACE function must be a string or memo in ";
inline constexpr M kReplaceSearch = "Type mismatch between REPLACE function and search string argument in ";
inline constexpr M kReplaceReplacement = "Type mismatch between REPLACE function and replacement string argument in ";
inline constexpr M kPosInMismatch = "Type mismatch between POS function and IN argument in ";
inline constexpr M kPosSearchMismatch = "Type mismatch between POS function and search string argument in ";
inline constexpr M kOccursInMismatch = "Type mismatch between OCCURS function and IN argument in ";
inline constexpr M kOccursSearchMismatch = "Type mismatch between OCCURS function and search string argument in ";
inline constexpr M kTrimFromString = "FROM argument of TRIM function must be a string or memo in ";
inline constexpr M kTrimCharacter = "Trim character argument of TRIM function must be a single character constant in ";
inline constexpr M kExtractType = "FROM argument of EXTRACT function must be a date, time, or timestamp in ";
inline constexpr M kIfCondition = "First expression argument of IF function must be a boolean type in ";
inline constexpr M kIfBothNull = "At least one of the second and third IF expression arguments in ";
inline constexpr M kIfBothNullTail = " must be a non-NULL value";
inline constexpr M kIfMismatch = "Type mismatch between second and third IF expression arguments in ";
inline constexpr M kAbsType = "Expression argument of ABS function must be an integer, floating-point, or BCD type in ";
inline constexpr M kRoundType = "Expression argument of ROUND function must be a floating-point or BCD type in ";
inline constexpr M kRoundPlaces = "Decimal places argument of ROUND function must be an integer constant in ";
inline constexpr M kRoundPlacesRange =
    "Decimal places argument of ROUND function must be an integer constant between 0 and 32 in ";
inline constexpr M kTextSearchTextMismatch = "Type mismatch between TEXTSEARCH function and search text function argument in ";
inline constexpr M kTextSearchConstant = "TEXTSEARCH search text function argument must be a string constant in ";
inline constexpr M kTextSearchColumn = "TEXTSEARCH function column argument must be a valid column name in ";
inline constexpr M kTextSearchColumnMismatch = "Type mismatch between TEXTSEARCH function and column function argument in ";
inline constexpr M kTextOccursTextMismatch = "Type mismatch between TEXTOCCURS function and search text function argument in ";
inline constexpr M kTextOccursConstant = "TEXTOCCURS search text function argument must be a string constant in ";
inline constexpr M kTextOccursColumn = "TEXTOCCURS function column argument must be a valid column name in ";
inline constexpr M kTextOccursColumnMismatch = "Type mismatch between TEXTOCCURS function and column function argument in ";
inline constexpr M kOperatorAndExpression = " operator and expression ";
inline constexpr M kLengthInteger = "Length argument must be an integer in ";
inline constexpr M kLengthRange = "Length argument must be an integer greater than 0 and less than or equal to ";
inline constexpr M kScaleInteger = "Scale argument must be an integer in ";
inline constexpr M kBcdScale = "Scale argument must be an integer less than or equal to 4 for the BCD data type ";
inline constexpr M kBlobFirstInteger = "First BLOB type argument must be an integer in ";
inline constexpr M kBlobTypeInteger = "BLOB type argument must be an integer in ";
inline constexpr M kBlobTypeValue = "BLOB type argument must be an integer with a value of 1,2,3,5, or 7 in ";

}  // namespace tarn::expmsg
