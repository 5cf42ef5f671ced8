// HttpRequestReader: reads one HTTP/1.x request from a connection's input bytes,
// incrementally: the request line and header block (size-capped), then a body given by
// Content-Length or chunked transfer coding (capped too). Answers the status to send
// when the request is refused.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dovecrest {

struct HttpRequest {
  std::string method;
  std::string path;   // percent-decoded, without the query
  std::string query;  // as sent, without the '?'
  int minorVersion = 1;  // HTTP/1.<minor>
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool keepAlive = true;
  bool expectContinue = false;

  // The first header of that name (compared without regard to ASCII case), or null.
  const std::string* Header(std::string_view name) const;
};

class HttpRequestReader {
 public:
  // Largest header block (request line and header lines); larger ones get 431.
  static constexpr std::size_t kMaxHeaderBlock = 32 * 1024;
  // Largest request body; larger ones get 413.
  static constexpr std::size_t kMaxBody = 1u << 20;

  enum class Progress { kNeedMore, kComplete, kRefused };

  // Consumes bytes of `input` from `offset` on (advancing it) and says how far the
  // request is. After kRefused, RefusalStatus() is the status to answer with.
  Progress Read(const std::string& input, std::size_t& offset);

  bool HeaderComplete() const { return phase_ != Phase::kHeader; }
  int RefusalStatus() const { return refusal_; }
  HttpRequest& Request() { return request_; }
  // Starts over for the next request on the connection.
  void Reset();

 private:
  enum class Phase { kHeader, kLengthBody, kChunkSize, kChunkData, kChunkDataEnd, kTrailer, kDone };

  Progress Refuse(int status);
  Progress ParseHeaderBlock(std::string_view block);

  Phase phase_ = Phase::kHeader;
  HttpRequest request_;
  std::size_t remaining_ = 0;  // body or chunk bytes still to come
  std::size_t trailerBytes_ = 0;
  int refusal_ = 0;
};

}  // namespace dovecrest
