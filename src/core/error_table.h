// The table of every engine error code: constant name, message template and
// the context slots that fill the template's %s placeholders, in order.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/errors.h"

namespace tarn {

struct TErrorEntry {
  TarnErrorCode code;
  const char* constantName;
  const char* messageTemplate;  // null: the code has no template of its own
  std::array<std::int8_t, 3> slots;  // TErrorSlot values, -1 = unused
  std::uint8_t slotCount;
};

// The whole table, sorted by code.
std::span<const TErrorEntry> ErrorTable() noexcept;

// The entry of a code, or null.
const TErrorEntry* FindErrorEntry(TarnErrorCode code) noexcept;

}  // namespace tarn
