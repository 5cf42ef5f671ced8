// Whole-buffer compression with zlib (level 9, one zlib stream with header and
// checksum), used for the client/server request buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarn {

// Default cap on the size of a decompressed buffer.
inline constexpr std::size_t DefaultDecompressLimit = 64u * 1024u * 1024u;

// Compresses the whole input into output (replaced). Failure raises TARN_COMPRESS.
void CompressBuffer(const void* input, std::size_t length, std::vector<std::uint8_t>& output);

// Inflates one complete zlib stream into output (replaced). Garbage, a
// truncated stream, bytes after the stream or an output above maxOutput
// raise TARN_UNCOMPRESS; output is left empty then.
void DecompressBuffer(const void* input, std::size_t length, std::vector<std::uint8_t>& output,
                      std::size_t maxOutput = DefaultDecompressLimit);

}  // namespace tarn
