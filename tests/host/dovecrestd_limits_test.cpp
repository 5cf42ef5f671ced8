// dovecrestd under heavy and hostile clients: ten thousand idle connections, the
// connection limits answered 503, slow headers dropped, the extension's pool limit
// reached through the host, keep-alive and pipelining, malformed requests refused.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/host_client.h"

namespace {

using namespace dovecrest::host_test;

constexpr const char* kPoolMessage = "Maximum number of concurrent connections exceeded.  Please try again later";

// A configuration directory with a Vantrel.ini, removed at the end.
class ConfigDir {
 public:
  ConfigDir() {
    char tmpl[] = "/tmp/dovecrestd-limits-XXXXXX";
    dir_ = mkdtemp(tmpl);
    std::ofstream(dir_ + "/Vantrel.ini") << "[Setting]\nDBPath=" << dir_ << "/db/\n";
  }
  ~ConfigDir() { std::filesystem::remove_all(dir_); }
  const std::string& Path() const { return dir_; }

 private:
  std::string dir_;
};

bool IsFormPage(const Answer& answer) {
  return answer.status == 200 && answer.body.size() == 807 && answer.body.rfind("<HTML><HEAD><TITLE>", 0) == 0;
}

TEST(DovecrestdLimits, KeepsServingWithTenThousandIdleConnectionsOpen) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < 10'500)
    GTEST_SKIP() << "the hard open-descriptor limit is " << limit.rlim_max
                 << "; holding 10,000 connections needs about 10,500 (raise it with ulimit -Hn)";
  if (limit.rlim_cur < 10'500) {
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? 20'000 : limit.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  }

  ConfigDir config;
  // Default limits; long timeouts so that no idle connection is dropped while the test runs.
  Daemon daemon({"--config-dir", config.Path(), "--header-timeout", "600", "--idle-timeout", "600"});
  ASSERT_GT(daemon.Port(), 0);
  ASSERT_EQ(daemon.StartLog().find("warning"), std::string::npos) << daemon.StartLog();
  const int resting = ThreadCount(daemon.Pid());
  ASSERT_GT(resting, 0);

  // 10,000 idle connections from 50 loopback addresses, 200 each (below the default
  // per-client limit of 256).
  std::vector<int> idle;
  idle.reserve(10'000);
  for (int i = 0; i < 10'000; ++i) {
    std::string source = "127.0.0." + std::to_string(10 + i / 200);
    int fd = Connect(daemon.Port(), source.c_str(), 5);
    ASSERT_GE(fd, 0) << "connection " << i << " from " << source;
    idle.push_back(fd);
  }

  // New connections get the form page while they are open; the receive timeout (5 s)
  // is the failure bound.
  for (int i = 0; i < 20; ++i) {
    int fd = Connect(daemon.Port(), nullptr, 5);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, Get("/Dovecrest.dll")));
    Answer answer = ReadAnswer(fd);
    close(fd);
    EXPECT_TRUE(IsFormPage(answer)) << "request " << i << ": " << answer.head;
  }
  // No thread per connection.
  EXPECT_EQ(ThreadCount(daemon.Pid()), resting);
  // Every idle connection was taken in, not refused: none has an answer or an end
  // waiting, and the first and last can still be used.
  int answered = 0;
  for (int fd : idle) {
    char c;
    if (recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) >= 0) ++answered;
  }
  EXPECT_EQ(answered, 0);
  for (int fd : {idle.front(), idle.back()}) {
    ASSERT_TRUE(SendAll(fd, Get("/Dovecrest.dll")));
    EXPECT_TRUE(IsFormPage(ReadAnswer(fd)));
  }

  for (int fd : idle) close(fd);
  // Once the host has seen them all close it serves on, at its resting thread count.
  Answer after = Exchange(daemon.Port(), Get("/Dovecrest.dll"));
  EXPECT_TRUE(IsFormPage(after));
  EXPECT_EQ(ThreadCount(daemon.Pid()), resting);

  // SIGTERM with connections open: a clean stop.
  std::vector<int> open;
  for (int i = 0; i < 100; ++i) open.push_back(Connect(daemon.Port()));
  EXPECT_EQ(daemon.Stop(), 0);
  for (int fd : open) {
    EXPECT_TRUE(ReadsEndOfInput(fd));
    close(fd);
  }
}

struct LimitCase {
  const char* name;
  std::vector<std::string> options;
  int held;             // connections kept open first from 127.0.0.1
  const char* source;   // address of the connection that follows
  int expectedStatus;
};

