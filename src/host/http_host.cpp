// The event loop of dovecrestd: accepting with the connection limits, reading requests
// with their timeouts, handing complete requests to the worker pool, writing answers,
// closing connections gently (the client reads the last answer before the socket goes).
#include "host/http_host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "host/http_request.h"
#include "host/request_handler.h"

namespace dovecrest {
namespace {

using Clock = std::chrono::steady_clock;

// How long a connection being closed is drained of what the client still sends,
// so that the client reads the last answer instead of a reset.
constexpr auto kLingerTime = std::chrono::seconds(2);
// Connections being closed that are drained at most; beyond them, closed at once.
constexpr std::size_t kMaxLingering = 1024;
// Interval of the timeout sweep.
constexpr auto kSweepInterval = std::chrono::milliseconds(200);
constexpr std::size_t kReadChunk = 64 * 1024;
// Unanswered input kept at most while a request runs; reading pauses beyond it.
constexpr std::size_t kMaxBufferedInput = HttpRequestReader::kMaxHeaderBlock + HttpRequestReader::kMaxBody;

enum class ConnectionState {
  kReading,    // waiting for or receiving a request
  kRunning,    // a worker answers the request; the loop leaves the connection alone
  kWriting,    // the answer is being sent
  kLingering,  // the last answer is sent; draining input until the client closes
};

struct Connection {
  int fd = -1;
  std::string peer;  // the client address bytes, the key of the per-client count
  bool counted = false;  // counted among the open connections
  ConnectionState state = ConnectionState::kReading;
  bool readReady = true;  // input may be waiting (edge-triggered notification)
  bool servedAny = false;  // a request was answered on it (kept alive)
  bool requestBytesSeen = false;
  bool continueSent = false;
  bool peerClosed = false;  // end of input seen
  Clock::time_point deadline;
  Clock::time_point requestStarted;
  std::string input;
  std::size_t inputOffset = 0;
  HttpRequestReader reader;
  std::string output;
  std::size_t outputOffset = 0;
  bool closeAfterWrite = false;
  HttpResponse response;  // written by the worker while kRunning
};

std::string PeerKey(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    return std::string(reinterpret_cast<const char*>(&v4.sin_addr), sizeof v4.sin_addr);
  }
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    return std::string(reinterpret_cast<const char*>(&v6.sin6_addr), sizeof v6.sin6_addr);
  }
  return {};
}

// The answer given at once to a connection beyond a limit.
std::string RefusalText(const char* why) {
  std::string body = std::string("Service Unavailable: ") + why + "\n";
  return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nRetry-After: " +
         std::to_string(HttpHost::kRetryAfterSeconds) + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// The Date header value, formatted once per second.
class DateText {
 public:
  const std::string& Now() {
    std::time_t now = std::time(nullptr);
    if (now != last_) {
      last_ = now;
      std::tm tm{};
      gmtime_r(&now, &tm);
      static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
      static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                    kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
      text_ = buffer;
    }
    return text_;
  }

 private:
  std::time_t last_ = 0;
  std::string text_;
};

}  // namespace

class HttpHost::Loop {
 public:
  Loop(const HostOptions& options, const ExtensionLibrary& extension) : options_(options), extension_(extension) {}
  ~Loop() { Stop(); }

  bool Start(int listenFd, std::string& error);
  void Stop();

 private:
  void Run();
  void WorkerMain();

  void AcceptAll();
  void PauseAccepting();
  void ResumeAccepting();
  void OnEvent(Connection& c, uint32_t events);
  void ReadInput(Connection& c);
  void Advance(Connection& c);
  void Dispatch(Connection& c);
  void TakeFinished();
  void Respond(Connection& c, const HttpResponse& response, bool close);
  void SendRefusal(Connection& c, int status);
  void Write(Connection& c);
  void FinishAnswer(Connection& c);
  void StartLingering(Connection& c);
  void Drain(Connection& c);
  void Close(Connection& c);
  void Sweep();
  void Log(const HttpRequest& request, int status, std::size_t bytes, Clock::time_point started);
  void FlushLog();

