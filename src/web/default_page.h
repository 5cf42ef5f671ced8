// The query-form page (DefaultPage): its lines and its content, in GBK bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dovecrest {

// The page's lines (HTMLDoc), without line ends.
const std::vector<std::string_view>& DefaultPageLines();

// The page content: every line followed by CR LF.
const std::string& DefaultPageContent();

}  // namespace dovecrest
