// Validation of the default, minimum and maximum texts written for a column
// (VerifyExpression), and its installation as the table-header check's
// verifier.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarn {

// True when text is a valid default, minimum or maximum for a column of the
// data type: empty text always; strings, BLOBs, bytes and variable bytes
// anything; dates CURRENT_DATE or a date; times CURRENT_TIME or a time;
// timestamps CURRENT_TIMESTAMP, CURRENT_DATE, CURRENT_TIME, a date, a
// timestamp or a time; booleans, integers, floats and BCD values their
// literal forms.
// Any other type accepts nothing but empty text.
bool VerifyExpression(std::string_view text, std::uint8_t dataType);

// Makes the table-header checks use VerifyExpression. Every engine start calls
// it (the layer registers it as start-up work, expression_layer.h); calling it
// again is harmless.
void InstallExpressionVerifier() noexcept;

}  // namespace tarn
