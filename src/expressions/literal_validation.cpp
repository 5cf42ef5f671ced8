// Column default/minimum/maximum literal checks.
#include "expressions/literal_validation.h"

#include "platform/code_page.h"
#include "expressions/ansi_text_forms.h"
#include "expressions/expression_layer.h"
#include "storage/formats/check_header.h"
#include "storage/formats/data_types.h"

namespace tarn {

bool VerifyExpression(std::string_view text, std::uint8_t dataType) {
  if (text.empty()) return true;
  switch (dataType) {
    case dtString: case dtBytes: case dtVarBytes: case dtBlob:
      return true;
    case dtDate:
      return AnsiSameText(text, "CURRENT_DATE") || IsADate(text);
    case dtTime:
      return AnsiSameText(text, "CURRENT_TIME") || IsATime(text);
    case dtTimeStamp:
      return AnsiSameText(text, "CURRENT_TIMESTAMP") || AnsiSameText(text, "CURRENT_DATE") ||
             AnsiSameText(text, "CURRENT_TIME") || IsADateTime(text);
    case dtBoolean: return IsABoolean(text);
    case dtSmallInt: return IsASmallInt(text);
    case dtInteger: return IsAnInteger(text);
    case dtWord: return IsAWord(text);
    case dtLargeInt: return IsALargeInt(text);
    case dtFloat: return IsAFloat(text);
    case dtBCD: return IsABCD(text);
    default: return false;
  }
}

void InstallExpressionVerifier() noexcept { SetExpressionVerifier(&VerifyExpression); }

}  // namespace tarn