  const HostOptions& options_;
  const ExtensionLibrary& extension_;
  int listenFd_ = -1;
  int epollFd_ = -1;
  int wakeFd_ = -1;
  bool accepting_ = true;
  std::vector<std::unique_ptr<Connection>> connections_;  // by descriptor
  std::size_t openCount_ = 0;
  std::size_t lingeringCount_ = 0;
  std::unordered_map<std::string, int> perClient_;
  DateText date_;
  std::string log_;
  std::thread loopThread_;
  std::vector<std::thread> workers_;

  std::mutex stopLock_;
  bool stopping_ = false;  // under stopLock_

  // Requests for the workers and answers back from them.
  std::mutex queueLock_;
  std::condition_variable queueReady_;
  std::deque<Connection*> queue_;
  bool workersStop_ = false;
  std::mutex finishedLock_;
  std::vector<Connection*> finished_;
};

HttpHost::HttpHost(const HostOptions& options, const ExtensionLibrary& extension)
    : options_(options), extension_(extension) {}

HttpHost::~HttpHost() { Stop(); }

bool HttpHost::Start(std::string& error) {
  sockaddr_storage address{};
  socklen_t addressLength = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, options_.bindAddress.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(options_.port));
    addressLength = sizeof *v4;
  } else if (inet_pton(AF_INET6, options_.bindAddress.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(options_.port));
    addressLength = sizeof *v6;
  } else {
    error = "invalid bind address '" + options_.bindAddress + "'";
    return false;
  }
  const std::string where = options_.bindAddress + ":" + std::to_string(options_.port);
  int fd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = "cannot listen on " + where + ": " + std::strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), addressLength) != 0 || listen(fd, 65535) != 0) {
    error = "cannot listen on " + where + ": " + std::strerror(errno);
    close(fd);
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
  loop_ = std::make_unique<Loop>(options_, extension_);
  if (!loop_->Start(fd, error)) {
    loop_.reset();
    return false;
  }
  return true;
}

void HttpHost::Stop() {
  if (loop_) loop_->Stop();
  loop_.reset();
}

bool HttpHost::Loop::Start(int listenFd, std::string& error) {
  listenFd_ = listenFd;
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd_ < 0 || wakeFd_ < 0) {
    error = std::string("cannot create the event loop: ") + std::strerror(errno);
    return false;
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = listenFd_;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &event);
  event.data.fd = wakeFd_;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &event);
  for (int i = 0; i < kWorkers; ++i) workers_.emplace_back([this] { WorkerMain(); });
  loopThread_ = std::thread([this] { Run(); });
  return true;
}

void HttpHost::Loop::Stop() {
  {
    std::lock_guard lock(stopLock_);
    if (stopping_ && !loopThread_.joinable()) return;
    stopping_ = true;
  }
  if (wakeFd_ >= 0) {
    uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
  }
  if (loopThread_.joinable()) loopThread_.join();
  {
    std::lock_guard lock(queueLock_);
    workersStop_ = true;
  }
  queueReady_.notify_all();
  for (auto& worker : workers_) worker.join();
  workers_.clear();
  for (auto& c : connections_)
    if (c) close(c->fd);
  connections_.clear();
  FlushLog();
  if (listenFd_ >= 0) close(listenFd_);
  if (epollFd_ >= 0) close(epollFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
  listenFd_ = epollFd_ = wakeFd_ = -1;
}

void HttpHost::Loop::WorkerMain() {
  for (;;) {
    Connection* c = nullptr;
    {
      std::unique_lock lock(queueLock_);
      queueReady_.wait(lock, [&] { return workersStop_ || !queue_.empty(); });
      if (workersStop_) return;
      c = queue_.front();
      queue_.pop_front();
    }
    try {
      c->response = HandleRequest(options_, extension_, c->reader.Request());
    } catch (...) {
      c->response = TextResponse(500, "Internal Server Error\n");
    }
    bool wake = false;
    {
      std::lock_guard lock(finishedLock_);
      wake = finished_.empty();
      finished_.push_back(c);
    }
    if (wake) {
      uint64_t one = 1;
      (void)!write(wakeFd_, &one, sizeof one);
    }
  }
}

void HttpHost::Loop::Run() {
  std::vector<epoll_event> events(512);
  auto nextSweep = Clock::now() + kSweepInterval;
  for (;;) {
    int timeout = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(nextSweep - Clock::now()).count());
    int n = epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()), timeout < 0 ? 0 : timeout);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == listenFd_) {
        AcceptAll();
      } else if (fd == wakeFd_) {
        uint64_t count;
        (void)!read(wakeFd_, &count, sizeof count);
        std::lock_guard lock(stopLock_);
        if (stopping_) {
          FlushLog();
          return;
        }
      } else if (static_cast<std::size_t>(fd) < connections_.size() && connections_[fd]) {
        OnEvent(*connections_[fd], events[i].events);
      }
    }
    TakeFinished();
    if (Clock::now() >= nextSweep) {
      Sweep();
      nextSweep = Clock::now() + kSweepInterval;
    }
    FlushLog();
  }
}

