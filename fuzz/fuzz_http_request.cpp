// Fuzzes the host's HTTP request reader over arbitrary bytes, fed in pieces
// whose sizes the input chooses, as a slow or hostile client sends them. The
// reader may only ask for more, complete a request or refuse it with a 4xx/5xx
// status; it must never read past its input or accept more than its caps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/http_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte sets the piece size; the rest is what the client sends.
  const std::size_t piece = static_cast<std::size_t>(data[0] % 17) + 1;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  dovecrest::HttpRequestReader reader;
  std::string input;
  std::size_t offset = 0;
  for (std::size_t sent = 0; sent < bytes.size();) {
    const std::size_t n = std::min(piece, bytes.size() - sent);
    input.append(bytes, sent, n);
    sent += n;
    for (;;) {
      const auto progress = reader.Read(input, offset);
      if (offset > input.size()) std::abort();
      if (progress == dovecrest::HttpRequestReader::Progress::kNeedMore) break;
      if (progress == dovecrest::HttpRequestReader::Progress::kRefused) {
        const int status = reader.RefusalStatus();
        if (status < 400 || status > 599) std::abort();
        return 0;
      }
      // A complete request: within the caps, then the next one on the connection.
      if (reader.Request().body.size() > dovecrest::HttpRequestReader::kMaxBody) std::abort();
      reader.Reset();
      if (offset == input.size()) break;
    }
  }
  return 0;
}
