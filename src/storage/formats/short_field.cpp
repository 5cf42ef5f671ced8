// Short strings of the stored structures.
#include "storage/formats/short_field.h"

#include "platform/code_page.h"

namespace tarn {

std::size_t ShortFieldCutLength(std::string_view text, std::size_t maxBytes) noexcept {
  return CutLength(text, maxBytes);
}

}  // namespace tarn
