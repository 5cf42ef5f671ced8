// dovecrestd end to end: a real process on a free port, spoken to over a socket.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "host/host_client.h"
#include "web/extension_abi.h"

namespace {

using namespace dovecrest::host_test;

TEST(Dovecrestd, ServesTheExtensionOverHttpAndStopsCleanly) {
  char tmpl[] = "/tmp/dovecrestd-test-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  std::ofstream(dir + "/Vantrel.ini") << "[Setting]\nDBPath=" << dir << "/db/\n";
  std::filesystem::create_directory(dir + "/img");
  std::ofstream(dir + "/img/Dovecrest-1.jpg") << "JPEGDATA";

  Daemon daemon({"--config-dir", dir, "--images", dir + "/img"});
  ASSERT_GT(daemon.Port(), 0);

  Answer form = Exchange(daemon.Port(), "GET /Dovecrest.dll HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(form.status, 200);
  EXPECT_NE(form.head.find("Content-Type: text/html"), std::string::npos);
  EXPECT_EQ(form.body.rfind("<HTML><HEAD><TITLE>Vantrel&nbsp; ", 0), 0u);
  EXPECT_TRUE(form.body.ends_with("</HTML>\r\n \r\n"));

  Answer bad = Exchange(daemon.Port(), Post("/Dovecrest.dll/Query", "UNAME=%zz"));
  EXPECT_EQ(bad.status, 500);
  EXPECT_NE(bad.body.find("Exception: EConvertError<br>"), std::string::npos);

  Answer none = Exchange(daemon.Port(), "GET /Dovecrest.dll/other HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(none.status, 404);

  Answer image = Exchange(daemon.Port(), "GET /images/Dovecrest-1.jpg HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(image.status, 200);
  EXPECT_EQ(image.body, "JPEGDATA");
  EXPECT_EQ(Exchange(daemon.Port(), "GET /images/../Vantrel.ini HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").status, 404);

  // A declared body above 1 MiB is refused before it reaches the extension.
  Answer large = Exchange(daemon.Port(), "POST /Dovecrest.dll/Query HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                                         "Content-Length: 2000000\r\n\r\nUNAME=x");
  EXPECT_EQ(large.status, 413);
  // A 1 MiB field within the cap is served.
  Answer big = Exchange(daemon.Port(), Post("/Dovecrest.dll/Query", "UNAME=" + std::string(1000000, 'a')));
  EXPECT_EQ(big.status, 200);

  EXPECT_EQ(daemon.Stop(), 0);
  EXPECT_NE(daemon.Log().find("GET /Dovecrest.dll 200 "), std::string::npos);
  EXPECT_NE(daemon.Log().find("POST /Dovecrest.dll/Query 500 "), std::string::npos);
  std::filesystem::remove_all(dir);
}

TEST(Dovecrestd, OptionErrorsExitWithCodeTwo) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--port", "x"}, {"--bogus"}, {"--port"}}) {
    EXPECT_EQ(ExitStatusOf(args), 2) << args[0];
  }
}

TEST(Extension, EntryPointsReportVersionAndConsentToUnload) {
  void* lib = dlopen(DOVECREST_SO_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto version = reinterpret_cast<PFN_GETEXTENSIONVERSION>(dlsym(lib, "GetExtensionVersion"));
  auto terminate = reinterpret_cast<PFN_TERMINATEEXTENSION>(dlsym(lib, "TerminateExtension"));
  ASSERT_TRUE(version && terminate && dlsym(lib, "HttpExtensionProc"));
  HSE_VERSION_INFO info;
  std::memset(&info, 'x', sizeof info);
  EXPECT_EQ(version(&info), 1);
  EXPECT_EQ(info.dwExtensionVersion, 0x00020000u);
  EXPECT_STREQ(info.lpszExtensionDesc, "");
  EXPECT_EQ(terminate(0), 1);
  dlclose(lib);
}

}  // namespace