void HttpHost::Loop::AcceptAll() {
  for (;;) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // Out of descriptors: the waiting connections stay queued in the kernel until
      // one of ours closes.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) PauseAccepting();
      return;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (static_cast<std::size_t>(fd) >= connections_.size()) connections_.resize(static_cast<std::size_t>(fd) + 1024);
    auto owned = std::make_unique<Connection>();
    Connection& c = *owned;
    c.fd = fd;
    c.peer = PeerKey(address);
    connections_[fd] = std::move(owned);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    event.data.fd = fd;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0) {
      close(fd);
      connections_[fd].reset();
      continue;
    }
    const char* refusal = nullptr;
    if (openCount_ >= static_cast<std::size_t>(options_.maxConnections)) {
      refusal = "too many connections";
    } else if (options_.maxPerClient > 0) {
      auto it = perClient_.find(c.peer);
      if (it != perClient_.end() && it->second >= options_.maxPerClient) refusal = "too many connections from your address";
    }
    if (refusal) {
      // Answered at once, before any request: the client reads it as the answer to
      // whatever it sends.
      c.output = RefusalText(refusal);
      c.closeAfterWrite = true;
      c.state = ConnectionState::kWriting;
      c.deadline = Clock::now() + kLingerTime;
      Write(c);
      continue;
    }
    c.counted = true;
    ++openCount_;
    ++perClient_[c.peer];
    c.deadline = Clock::now() + std::chrono::seconds(options_.headerTimeout);
    // Clients usually send their request with the handshake's last packet.
    ReadInput(c);
  }
}

void HttpHost::Loop::PauseAccepting() {
  if (!accepting_) return;
  epoll_ctl(epollFd_, EPOLL_CTL_DEL, listenFd_, nullptr);
  accepting_ = false;
}

void HttpHost::Loop::ResumeAccepting() {
  if (accepting_) return;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = listenFd_;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &event);
  accepting_ = true;
}

void HttpHost::Loop::OnEvent(Connection& c, uint32_t events) {
  if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) c.readReady = true;
  switch (c.state) {
    case ConnectionState::kReading:
      ReadInput(c);
      break;
    case ConnectionState::kWriting:
      if (events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) Write(c);
      break;
    case ConnectionState::kLingering:
      Drain(c);
      break;
    case ConnectionState::kRunning:
      break;  // the worker owns the request; input waits
  }
}

