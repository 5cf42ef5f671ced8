// Opening files through the platform layer: a file the process does not own
// (for which the kernel refuses to skip access-time updates) still opens and
// reads.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/os_file.h"

namespace tarn {
namespace {

TEST(OSFile, AFileOfAnotherOwnerOpensAndReads) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to read as another user";
  char dir[] = "/tmp/dovecrest-os-file-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  ::chmod(dir, 0755);
  const std::string path = std::string(dir) + "/t.DAT";
  {
    TUniqueFd fd;
    ASSERT_EQ(OSFileCreate(path, true, fd), 0);
    ASSERT_EQ(OSFileWrite(fd.Get(), "table", 5, 0), 5);
  }
  ::chmod(path.c_str(), 0644);
  // A child that is not the owner and has no right to skip access times.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    TUniqueFd fd;
    if (OSFileOpen(path, false, fd) != 0) ::_exit(3);
    char bytes[5] = {};
    ::_exit(OSFileRead(fd.Get(), bytes, 5, 0) == 5 && std::string(bytes, 5) == "table" ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ::unlink(path.c_str());
  ::rmdir(dir);
}

}  // namespace
}  // namespace tarn
