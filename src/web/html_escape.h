// HTML escaping of texts that come from a request or the database.
#pragma once

#include <string>
#include <string_view>

namespace dovecrest {

// Replaces & < > " ' by their character references; every other byte (GBK double-byte
// characters among them: their trail bytes are never one of these five) stays.
std::string HtmlEscape(std::string_view text);

}  // namespace dovecrest