// Reads what is waiting (edge-triggered: until the socket is empty, pausing while a
// request's worth of input is buffered) and advances the request. The connection may
// be closed on return.
void HttpHost::Loop::ReadInput(Connection& c) {
  const int fd = c.fd;
  char buffer[kReadChunk];
  for (;;) {
    while (c.readReady && !c.peerClosed && c.input.size() - c.inputOffset < kMaxBufferedInput) {
      ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        c.input.append(buffer, static_cast<std::size_t>(n));
        // A short read empties the socket; data arriving later is notified again.
        if (static_cast<std::size_t>(n) < sizeof buffer) c.readReady = false;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        c.readReady = false;
        break;
      }
      if (n < 0) {
        Close(c);
        return;
      }
      // The client has finished sending; what it sent before is still answered.
      c.peerClosed = true;
    }
    if (c.input.size() > c.inputOffset) {
      Advance(c);
      if (!connections_[fd] || c.state != ConnectionState::kReading) return;
    }
    if (c.peerClosed) {
      Close(c);
      return;
    }
    if (!c.readReady || c.input.size() - c.inputOffset >= kMaxBufferedInput) return;
  }
}

void HttpHost::Loop::Advance(Connection& c) {
  auto now = Clock::now();
  if (!c.requestBytesSeen && c.input.size() > c.inputOffset) {
    c.requestBytesSeen = true;
    c.requestStarted = now;
    // On a kept-alive connection the header time starts with the request's first byte.
    if (c.servedAny) c.deadline = now + std::chrono::seconds(options_.headerTimeout);
  }
  auto progress = c.reader.Read(c.input, c.inputOffset);
  if (c.inputOffset == c.input.size()) {
    c.input.clear();
    c.inputOffset = 0;
  } else if (c.inputOffset > kReadChunk) {
    c.input.erase(0, c.inputOffset);
    c.inputOffset = 0;
  }
  switch (progress) {
    case HttpRequestReader::Progress::kRefused:
      SendRefusal(c, c.reader.RefusalStatus());
      return;
    case HttpRequestReader::Progress::kComplete:
      Dispatch(c);
      return;
    case HttpRequestReader::Progress::kNeedMore:
      if (c.reader.HeaderComplete()) {
        // Receiving a body: the idle time bounds each pause.
        c.deadline = now + std::chrono::seconds(options_.idleTimeout);
        if (c.reader.Request().expectContinue && !c.continueSent) {
          c.continueSent = true;
          static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
          (void)!send(c.fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL);
        }
      }
      return;
  }
}

void HttpHost::Loop::Dispatch(Connection& c) {
  c.state = ConnectionState::kRunning;
  {
    std::lock_guard lock(queueLock_);
    queue_.push_back(&c);
  }
  queueReady_.notify_one();
}

void HttpHost::Loop::TakeFinished() {
  std::vector<Connection*> done;
  {
    std::lock_guard lock(finishedLock_);
    done.swap(finished_);
  }
  for (Connection* c : done) {
    HttpResponse response = std::move(c->response);
    c->response = HttpResponse{};
    Respond(*c, response, false);
  }
}

void HttpHost::Loop::Respond(Connection& c, const HttpResponse& response, bool close) {
  const HttpRequest& request = c.reader.Request();
  bool keepAlive = request.keepAlive && !close;
  std::string& out = c.output;
  out.clear();
  out.reserve(256 + response.body.size());
  out += "HTTP/1.1 ";
  out += std::to_string(response.status);
  out += ' ';
  out += ReasonPhrase(response.status);
  out += "\r\nDate: ";
  out += date_.Now();
  out += "\r\n";
  for (const auto& [name, value] : response.headers) {
    out += name;
    out += ": ";
    out += value;
    out += "\r\n";
  }
  out += "Content-Length: ";
  out += std::to_string(response.body.size());
  out += "\r\n";
  if (!keepAlive) out += "Connection: close\r\n";
  else if (request.minorVersion == 0) out += "Connection: keep-alive\r\n";
  out += "\r\n";
  if (request.method != "HEAD") out += response.body;
  Log(request, response.status, response.body.size(), c.requestBytesSeen ? c.requestStarted : Clock::now());
  c.outputOffset = 0;
  c.closeAfterWrite = !keepAlive;
  c.state = ConnectionState::kWriting;
  c.deadline = Clock::now() + std::chrono::seconds(options_.idleTimeout);
  Write(c);
}

