// Form fields of a posted request body: splitting, URL decoding and look-up by name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dovecrest {

// Cuts a body into its fields at '&', CR and LF; empty fields are dropped and a zero
// byte ends the body. Each field is URL-decoded as a whole (HTTPDecode).
std::vector<std::string> ParseFormFields(std::string_view body);

// '+' becomes a blank, "%%" one '%', '%' and two hexadecimal digits the byte they
// give. Any other '%' raises EConvertError "'$xy' is not a valid integer value".
std::string HTTPDecode(std::string_view text);

// The text after the first '=' of the first field whose name (the text before that
// '=') equals `name` without regard to case; empty when there is none.
std::string FindFormField(const std::vector<std::string>& fields, std::string_view name);

}  // namespace dovecrest
