// TFileSystem: the one interface through which the file layer reaches the
// operating system's files and byte-range locks. The process default is the
// operating system itself (OSFileSystem); tests install another for a scope
// (TScopedFileSystem) to count calls or inject I/O faults.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/os_file.h"
#include "platform/os_locks.h"

namespace tarn {

// Every operation answers as the matching OS wrapper in os_file.h and
// os_locks.h does: 0 or errno, a byte count or -errno, a lock result.
class TFileSystem {
 public:
  virtual ~TFileSystem() = default;

  virtual int Attributes(const std::string& path, TOSFileAttributes& attributes) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual int Open(const std::string& path, bool writable, TUniqueFd& fd) = 0;
  virtual int Create(const std::string& path, bool exclusiveNew, TUniqueFd& fd) = 0;
  virtual void Close(TUniqueFd& fd) = 0;
  virtual std::int64_t PRead(int fd, void* buffer, std::int64_t count, std::int64_t position) = 0;
  virtual std::int64_t PWrite(int fd, const void* buffer, std::int64_t count, std::int64_t position) = 0;
  virtual int Truncate(int fd, std::int64_t size) = 0;
  virtual int Sync(int fd) = 0;
  virtual int Size(int fd, std::int64_t& size) = 0;
  virtual void AdviseSequential(int fd) = 0;
  virtual TLockResult Lock(int fd, std::int64_t offset, std::int64_t length, bool shared) = 0;
  virtual bool Unlock(int fd, std::int64_t offset, std::int64_t length) = 0;
  virtual bool Probe(int fd, std::int64_t offset, std::int64_t length, bool shared, TOSLockProbe& probe) = 0;
  virtual int Delete(const std::string& path) = 0;
  virtual int Rename(const std::string& oldPath, const std::string& newPath) = 0;
};

// The operating system: the calls of os_file.h and os_locks.h.
class TOSFileSystem : public TFileSystem {
 public:
  int Attributes(const std::string& path, TOSFileAttributes& attributes) override;
  bool Exists(const std::string& path) override;
  int Open(const std::string& path, bool writable, TUniqueFd& fd) override;
  int Create(const std::string& path, bool exclusiveNew, TUniqueFd& fd) override;
  void Close(TUniqueFd& fd) override;
  std::int64_t PRead(int fd, void* buffer, std::int64_t count, std::int64_t position) override;
  std::int64_t PWrite(int fd, const void* buffer, std::int64_t count, std::int64_t position) override;
  int Truncate(int fd, std::int64_t size) override;
  int Sync(int fd) override;
  int Size(int fd, std::int64_t& size) override;
  void AdviseSequential(int fd) override;
  TLockResult Lock(int fd, std::int64_t offset, std::int64_t length, bool shared) override;
  bool Unlock(int fd, std::int64_t offset, std::int64_t length) override;
  bool Probe(int fd, std::int64_t offset, std::int64_t length, bool shared, TOSLockProbe& probe) override;
  int Delete(const std::string& path) override;
  int Rename(const std::string& oldPath, const std::string& newPath) override;
};

// The one operating-system instance.
TOSFileSystem& OSFileSystem();

// The file system the file layer uses now: the installed one, else the OS.
TFileSystem& CurrentFileSystem();

// Installs a file system for the life of the scope and puts the previous one
// back at its end. Scopes nest; they are meant for tests, which install one
// while no other thread is inside the file layer.
class TScopedFileSystem {
 public:
  explicit TScopedFileSystem(TFileSystem& system);
  ~TScopedFileSystem();
  TScopedFileSystem(const TScopedFileSystem&) = delete;
  TScopedFileSystem& operator=(const TScopedFileSystem&) = delete;

 private:
  TFileSystem* previous_;
};

}  // namespace tarn
