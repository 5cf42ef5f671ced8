// Incremental HTTP/1.x request reading for dovecrestd.
#include "host/http_request.h"

#include <charconv>

namespace dovecrest {
namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

bool IsTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!IsTokenChar(c)) return false;
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decodes a path; false for a malformed escape or a decoded NUL.
bool DecodePath(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (c == '\0') return false;
    out += c;
  }
  return true;
}

// Calls `each` with every comma-separated element of a header value, trimmed.
template <typename F>
void ForEachListElement(std::string_view value, F each) {
  while (!value.empty()) {
    auto comma = value.find(',');
    each(Trim(value.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
}

// Finds the end of the header block from `from`: the index just past the empty line,
// with `blockEnd` the index where the empty line starts; npos when not yet there.
std::size_t FindHeaderEnd(const std::string& input, std::size_t from, std::size_t& blockEnd) {
  for (std::size_t i = input.find('\n', from); i != std::string::npos; i = input.find('\n', i + 1)) {
    std::size_t next = i + 1;
    if (next < input.size() && input[next] == '\n') {
      blockEnd = i + 1;
      return next + 1;
    }
    if (next + 1 < input.size() && input[next] == '\r' && input[next + 1] == '\n') {
      blockEnd = i + 1;
      return next + 2;
    }
  }
  return std::string::npos;
}

}  // namespace

const std::string* HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (EqualsIgnoringCase(key, name)) return &value;
  return nullptr;
}

void HttpRequestReader::Reset() {
  phase_ = Phase::kHeader;
  request_ = HttpRequest{};
  remaining_ = 0;
  trailerBytes_ = 0;
  refusal_ = 0;
}

HttpRequestReader::Progress HttpRequestReader::Refuse(int status) {
  refusal_ = status;
  request_.keepAlive = false;
  return Progress::kRefused;
}

HttpRequestReader::Progress HttpRequestReader::Read(const std::string& input, std::size_t& offset) {
  if (refusal_) return Progress::kRefused;
  for (;;) {
    switch (phase_) {
      case Phase::kHeader: {
        // Empty lines before a request line are allowed and skipped.
        while (offset < input.size() && (input[offset] == '\r' || input[offset] == '\n')) ++offset;
        std::size_t blockEnd = 0;
        std::size_t end = FindHeaderEnd(input, offset, blockEnd);
        if (end == std::string::npos) {
          if (input.size() - offset > kMaxHeaderBlock) return Refuse(431);
          return Progress::kNeedMore;
        }
        if (blockEnd - offset > kMaxHeaderBlock) return Refuse(431);
        std::string_view block(input.data() + offset, blockEnd - offset);
        offset = end;
        if (Progress p = ParseHeaderBlock(block); p == Progress::kRefused) return p;
        break;
      }
      case Phase::kLengthBody:
      case Phase::kChunkData: {
        std::size_t take = std::min(remaining_, input.size() - offset);
        request_.body.append(input, offset, take);
        offset += take;
        remaining_ -= take;
        if (remaining_ > 0) return Progress::kNeedMore;
        phase_ = phase_ == Phase::kLengthBody ? Phase::kDone : Phase::kChunkDataEnd;
        break;
      }
      case Phase::kChunkSize: {
        std::size_t newline = input.find('\n', offset);
        if (newline == std::string::npos) {
          if (input.size() - offset > 1024) return Refuse(400);
          return Progress::kNeedMore;
        }
        std::string_view line(input.data() + offset, newline - offset);
        offset = newline + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = line.substr(0, line.find(';'));
        line = Trim(line);
        std::size_t size = 0;
        auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), size, 16);
        if (line.empty() || ec != std::errc() || end != line.data() + line.size()) return Refuse(400);
        if (size == 0) {
          phase_ = Phase::kTrailer;
        } else {
          if (size > kMaxBody - request_.body.size()) return Refuse(413);
          remaining_ = size;
          phase_ = Phase::kChunkData;
        }
        break;
      }
      case Phase::kChunkDataEnd: {
        if (offset >= input.size()) return Progress::kNeedMore;
        if (input[offset] == '\r') {
          if (offset + 1 >= input.size()) return Progress::kNeedMore;
          if (input[offset + 1] != '\n') return Refuse(400);
          offset += 2;
        } else if (input[offset] == '\n') {
          offset += 1;
        } else {
          return Refuse(400);
        }
        phase_ = Phase::kChunkSize;
        break;
      }
      case Phase::kTrailer: {
        std::size_t newline = input.find('\n', offset);
        if (newline == std::string::npos) {
          if (trailerBytes_ + (input.size() - offset) > kMaxHeaderBlock) return Refuse(431);
          return Progress::kNeedMore;
        }
        std::size_t length = newline - offset;
        trailerBytes_ += length + 1;
        if (trailerBytes_ > kMaxHeaderBlock) return Refuse(431);
        bool empty = length == 0 || (length == 1 && input[offset] == '\r');
        offset = newline + 1;
        if (empty) phase_ = Phase::kDone;
        break;
      }
      case Phase::kDone:
        return Progress::kComplete;
    }
  }
}

