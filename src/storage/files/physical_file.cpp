// Disk file objects: one descriptor per name, share modes, positioned I/O and
// byte-range locks.
#include "storage/files/physical_file.h"

#include <cerrno>

#include "core/errors.h"
#include "platform/file_names.h"
#include "platform/file_system.h"
#include "storage/files/file_errors.h"

namespace tarn {
namespace {

// Every OS call of a disk file goes through the process's file system.
TFileSystem& FS() { return CurrentFileSystem(); }

std::int32_t Failure(int osError) { return -static_cast<std::int32_t>(OSLastNativeError(osError)); }

bool CoversShareByte(std::int64_t offset, std::int64_t length) {
  return offset <= ShareModeLockOffset && ShareModeLockOffset - offset < length;
}

}  // namespace

TPhysicalFile::~TPhysicalFile() {
  if (fd_.Valid()) CloseDescriptor();
}

bool TPhysicalFile::TakeShareLock(bool exclusive) {
  const int fd = fd_.Get();
  if (exclusive && writable_) return FS().Lock(fd, ShareModeLockOffset, 1, false) == TLockResult::lrLocked;
  if (exclusive) {
    // A read-only descriptor cannot hold an exclusive lock: make sure nobody
    // holds the byte at all, then hold it shared.
    TOSLockProbe probe;
    if (!FS().Probe(fd, ShareModeLockOffset, 1, false, probe) || probe.conflict) return false;
  }
  return FS().Lock(fd, ShareModeLockOffset, 1, true) == TLockResult::lrLocked;
}

void TPhysicalFile::CloseDescriptor() {
  if (deleteOnClose_ && fd_.Valid()) {
    // Deleted only when no other process still has the file open.
    if (writable_ && FS().Lock(fd_.Get(), ShareModeLockOffset, 1, false) == TLockResult::lrLocked)
      (void)FS().Delete(osPath_);
  }
  FS().Close(fd_);
  deleteOnClose_ = false;
  writable_ = false;
  ClearLockRecords();
}

std::int32_t TPhysicalFile::Open() {
  std::lock_guard guard(section_);
  if (openCount_ == 0) {
    osPath_ = ResolveFileName(fileName_);
    TOSFileAttributes attributes;
    if (int e = FS().Attributes(osPath_, attributes); e != 0) return Failure(e);
    if (attributes.isDirectory) return -TARN_OSEACCES;
    readOnlyMedia_ = attributes.readOnly;
    openedReadOnly_ = attributes.readOnly;
    TUniqueFd fd;
    int e = FS().Open(osPath_, !openedReadOnly_, fd);
    if (e != 0 && !openedReadOnly_) {
      // A file that cannot be written here opens read-only.
      if (FS().Open(osPath_, false, fd) == 0) {
        openedReadOnly_ = true;
        e = 0;
      }
    }
    if (e != 0) return Failure(e);
    fd_ = std::move(fd);
    writable_ = !openedReadOnly_;
    if (!TakeShareLock(exclusive_)) {
      FS().Close(fd_);
      writable_ = false;
      return -TARN_OSEACCES;
    }
    FS().AdviseSequential(fd_.Get());
    deleteOnClose_ = temporary_;
  }
  const std::int32_t handle = AddHandle();
  if (handle < 0 && openCount_ == 0) CloseDescriptor();
  return handle;
}

std::int32_t TPhysicalFile::CreateNew() {
  std::lock_guard guard(section_);
  if (openCount_ > 0) return -TARN_OSEACCES;
  osPath_ = temporary_ ? fileName_ : ResolveFileName(fileName_);
  TUniqueFd fd;
  // Temporary names must be new; other files are emptied once held exclusively.
  if (int e = FS().Create(osPath_, temporary_, fd); e != 0) return Failure(e);
  fd_ = std::move(fd);
  writable_ = true;
  openedReadOnly_ = false;
  readOnlyMedia_ = false;
  deleteOnClose_ = false;
  if (!TakeShareLock(true)) {
    FS().Close(fd_);
    writable_ = false;
    return -TARN_OSEACCES;
  }
  // A temporary name was created new, so it is empty already. Truncating it
  // anyway would cost a flush at close on file systems that guard files
  // emptied and rewritten in place (ext4), and result tables are made often.
  if (!temporary_) {
    if (int e = FS().Truncate(fd_.Get(), 0); e != 0) {
      FS().Close(fd_);
      writable_ = false;
      return Failure(e);
    }
  }
  FS().AdviseSequential(fd_.Get());
  exclusive_ = true;
  const std::int32_t handle = AddHandle();
  if (handle < 0) {
    CloseDescriptor();
    return handle;
  }
  size_ = 0;
  return handle;
}

std::int32_t TPhysicalFile::Close(std::int32_t handle) {
  std::lock_guard guard(section_);
  const std::int32_t result = TAbstractFile::Close(handle);
  if (result < 0) return result;
  if (openCount_ == 0) CloseDescriptor();
  return 0;
}

std::int32_t TPhysicalFile::Rename(const std::string& newName) {
  std::lock_guard guard(section_);
  if (openCount_ > 0) return -TARN_OSEACCES;
  const std::string source = ResolveFileName(fileName_);
  TOSFileAttributes attributes;
  if (int e = FS().Attributes(source, attributes); e != 0) return Failure(e);
  if (attributes.isDirectory) return -TARN_OSEACCES;
  const std::string target = NormalizeFileName(newName);
  const std::string existing = ResolveFileName(target);
  TOSFileAttributes targetAttributes;
  if (existing != source && FS().Attributes(existing, targetAttributes) == 0) return -TARN_TABLEEXISTS;
  TUniqueFd fd;
  if (int e = FS().Open(source, !attributes.readOnly, fd); e != 0) return Failure(e);
  fd_ = std::move(fd);
  writable_ = !attributes.readOnly;
  const bool held = TakeShareLock(true);
  int e = held ? FS().Rename(source, target) : 0;
  FS().Close(fd_);
  writable_ = false;
  if (!held) return -TARN_OSEACCES;
  if (e != 0) return Failure(e);
  fileName_ = target;
  osPath_ = target;
  return 0;
}

std::int32_t TPhysicalFile::Delete() {
  std::lock_guard guard(section_);
  if (openCount_ > 0) return -TARN_OSEACCES;
  const std::string path = ResolveFileName(fileName_);
  TOSFileAttributes attributes;
  if (int e = FS().Attributes(path, attributes); e != 0) return Failure(e);
  // Directories and files with the read-only attribute are not deleted.
  if (attributes.isDirectory || attributes.readOnly) return -TARN_OSEACCES;
  TUniqueFd fd;
  if (int e = FS().Open(path, true, fd); e != 0) return Failure(e);
  const bool held = FS().Lock(fd.Get(), ShareModeLockOffset, 1, false) == TLockResult::lrLocked;
  const int e = held ? FS().Delete(path) : 0;
  FS().Close(fd);
  if (!held) return -TARN_OSEACCES;
  return e == 0 ? 0 : Failure(e);
}

std::int64_t TPhysicalFile::Read(std::int32_t handle, void* buffer, std::int64_t count) {
  std::lock_guard guard(section_);
  TPositionRecord* record = FindHandle(handle);
  if (record == nullptr || !fd_.Valid()) return -TARN_OSEBADF;
  if (count <= 0 || record->position < 0) return 0;
  const std::int64_t n = FS().PRead(fd_.Get(), buffer, count, record->position);
  if (n < 0) return Failure(static_cast<int>(-n));
  record->position += n;
  return n;
}

std::int64_t TPhysicalFile::Write(std::int32_t handle, const void* buffer, std::int64_t count) {
  std::lock_guard guard(section_);
  TPositionRecord* record = FindHandle(handle);
  if (record == nullptr || !fd_.Valid()) return -TARN_OSEBADF;
  if (!writable_) return -TARN_OSEACCES;
  if (record->position < 0 || count < 0) return -TARN_WRITEERR;
  if (count == 0) {
    std::int64_t size = 0;
    if (int e = FS().Size(fd_.Get(), size); e != 0) return Failure(e);
    if (record->position < size && !exclusive_) {
      // Shortening a shared file needs it to ourselves for the moment.
      if (FS().Lock(fd_.Get(), ShareModeLockOffset, 1, false) != TLockResult::lrLocked) return -TARN_OSEACCES;
      const int e = FS().Truncate(fd_.Get(), record->position);
      (void)FS().Lock(fd_.Get(), ShareModeLockOffset, 1, true);
      return e == 0 ? 0 : Failure(e);
    }
    const int e = FS().Truncate(fd_.Get(), record->position);
    return e == 0 ? 0 : Failure(e);
  }
  const std::int64_t n = FS().PWrite(fd_.Get(), buffer, count, record->position);
  if (n < 0) return Failure(static_cast<int>(-n));
  record->position += n;
  return n;
}

std::int32_t TPhysicalFile::Flush() {
  std::lock_guard guard(section_);
  if (!fd_.Valid()) return -TARN_OSEBADF;
  if (!writable_) return 0;
  const int e = FS().Sync(fd_.Get());
  return e == 0 ? 0 : Failure(e);
}

std::int64_t TPhysicalFile::GetSize() {
  std::lock_guard guard(section_);
  if (!fd_.Valid()) return -TARN_OSEBADF;
  std::int64_t size = 0;
  if (int e = FS().Size(fd_.Get(), size); e != 0) return Failure(e);
  return size;
}

TLockResult TPhysicalFile::Lock(std::int64_t offset, std::int64_t length, TLockKind kind) {
  if (!ValidLockRange(offset, length) || CoversShareByte(offset, length)) return TLockResult::lrFailed;
  std::lock_guard guard(section_);
  if (!fd_.Valid()) return TLockResult::lrFailed;
  // The OS does not refuse a second lock through the same descriptor, so
  // overlaps inside the process are refused here first.
  if (OverlapsHeldLock(offset, length)) return TLockResult::lrBusy;
  const TLockResult result = FS().Lock(fd_.Get(), offset, length, kind == lkShared);
  if (result == TLockResult::lrLocked) AddLockRecord(offset, length);
  return result;
}

bool TPhysicalFile::Unlock(std::int64_t offset, std::int64_t length) {
  if (!ValidLockRange(offset, length) || CoversShareByte(offset, length)) return false;
  std::lock_guard guard(section_);
  if (!fd_.Valid()) return false;
  bool held = false;
  for (const auto& lock : lockList_)
    if (lock.firstByte == offset && lock.length == length) held = true;
  if (!held) return false;
  if (!FS().Unlock(fd_.Get(), offset, length)) return false;
  return RemoveLockRecord(offset, length);
}

}  // namespace tarn
