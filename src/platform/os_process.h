// Process and thread services: the calling thread's id, the current directory,
// and the process's private directory for temporary tables (a directory of its
// own, made with mkdtemp under $TMPDIR or /tmp, readable only by its owner, and
// removed with its contents when the process that made it exits).
#pragma once

#include <cstdint>
#include <string>

namespace tarn {

// The kernel's id of the calling thread (gettid).
std::int64_t OSCurrentThreadId() noexcept;

// The process's current directory; "./" when it cannot be read.
std::string OSCurrentDirectory();

// The private directory of the calling process, with a trailing '/'. Made on
// the first call (mode 0700); answers 0 or errno. A forked child that asks
// gets a directory of its own: the parent's directory stays the parent's, and
// only the process that made a directory removes it.
int OSProcessPrivateDirectory(std::string& path);

// Removes the calling process's private directory with everything in it, when
// this process made one; the next OSProcessPrivateDirectory makes a new one.
// Also runs at process exit.
void OSRemoveProcessPrivateDirectory() noexcept;
// Whether the directory (with its trailing '/') is the private directory this
// process made. Only the process itself names files there.
bool OSIsProcessPrivateDirectory(const std::string& directory) noexcept;

}  // namespace tarn
