// The quota status page: the three statements on the print-quota tables (user,
// printer, setting) run through the module's query, and the GBK page built from
// their rows, headed by the smallest remaining quota of the user's own limits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {
class TTarnQuery;
}

namespace dovecrest {

// The page when no user name was entered: "未输入任何使用者名称".
inline constexpr std::string_view kNoUserName =
    "\xce\xb4\xca\xe4\xc8\xeb\xc8\xce\xba\xce\xca\xb9\xd3\xc3\xd5\xdf\xc3\xfb\xb3\xc6";

// The text shown for a HOWTODO code (empty for an unknown code).
std::string_view HowToDoText(std::int32_t code);

// The entered name without leading and trailing bytes up to 0x20.
std::string_view TrimUserName(std::string_view value);

// The text as an SQL string literal: enclosed in single quotes, each quote
// doubled. A zero byte would cut the statement text short: it raises instead.
std::string SqlStringLiteral(std::string_view text);

// Runs the three statements for the (trimmed) user name and builds the page.
// Whatever the query raises passes through; nothing is written anywhere.
std::string BuildQuotaStatusPage(tarn::TTarnQuery& Query, std::string_view userName);

}  // namespace dovecrest
