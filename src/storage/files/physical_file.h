// TPhysicalFile: a disk file object with the one OS descriptor of its name in
// this process. Positions are kept per handle (positioned reads and writes),
// byte-range locks go to the in-process lock list and then to the OS as
// open-file-description locks, and share modes are emulated with a lock on a
// byte above 4 GiB: shared openers hold it shared, an exclusive opener holds
// it exclusively. Every OS call goes through CurrentFileSystem().
#pragma once

#include "platform/os_file.h"
#include "storage/files/file_object.h"

namespace tarn {

// The byte that carries the share mode (outside the engine's lock map).
inline constexpr std::int64_t ShareModeLockOffset = 0x100000001LL;

class TPhysicalFile : public TAbstractFile {
 public:
  TPhysicalFile() = default;
  ~TPhysicalFile() override;

  bool InMemory() const noexcept override { return false; }

  std::int32_t CreateNew() override;
  std::int32_t Open() override;
  std::int32_t Close(std::int32_t handle) override;
  std::int32_t Rename(const std::string& newName) override;
  std::int32_t Delete() override;
  std::int64_t Read(std::int32_t handle, void* buffer, std::int64_t count) override;
  std::int64_t Write(std::int32_t handle, const void* buffer, std::int64_t count) override;
  std::int32_t Flush() override;
  std::int64_t GetSize() override;
  TLockResult Lock(std::int64_t offset, std::int64_t length, TLockKind kind) override;
  bool Unlock(std::int64_t offset, std::int64_t length) override;

  // The OS descriptor while open, else -1 (for tests and diagnostics).
  int Descriptor() const noexcept { return fd_.Get(); }

 private:
  // Takes the share-mode lock for the open descriptor; false when another
  // process's share mode refuses it.
  bool TakeShareLock(bool exclusive);
  // Closes the descriptor; a file opened as temporary is deleted.
  void CloseDescriptor();

  TUniqueFd fd_;
  bool writable_ = false;
  bool deleteOnClose_ = false;
  std::string osPath_;  // the name as found on disk
};

}  // namespace tarn
