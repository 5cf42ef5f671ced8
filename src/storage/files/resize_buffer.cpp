// Growable zero-filled buffers rounded to a granularity.
#include "storage/files/resize_buffer.h"

#include <cstring>
#include <limits>
#include <new>

namespace tarn {

bool ResizeBuffer(std::int64_t size, std::int64_t granularity, TBufferPtr& buffer, std::int64_t& capacity) {
  if (size < 1) {
    buffer.reset();
    capacity = 0;
    return true;
  }
  if (granularity < 1) return false;
  if (size > std::numeric_limits<std::int64_t>::max() - (granularity - 1)) return false;
  const std::int64_t rounded = (size + granularity - 1) / granularity * granularity;
  if (buffer && rounded <= capacity) return true;
  if (static_cast<std::uint64_t>(rounded) > std::numeric_limits<std::size_t>::max() / 2) return false;
  TBufferPtr grown;
  try {
    grown = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(rounded));  // zero-filled
  } catch (const std::bad_alloc&) {
    return false;
  }
  const std::int64_t keep = buffer ? capacity : 0;
  if (keep > 0) std::memcpy(grown.get(), buffer.get(), static_cast<std::size_t>(keep));
  buffer = std::move(grown);
  capacity = rounded;
  return true;
}

}  // namespace tarn
