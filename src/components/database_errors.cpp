// Raising the component layer's database errors.
#include "components/database_errors.h"

#include "core/errors.h"

namespace tarn {

void DatabaseError(std::string_view message, std::string_view argument) {
  std::string text(message);
  if (const std::size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, argument);
  throw EDatabaseError(std::move(text));
}

}  // namespace tarn
