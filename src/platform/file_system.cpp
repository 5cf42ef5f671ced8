// The operating system as the file layer's file system, and the process default.
#include "platform/file_system.h"

namespace tarn {
namespace {

std::atomic<TFileSystem*> installed{nullptr};

}  // namespace

int TOSFileSystem::Attributes(const std::string& path, TOSFileAttributes& attributes) {
  return OSFileAttributes(path, attributes);
}
bool TOSFileSystem::Exists(const std::string& path) { return OSFileExists(path); }
int TOSFileSystem::Open(const std::string& path, bool writable, TUniqueFd& fd) {
  return OSFileOpen(path, writable, fd);
}
int TOSFileSystem::Create(const std::string& path, bool exclusiveNew, TUniqueFd& fd) {
  return OSFileCreate(path, exclusiveNew, fd);
}
void TOSFileSystem::Close(TUniqueFd& fd) { fd.Reset(); }
std::int64_t TOSFileSystem::PRead(int fd, void* buffer, std::int64_t count, std::int64_t position) {
  return OSFileRead(fd, buffer, count, position);
}
std::int64_t TOSFileSystem::PWrite(int fd, const void* buffer, std::int64_t count, std::int64_t position) {
  return OSFileWrite(fd, buffer, count, position);
}
int TOSFileSystem::Truncate(int fd, std::int64_t size) { return OSFileTruncate(fd, size); }
int TOSFileSystem::Sync(int fd) { return OSFileFlush(fd); }
int TOSFileSystem::Size(int fd, std::int64_t& size) { return OSFileSize(fd, size); }
void TOSFileSystem::AdviseSequential(int fd) { OSFileAdviseSequential(fd); }
TLockResult TOSFileSystem::Lock(int fd, std::int64_t offset, std::int64_t length, bool shared) {
  return OSLockRange(fd, offset, length, shared);
}
bool TOSFileSystem::Unlock(int fd, std::int64_t offset, std::int64_t length) {
  return OSUnlockRange(fd, offset, length);
}
bool TOSFileSystem::Probe(int fd, std::int64_t offset, std::int64_t length, bool shared, TOSLockProbe& probe) {
  return OSProbeRange(fd, offset, length, shared, probe);
}
int TOSFileSystem::Delete(const std::string& path) { return OSFileDelete(path); }
int TOSFileSystem::Rename(const std::string& oldPath, const std::string& newPath) {
  return OSFileRename(oldPath, newPath);
}

TOSFileSystem& OSFileSystem() {
  static TOSFileSystem system;
  return system;
}

TFileSystem& CurrentFileSystem() {
  TFileSystem* system = installed.load(std::memory_order_acquire);
  return system != nullptr ? *system : OSFileSystem();
}

TScopedFileSystem::TScopedFileSystem(TFileSystem& system)
    : previous_(installed.exchange(&system, std::memory_order_acq_rel)) {}

TScopedFileSystem::~TScopedFileSystem() { installed.store(previous_, std::memory_order_release); }

}  // namespace tarn