TEST(DovecrestdLimits, ConnectionsBeyondALimitGet503WithRetryAfterWhileOthersAreServed) {
  const LimitCase cases[] = {
      {"over --max-connections", {"--max-connections", "4"}, 4, "127.0.0.2", 503},
      {"over --max-per-client", {"--max-per-client", "3"}, 3, "127.0.0.1", 503},
      {"another client under --max-per-client", {"--max-per-client", "3"}, 3, "127.0.0.2", 200},
      {"within both limits", {"--max-connections", "4", "--max-per-client", "3"}, 3, "127.0.0.2", 200},
  };
  ConfigDir config;
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--config-dir", config.Path()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Daemon daemon(args);
    ASSERT_GT(daemon.Port(), 0);
    // Held connections, each kept alive after an answer (so each is surely counted).
    std::vector<int> held;
    for (int i = 0; i < c.held; ++i) {
      held.push_back(Connect(daemon.Port(), "127.0.0.1"));
      ASSERT_TRUE(SendAll(held.back(), Get("/Dovecrest.dll", "keep-alive")));
      ASSERT_TRUE(IsFormPage(ReadAnswer(held.back())));
    }

    Answer answer = Exchange(daemon.Port(), Get("/Dovecrest.dll"), c.source);
    EXPECT_EQ(answer.status, c.expectedStatus) << answer.head;
    if (c.expectedStatus == 503) {
      EXPECT_TRUE(HasHeader(answer, "Retry-After: 5")) << answer.head;
      EXPECT_TRUE(HasHeader(answer, "Connection: close")) << answer.head;
      EXPECT_TRUE(answer.closed);
    } else {
      EXPECT_TRUE(IsFormPage(answer));
    }
    // The connections within the limits are served.
    ASSERT_TRUE(SendAll(held.front(), Get("/Dovecrest.dll")));
    EXPECT_TRUE(IsFormPage(ReadAnswer(held.front())));
    for (int fd : held) close(fd);
    EXPECT_EQ(daemon.Stop(), 0);
  }
}

TEST(DovecrestdLimits, ASlowHeaderClientIsDroppedAfterTheHeaderTimeout) {
  ConfigDir config;
  Daemon daemon({"--config-dir", config.Path(), "--header-timeout", "2", "--idle-timeout", "600"});
  ASSERT_GT(daemon.Port(), 0);
  const std::string request = "GET /Dovecrest.dll HTTP/1.1\r\nHost: slow.example\r\nUser-Agent: one-byte-a-second\r\n\r\n";
  int fd = Connect(daemon.Port(), nullptr, 30);
  ASSERT_GE(fd, 0);
  // One byte a second: the poll that paces the bytes also watches for the answer.
  std::size_t sent = 0;
  bool answered = false;
  while (sent < request.size()) {
    if (!SendAll(fd, request.substr(sent, 1))) break;
    ++sent;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) > 0) {
      answered = true;
      break;
    }
  }
  ASSERT_TRUE(answered) << "the whole header was sent, one byte a second, without being dropped";
  EXPECT_LT(sent, request.size());
  Answer answer = ReadAnswer(fd);
  EXPECT_EQ(answer.status, 408) << answer.head;
  EXPECT_TRUE(ReadsEndOfInput(fd));
  close(fd);

  // A client that keeps its connection idle between requests is not held to the
  // header timeout: the idle timeout applies there (here 600 s), and its next
  // request's header counts from its first byte.
  int kept = Connect(daemon.Port());
  ASSERT_TRUE(SendAll(kept, Get("/Dovecrest.dll", "keep-alive")));
  EXPECT_TRUE(IsFormPage(ReadAnswer(kept)));
  // The request sent at once on a fresh connection is served too.
  EXPECT_TRUE(IsFormPage(Exchange(daemon.Port(), Get("/Dovecrest.dll"))));
  close(kept);
  EXPECT_EQ(daemon.Stop(), 0);
}

