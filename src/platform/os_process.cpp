// Thread ids, the current directory and the per-process private directory on Linux.
#include "platform/os_process.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/profile_file.h"

namespace tarn {
namespace {

// The private directory this process made (empty when none) and the process
// that made it: a forked child inherits both, and must neither use nor remove
// its parent's directory.
struct TPrivateDirectoryState {
  std::mutex lock;
  std::string path;
  pid_t owner = 0;
  bool removeAtExitRegistered = false;
};

TPrivateDirectoryState& State() {
  // Made before the exit handler is registered, so it outlives that handler.
  static TPrivateDirectoryState state;
  return state;
}

void RemoveLocked(TPrivateDirectoryState& state) noexcept {
  if (state.path.empty() || state.owner != ::getpid()) return;
  std::error_code ignored;
  std::filesystem::remove_all(state.path, ignored);
  state.path.clear();
  state.owner = 0;
}

void RemoveAtExit() { OSRemoveProcessPrivateDirectory(); }

}  // namespace

std::int64_t OSCurrentThreadId() noexcept { return static_cast<std::int64_t>(::gettid()); }

std::string OSCurrentDirectory() {
  std::vector<char> buffer(4096);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE || buffer.size() >= (1u << 20)) return "./";
    buffer.resize(buffer.size() * 2);
  }
}

int OSProcessPrivateDirectory(std::string& path) {
  TPrivateDirectoryState& state = State();
  std::lock_guard guard(state.lock);
  if (!state.path.empty() && state.owner == ::getpid()) {
    path = state.path;
    return 0;
  }
  std::string pattern = GetTempPath() + "tarn-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return errno;
  state.path = pattern + "/";
  state.owner = ::getpid();
  if (!state.removeAtExitRegistered) {
    std::atexit(RemoveAtExit);
    state.removeAtExitRegistered = true;
  }
  path = state.path;
  return 0;
}

bool OSIsProcessPrivateDirectory(const std::string& directory) noexcept {
  TPrivateDirectoryState& state = State();
  std::lock_guard guard(state.lock);
  return !state.path.empty() && state.owner == ::getpid() && state.path == directory;
}

void OSRemoveProcessPrivateDirectory() noexcept {
  TPrivateDirectoryState& state = State();
  std::lock_guard guard(state.lock);
  RemoveLocked(state);
}

}  // namespace tarn
