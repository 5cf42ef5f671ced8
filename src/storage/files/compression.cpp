// zlib compression of whole buffers.
#include "storage/files/compression.h"

#include <zlib.h>

#include <limits>

#include "core/errors.h"

namespace tarn {
namespace {

// Owns a z_stream for deflate or inflate.
class TZStream {
 public:
  explicit TZStream(bool deflating) : deflating_(deflating) {}
  ~TZStream() {
    if (!initialised_) return;
    if (deflating_)
      deflateEnd(&stream_);
    else
      inflateEnd(&stream_);
  }
  TZStream(const TZStream&) = delete;
  TZStream& operator=(const TZStream&) = delete;

  bool Init() {
    initialised_ = (deflating_ ? deflateInit(&stream_, 9) : inflateInit(&stream_)) == Z_OK;
    return initialised_;
  }
  z_stream& Get() noexcept { return stream_; }

 private:
  z_stream stream_{};
  bool deflating_;
  bool initialised_ = false;
};

constexpr std::size_t kMaxChunk = std::numeric_limits<uInt>::max();

}  // namespace

void CompressBuffer(const void* input, std::size_t length, std::vector<std::uint8_t>& output) {
  output.clear();
  if ((input == nullptr && length > 0) || length > kMaxChunk) RaiseError(TARN_COMPRESS);
  TZStream z(true);
  if (!z.Init()) RaiseError(TARN_COMPRESS);
  z_stream& s = z.Get();
  std::size_t capacity = (length + length / 10 + 267) / 256 * 256;
  try {
    output.resize(capacity);
  } catch (const std::bad_alloc&) {
    RaiseError(TARN_COMPRESS);
  }
  s.next_in = static_cast<Bytef*>(const_cast<void*>(input));
  s.avail_in = static_cast<uInt>(length);
  for (;;) {
    s.next_out = output.data() + s.total_out;
    s.avail_out = static_cast<uInt>(output.size() - s.total_out);
    const int result = deflate(&s, Z_FINISH);
    if (result == Z_STREAM_END) break;
    if (result != Z_OK && result != Z_BUF_ERROR) {
      output.clear();
      RaiseError(TARN_COMPRESS);
    }
    try {
      output.resize(output.size() + 256);
    } catch (const std::bad_alloc&) {
      output.clear();
      RaiseError(TARN_COMPRESS);
    }
  }
  output.resize(s.total_out);
}

void DecompressBuffer(const void* input, std::size_t length, std::vector<std::uint8_t>& output,
                      std::size_t maxOutput) {
  output.clear();
  if (input == nullptr || length == 0 || length > kMaxChunk) RaiseError(TARN_UNCOMPRESS);
  TZStream z(false);
  if (!z.Init()) RaiseError(TARN_UNCOMPRESS);
  z_stream& s = z.Get();
  const std::size_t step = (length + 255) / 256 * 256;
  s.next_in = static_cast<Bytef*>(const_cast<void*>(input));
  s.avail_in = static_cast<uInt>(length);
  auto fail = [&]() {
    output.clear();
    output.shrink_to_fit();
    RaiseError(TARN_UNCOMPRESS);
  };
  for (;;) {
    if (output.size() - s.total_out == 0) {
      if (output.size() >= maxOutput) fail();
      const std::size_t grown = output.size() + std::min(step, maxOutput - output.size());
      try {
        output.resize(grown);
      } catch (const std::bad_alloc&) {
        fail();
      }
    }
    s.next_out = output.data() + s.total_out;
    s.avail_out = static_cast<uInt>(std::min(output.size() - s.total_out, kMaxChunk));
    const uLong before = s.total_out;
    const uInt availableIn = s.avail_in;
    const int result = inflate(&s, Z_NO_FLUSH);
    if (result == Z_STREAM_END) break;
    if (result == Z_OK) continue;
    // Z_BUF_ERROR without progress: the input ended before the stream did.
    if (result == Z_BUF_ERROR && s.avail_out == 0) continue;
    if (result == Z_BUF_ERROR && (s.total_out != before || s.avail_in != availableIn)) continue;
    fail();
  }
  // Bytes after the end of the stream are not part of a valid buffer.
  if (s.avail_in != 0) fail();
  output.resize(s.total_out);
}

}  // namespace tarn