HttpRequestReader::Progress HttpRequestReader::ParseHeaderBlock(std::string_view block) {
  std::vector<std::string_view> lines;
  while (!block.empty()) {
    auto newline = block.find('\n');
    std::string_view line = block.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (newline == std::string_view::npos) break;
    block.remove_prefix(newline + 1);
  }
  if (lines.empty()) return Refuse(400);

  // Request line: METHOD SP target SP HTTP/1.x
  std::string_view requestLine = lines.front();
  auto firstSpace = requestLine.find(' ');
  auto lastSpace = requestLine.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) return Refuse(400);
  std::string_view method = requestLine.substr(0, firstSpace);
  std::string_view target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  std::string_view version = requestLine.substr(lastSpace + 1);
  if (!IsToken(method) || target.empty() || target.find(' ') != std::string_view::npos) return Refuse(400);
  if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.' || version[5] < '0' ||
      version[5] > '9' || version[7] < '0' || version[7] > '9')
    return Refuse(400);
  if (version[5] != '1') return Refuse(505);
  request_.method = method;
  request_.minorVersion = version[7] - '0';

  // Absolute form: drop the scheme and authority.
  if (target.front() != '/' && target != "*") {
    auto scheme = target.find("://");
    if (scheme == std::string_view::npos) return Refuse(400);
    auto pathStart = target.find('/', scheme + 3);
    target = pathStart == std::string_view::npos ? std::string_view("/") : target.substr(pathStart);
  }
  auto question = target.find('?');
  if (question != std::string_view::npos) request_.query = target.substr(question + 1);
  if (!DecodePath(target.substr(0, question), request_.path)) return Refuse(400);

  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.empty()) continue;
    if (line.front() == ' ' || line.front() == '\t') return Refuse(400);  // folded lines are refused
    auto colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return Refuse(400);
    std::string_view value = Trim(line.substr(colon + 1));
    for (char c : value)
      if (c == '\0' || c == '\r' || c == '\n') return Refuse(400);
    request_.headers.emplace_back(line.substr(0, colon), value);
  }

  request_.keepAlive = request_.minorVersion >= 1;
  bool hasHost = false;
  bool chunked = false;
  bool hasTransferEncoding = false;
  const std::string* contentLength = nullptr;
  for (const auto& [name, value] : request_.headers) {
    if (EqualsIgnoringCase(name, "Connection")) {
      ForEachListElement(value, [&](std::string_view token) {
        if (EqualsIgnoringCase(token, "close")) request_.keepAlive = false;
        else if (EqualsIgnoringCase(token, "keep-alive") && request_.minorVersion == 0) request_.keepAlive = true;
      });
    } else if (EqualsIgnoringCase(name, "Host")) {
      hasHost = true;
    } else if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
      if (hasTransferEncoding) return Refuse(501);
      hasTransferEncoding = true;
      if (!EqualsIgnoringCase(value, "chunked")) return Refuse(501);
      chunked = true;
    } else if (EqualsIgnoringCase(name, "Content-Length")) {
      if (contentLength && *contentLength != value) return Refuse(400);
      contentLength = &value;
    } else if (EqualsIgnoringCase(name, "Expect")) {
      request_.expectContinue = EqualsIgnoringCase(value, "100-continue") && request_.minorVersion >= 1;
    }
  }
  if (request_.minorVersion >= 1 && !hasHost) return Refuse(400);
  // Both framings at once is how requests are smuggled past proxies: refused.
  if (chunked && contentLength) return Refuse(400);
  if (chunked) {
    phase_ = Phase::kChunkSize;
    return Progress::kNeedMore;
  }
  std::size_t length = 0;
  if (contentLength) {
    const std::string& text = *contentLength;
    if (text.empty() || text.size() > 18) {
      if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) return Refuse(413);
      return Refuse(400);
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (ec != std::errc() || end != text.data() + text.size()) return Refuse(400);
    if (length > kMaxBody) return Refuse(413);
  }
  remaining_ = length;
  phase_ = length > 0 ? Phase::kLengthBody : Phase::kDone;
  if (phase_ == Phase::kDone) request_.expectContinue = false;
  return Progress::kNeedMore;
}

}  // namespace dovecrest
