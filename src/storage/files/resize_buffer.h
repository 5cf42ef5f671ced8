// ResizeBuffer: the one allocator of growable work buffers in the storage code.
#pragma once

#include <cstdint>
#include <memory>

namespace tarn {

using TBufferPtr = std::unique_ptr<std::uint8_t[]>;

// A size below 1 frees the buffer and sets the capacity to 0. Otherwise the
// size is rounded up to a multiple of the granularity and the buffer grows to
// it (never shrinks); new bytes are zero, existing bytes are kept. Answers
// false, leaving buffer and capacity as they were, when the size cannot be
// allocated or the granularity is below 1.
[[nodiscard]] bool ResizeBuffer(std::int64_t size, std::int64_t granularity, TBufferPtr& buffer,
                                std::int64_t& capacity);

inline constexpr std::int64_t FileBufferGranularity = 4096;
inline constexpr std::int64_t RecordBufferGranularity = 64;

}  // namespace tarn