void HttpHost::Loop::SendRefusal(Connection& c, int status) {
  const char* text = status == 408 ? "Request Timeout\n" : status == 413 ? "Request Entity Too Large\n"
                   : status == 431 ? "Request Header Fields Too Large\n" : status == 501 ? "Not Implemented\n"
                   : status == 505 ? "HTTP Version Not Supported\n" : "Bad Request\n";
  Respond(c, TextResponse(status, text), true);
}

void HttpHost::Loop::Write(Connection& c) {
  while (c.outputOffset < c.output.size()) {
    ssize_t n = send(c.fd, c.output.data() + c.outputOffset, c.output.size() - c.outputOffset, MSG_NOSIGNAL);
    if (n > 0) {
      c.outputOffset += static_cast<std::size_t>(n);
      if (!c.closeAfterWrite || c.counted)
        c.deadline = Clock::now() + std::chrono::seconds(options_.idleTimeout);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // EPOLLOUT follows
    Close(c);
    return;
  }
  FinishAnswer(c);
}

void HttpHost::Loop::FinishAnswer(Connection& c) {
  c.output.clear();
  c.output.shrink_to_fit();
  c.outputOffset = 0;
  if (c.closeAfterWrite) {
    StartLingering(c);
    return;
  }
  c.reader.Reset();
  c.servedAny = true;
  c.continueSent = false;
  c.requestBytesSeen = false;
  c.state = ConnectionState::kReading;
  c.deadline = Clock::now() + std::chrono::seconds(options_.idleTimeout);
  ReadInput(c);  // a pipelined request may be waiting
}

void HttpHost::Loop::StartLingering(Connection& c) {
  if (c.counted) {
    c.counted = false;
    --openCount_;
    if (auto it = perClient_.find(c.peer); it != perClient_.end() && --it->second <= 0) perClient_.erase(it);
  }
  if (lingeringCount_ >= kMaxLingering) {
    Close(c);
    return;
  }
  shutdown(c.fd, SHUT_WR);
  ++lingeringCount_;
  c.state = ConnectionState::kLingering;
  c.input.clear();
  c.inputOffset = 0;
  c.deadline = Clock::now() + kLingerTime;
  c.readReady = true;
  Drain(c);
}

void HttpHost::Loop::Drain(Connection& c) {
  char buffer[4096];
  for (;;) {
    ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    Close(c);  // the client has closed too
    return;
  }
}

void HttpHost::Loop::Close(Connection& c) {
  if (c.counted) {
    --openCount_;
    if (auto it = perClient_.find(c.peer); it != perClient_.end() && --it->second <= 0) perClient_.erase(it);
  }
  if (c.state == ConnectionState::kLingering) --lingeringCount_;
  int fd = c.fd;
  close(fd);  // also leaves the epoll set
  connections_[fd].reset();
  ResumeAccepting();
}

void HttpHost::Loop::Sweep() {
  auto now = Clock::now();
  for (auto& slot : connections_) {
    if (!slot || slot->state == ConnectionState::kRunning || now < slot->deadline) continue;
    Connection& c = *slot;
    if (c.state == ConnectionState::kReading && c.requestBytesSeen) {
      // A request begun and not completed in time: say so, then close.
      SendRefusal(c, 408);
    } else {
      Close(c);
    }
  }
}

void HttpHost::Loop::Log(const HttpRequest& request, int status, std::size_t bytes, Clock::time_point started) {
  auto ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
  auto printable = [](const std::string& text) {
    std::string out;
    for (char c : text) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    return out;
  };
  char timing[64];
  std::snprintf(timing, sizeof timing, " %d %zu %.1fms\n", status, bytes, ms);
  log_ += request.method.empty() ? "-" : printable(request.method);
  log_ += ' ';
  log_ += request.path.empty() ? "-" : printable(request.path);
  log_ += timing;
}

void HttpHost::Loop::FlushLog() {
  std::size_t done = 0;
  while (done < log_.size()) {
    ssize_t n = write(2, log_.data() + done, log_.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  log_.clear();
}

}  // namespace dovecrest