TEST(DovecrestdLimits, TheCallBeyondTheExtensionsModulesGetsItsPoolMessage) {
  ConfigDir config;
  int ready[2], release[2];
  ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
  constexpr int kReadyInDaemon = 100, kReleaseInDaemon = 101;
  DaemonSetup setup;
  setup.args = {"--config-dir", config.Path(), "--extension", GATED_EXTENSION_PATH};
  setup.environment = {{"DOVECREST_GATE_TARGET", DOVECREST_SO_PATH},
                       {"DOVECREST_GATE_READY_FD", std::to_string(kReadyInDaemon)},
                       {"DOVECREST_GATE_RELEASE_FD", std::to_string(kReleaseInDaemon)}};
  setup.descriptors = {{ready[1], kReadyInDaemon}, {release[0], kReleaseInDaemon}};
  Daemon daemon(setup);
  close(ready[1]);
  close(release[0]);
  ASSERT_GT(daemon.Port(), 0) << daemon.StartLog();

  // 32 status requests held inside the extension, each on a module of its own.
  std::vector<int> held;
  for (int i = 0; i < 32; ++i) {
    int fd = Connect(daemon.Port(), nullptr, 30);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, Post("/Dovecrest.dll/Query?hold", "UNAME=x")));
    held.push_back(fd);
  }
  for (int i = 0; i < 32; ++i) {
    pollfd p{ready[0], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 30'000), 1) << "only " << i << " calls reached the extension";
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
  }

  // The 33rd call reaches the extension and gets its pool message; the host itself
  // still answers.
  Answer refused = Exchange(daemon.Port(), Get("/Dovecrest.dll"));
  EXPECT_EQ(refused.status, 500);
  EXPECT_NE(refused.body.find(std::string("Message: ") + kPoolMessage), std::string::npos) << refused.body;
  EXPECT_EQ(Exchange(daemon.Port(), Get("/")).status, 302);

  close(release[1]);
  for (int fd : held) {
    Answer answer = ReadAnswer(fd);
    EXPECT_EQ(answer.status, 200) << answer.head;
    close(fd);
  }
  EXPECT_TRUE(IsFormPage(Exchange(daemon.Port(), Get("/Dovecrest.dll"))));
  close(ready[0]);
  EXPECT_EQ(daemon.Stop(), 0);
}

