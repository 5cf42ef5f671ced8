// Rules for the names of fields and indexes stored in table files.
#include "storage/formats/object_names.h"

#include "platform/code_page.h"

namespace tarn {

std::string_view TrimName(std::string_view name) noexcept {
  while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  return name;
}

bool IsValidObjectName(std::string_view name) noexcept {
  const std::string_view trimmed = TrimName(name);
  return !trimmed.empty() && IsNameStartChar(static_cast<unsigned char>(trimmed.front()));
}

bool SameObjectName(std::string_view a, std::string_view b) noexcept {
  return AnsiSameText(TrimName(a), TrimName(b));
}

}  // namespace tarn
