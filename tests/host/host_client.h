// Helpers for the dovecrestd tests: the daemon as a child process on a free port
// (its log read through a pipe), and raw HTTP clients over loopback sockets.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace dovecrest::host_test {

struct Answer {
  int status = 0;
  std::string head;
  std::string body;
  bool closed = false;  // the server closed the connection (Exchange: after an answer saying so)
};

// A connected client socket from `source` (any loopback address) with a receive
// timeout of `timeoutSeconds` as the failure bound of every read; -1 on failure.
inline int Connect(int port, const char* source = nullptr, int timeoutSeconds = 10) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (source) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      close(fd);
      return -1;
    }
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  timeval tv{timeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

inline bool SendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads one answer: the header block and Content-Length bytes of body (or up to the
// end of the connection). Bytes beyond it stay in `pending` for the next answer.
inline Answer ReadAnswer(int fd, std::string& pending) {
  Answer answer;
  std::string& data = pending;
  char buf[65536];
  for (;;) {
    auto end = data.find("\r\n\r\n");
    if (end != std::string::npos) {
      auto cl = data.find("Content-Length: ");
      if (cl != std::string::npos && cl < end) {
        std::size_t length = std::stoul(data.substr(cl + 16));
        if (data.size() >= end + 4 + length) {
          answer.head = data.substr(0, end);
          answer.body = data.substr(end + 4, length);
          data.erase(0, end + 4 + length);
          break;
        }
      }
    }
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) {
      answer.closed = true;
      end = data.find("\r\n\r\n");
      answer.head = data.substr(0, end);
      if (end != std::string::npos) answer.body = data.substr(end + 4);
      data.clear();
      break;
    }
    data.append(buf, static_cast<std::size_t>(n));
  }
  if (answer.head.size() > 12 && answer.head.rfind("HTTP/1.", 0) == 0) answer.status = std::stoi(answer.head.substr(9, 3));
  return answer;
}

inline Answer ReadAnswer(int fd) {
  std::string pending;
  return ReadAnswer(fd, pending);
}

// True when the server closed the connection: no more bytes, end of input.
inline bool ReadsEndOfInput(int fd) {
  char c;
  return read(fd, &c, 1) == 0;
}

// Sends raw request bytes on a new connection and reads the answer.
inline Answer Exchange(int port, const std::string& raw, const char* source = nullptr) {
  int fd = Connect(port, source);
  if (fd < 0) return {};
  SendAll(fd, raw);
  Answer answer = ReadAnswer(fd);
  // After an answer that says it closes, the connection must end.
  if (!answer.closed && answer.head.find("\r\nConnection: close") != std::string::npos)
    answer.closed = ReadsEndOfInput(fd);
  close(fd);
  return answer;
}

inline std::string Get(const std::string& path, const char* connection = "close") {
  return "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: " + connection + "\r\n\r\n";
}

inline std::string Post(const std::string& path, const std::string& body) {
  return "POST " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline bool HasHeader(const Answer& answer, const std::string& line) {
  return answer.head.find("\r\n" + line + "\r\n") != std::string::npos ||
         answer.head.ends_with("\r\n" + line);
}

// Threads of a process, from /proc/<pid>/task.
inline int ThreadCount(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(path.c_str());
  if (!dir) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count;
}

struct DaemonSetup {
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> environment;
  std::vector<std::pair<int, int>> descriptors;  // (descriptor here, number in the daemon)
};

class Daemon {
 public:
  explicit Daemon(const std::vector<std::string>& extra) : Daemon(DaemonSetup{extra, {}, {}}) {}
  explicit Daemon(const DaemonSetup& setup) {
    int err[2];
    EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(err[1], 2);
      for (auto [from, to] : setup.descriptors) dup2(from, to);
      for (const auto& [name, value] : setup.environment) setenv(name.c_str(), value.c_str(), 1);
      std::vector<std::string> args = {DOVECRESTD_PATH, "--port", "0", "--extension", DOVECREST_SO_PATH};
      args.insert(args.end(), setup.args.begin(), setup.args.end());
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(err[1]);
    log_ = fdopen(err[0], "r");
    char line[512];
    while (fgets(line, sizeof line, log_)) {
      std::string l(line);
      if (auto at = l.find("listening on "); at != std::string::npos) {
        port_ = std::stoi(l.substr(l.rfind(':') + 1));
        break;
      }
      head_ += l;
    }
  }
  ~Daemon() {
    if (pid_ > 0 && !stopped_) Stop();
    if (log_) fclose(log_);
  }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  // SIGTERM; answers the exit status and collects the rest of the log.
  int Stop() {
    kill(pid_, SIGTERM);
    char line[512];
    while (fgets(line, sizeof line, log_)) rest_ += line;
    int status = 0;
    waitpid(pid_, &status, 0);
    stopped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // What the daemon wrote before it listened, and after.
  const std::string& StartLog() const { return head_; }
  const std::string& Log() const { return rest_; }

 private:
  pid_t pid_ = -1;
  FILE* log_ = nullptr;
  int port_ = 0;
  bool stopped_ = false;
  std::string head_;
  std::string rest_;
};

// Runs dovecrestd with these arguments and its stderr discarded; answers its
// exit status (-1 when it did not exit normally).
inline int ExitStatusOf(std::vector<std::string> args) {
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    std::vector<char*> argv = {const_cast<char*>(DOVECRESTD_PATH)};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace dovecrest::host_test