TEST(DovecrestdLimits, KeepAliveAndPipelinedRequestsAreServedOnOneConnection) {
  ConfigDir config;
  Daemon daemon({"--config-dir", config.Path()});
  ASSERT_GT(daemon.Port(), 0);

  int fd = Connect(daemon.Port());
  std::string pending;
  // HTTP/1.1 keeps the connection by default; HTTP/1.0 when asked.
  ASSERT_TRUE(SendAll(fd, Get("/Dovecrest.dll", "keep-alive")));
  Answer first = ReadAnswer(fd, pending);
  EXPECT_TRUE(IsFormPage(first));
  EXPECT_FALSE(HasHeader(first, "Connection: close"));
  ASSERT_TRUE(SendAll(fd, "GET /Dovecrest.dll HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
  Answer second = ReadAnswer(fd, pending);
  EXPECT_TRUE(IsFormPage(second));
  EXPECT_TRUE(HasHeader(second, "Connection: keep-alive")) << second.head;
  // Three requests in one write, the last closing: three answers in order, then the end.
  ASSERT_TRUE(SendAll(fd, Get("/Dovecrest.dll", "keep-alive") + Get("/Dovecrest.dll/none", "keep-alive") +
                              Get("/Dovecrest.dll")));
  EXPECT_TRUE(IsFormPage(ReadAnswer(fd, pending)));
  EXPECT_EQ(ReadAnswer(fd, pending).status, 404);
  Answer last = ReadAnswer(fd, pending);
  EXPECT_TRUE(IsFormPage(last));
  EXPECT_TRUE(HasHeader(last, "Connection: close"));
  EXPECT_TRUE(ReadsEndOfInput(fd));
  close(fd);

  // HTTP/1.0 without keep-alive: one answer, then the end.
  fd = Connect(daemon.Port());
  ASSERT_TRUE(SendAll(fd, "GET /Dovecrest.dll HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(IsFormPage(ReadAnswer(fd)));
  EXPECT_TRUE(ReadsEndOfInput(fd));
  close(fd);
  EXPECT_EQ(daemon.Stop(), 0);
}

TEST(DovecrestdLimits, MalformedOversizedAndChunkedRequests) {
  struct Case {
    const char* name;
    std::string raw;
    int expectedStatus;
    const char* bodyHas;
  };
  const Case cases[] = {
      {"header block over 32 KiB", "GET /Dovecrest.dll HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(40'000, 'a') + "\r\n\r\n",
       431, nullptr},
      {"declared body over 1 MiB", "POST /Dovecrest.dll/Query HTTP/1.1\r\nHost: x\r\nContent-Length: 1048577\r\n\r\nUNAME=x",
       413, nullptr},
      {"chunked body over 1 MiB", "POST /Dovecrest.dll/Query HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                                  "100001\r\n", 413, nullptr},
      {"no request line", "\x01\x02garbage\r\n\r\n", 400, nullptr},
      {"HTTP/1.1 without Host", "GET /Dovecrest.dll HTTP/1.1\r\n\r\n", 400, nullptr},
      {"unknown HTTP version", "GET /Dovecrest.dll HTTP/2.0\r\nHost: x\r\n\r\n", 505, nullptr},
      {"unknown transfer coding", "POST /Dovecrest.dll/Query HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip\r\n\r\n", 501,
       nullptr},
      {"both framings", "POST /Dovecrest.dll/Query HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n"
                        "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400, nullptr},
      {"bad percent escape in the path", "GET /Dovecrest%zz HTTP/1.1\r\nHost: x\r\n\r\n", 400, nullptr},
      // Chunks are joined before the extension sees the body: its form parsing fails
      // on the escape split across the two chunks.
      {"chunked body", "POST /Dovecrest.dll/Query HTTP/1.1\r\nHost: x\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n"
                       "7\r\nUNAME=%\r\n2;ext=1\r\nzz\r\n0\r\nTrailer: x\r\n\r\n", 500, "EConvertError"},
      {"percent-escaped extension name", "GET /Dovecrest%2Edll HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200,
       "<HTML>"},
      {"absolute request target", "GET http://x/Dovecrest.dll HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200,
       "<HTML>"},
  };
  ConfigDir config;
  Daemon daemon({"--config-dir", config.Path()});
  ASSERT_GT(daemon.Port(), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Answer answer = Exchange(daemon.Port(), c.raw);
    EXPECT_EQ(answer.status, c.expectedStatus) << answer.head;
    if (c.bodyHas) {
      EXPECT_NE(answer.body.find(c.bodyHas), std::string::npos) << answer.body;
    }
    if (c.expectedStatus >= 400 && c.expectedStatus != 500) {
      EXPECT_TRUE(HasHeader(answer, "Connection: close"));
      EXPECT_TRUE(answer.closed);
    }
  }
  // A client that expects 100 Continue gets it before it sends its body.
  int fd = Connect(daemon.Port());
  ASSERT_TRUE(SendAll(fd, "POST /Dovecrest.dll/Query HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                          "Content-Length: 9\r\nExpect: 100-continue\r\n\r\n"));
  char buffer[64];
  ssize_t n = read(fd, buffer, sizeof buffer);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "HTTP/1.1 100 Continue\r\n\r\n");
  ASSERT_TRUE(SendAll(fd, "UNAME=%zz"));
  EXPECT_EQ(ReadAnswer(fd).status, 500);
  close(fd);
  EXPECT_EQ(daemon.Stop(), 0);
}

TEST(DovecrestdLimits, OptionsAreParsedAndLimitsTheDescriptorsCannotMeetAreReported) {
  ConfigDir config;
  // A soft and hard limit of 2,000 descriptors, set in the child before it starts the daemon.
  pid_t pid = fork();
  if (pid == 0) {
    rlimit limit{2000, 2000};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(3);
    Daemon daemon({"--config-dir", config.Path(), "--max-connections", "5000"});
    bool warned = daemon.StartLog().find("serving at most 720 connections") != std::string::npos &&
                  daemon.StartLog().find("hard limit 2000") != std::string::npos;
    bool serves = IsFormPage(Exchange(daemon.Port(), Get("/Dovecrest.dll")));
    int stopped = daemon.Stop();
    _exit(warned && serves && stopped == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the daemon did not report the descriptor limit it could not reach";

  // --help names every limit with its default.
  FILE* help = popen((std::string(DOVECRESTD_PATH) + " --help").c_str(), "r");
  ASSERT_NE(help, nullptr);
  std::string usage;
  char line[512];
  while (fgets(line, sizeof line, help)) usage += line;
  EXPECT_EQ(pclose(help), 0);
  for (const char* text : {"--max-connections N", "(default 16384)", "--max-per-client N", "(default 256)",
                           "--header-timeout S", "(default 10)", "--idle-timeout S", "(default 30)"})
    EXPECT_NE(usage.find(text), std::string::npos) << text;

  for (std::vector<std::string> args : {std::vector<std::string>{"--max-connections", "0"},
                                        {"--max-per-client", "-1"},
                                        {"--header-timeout", "0"},
                                        {"--idle-timeout", "x"}}) {
    EXPECT_EQ(ExitStatusOf(args), 2) << args[0];
  }
}

}  // namespace
