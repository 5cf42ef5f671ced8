// TAbstractFile: the shared per-name file object of the file layer. It owns
// the file section, the per-handle positions and the in-process byte-range
// lock list; TPhysicalFile and TMemoryFile add the storage.
//
// Operations below the file handlers answer codes instead of raising: a
// handle number >= 1 or 0 on success, or the negative of an engine code.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os_locks.h"

namespace tarn {

// Kind of a byte-range lock: reader tokens are shared, everything else exclusive.
enum TLockKind { lkExclusive, lkShared };

// One in-process lock record.
struct TLockRecord {
  std::int64_t firstByte;
  std::int64_t lastByte;
  std::int64_t length;
};

class TAbstractFile {
 public:
  TAbstractFile() = default;
  virtual ~TAbstractFile() = default;
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;

  virtual bool InMemory() const noexcept = 0;

  // Index of the handle's position record, or -1.
  std::int64_t GetHandlePos(std::int32_t handle) const;
  // The handle's position, or -1 when the handle is unknown.
  std::int64_t HandlePosition(std::int32_t handle) const;

  // Creates (or empties) the file and adds a handle. Answers the handle or -code.
  virtual std::int32_t CreateNew();
  // Adds a handle (the first opener of a disk file opens the OS file).
  virtual std::int32_t Open();
  // Open and CreateNew with the share rules checked in the file section, so
  // that they hold while the file list is not locked: an open file admits no
  // exclusive opener, and no opener at all when it is held exclusively; the
  // first opener sets the exclusive and temporary marks. Answers the handle or -code.
  std::int32_t OpenShared(bool exclusive, bool temporary);
  std::int32_t CreateExclusive(bool temporary);
  // Removes the handle. Answers 0 or -code.
  virtual std::int32_t Close(std::int32_t handle);
  virtual std::int32_t Rename(const std::string& newName);
  virtual std::int32_t Delete();

  // Reads up to count bytes at the handle's position and advances it. Answers
  // the byte count (0 at or past the end, or at a negative position) or -code.
  virtual std::int64_t Read(std::int32_t handle, void* buffer, std::int64_t count);
  // Writes count bytes at the handle's position; a count of 0 truncates there.
  // Answers the byte count or -code.
  virtual std::int64_t Write(std::int32_t handle, const void* buffer, std::int64_t count);
  virtual std::int32_t Flush();
  // Moves the handle's position (origin 0 start, 1 current, 2 end) and stores
  // the new position. Answers 0 or -code.
  virtual std::int32_t Seek(std::int32_t handle, int origin, std::int64_t offset, std::int64_t& position);
  // Current logical size, or -code.
  virtual std::int64_t GetSize();

  // Byte-range locks: an overlapping request fails (lrBusy); unlock must name
  // exactly a held range. Never waits.
  virtual TLockResult Lock(std::int64_t offset, std::int64_t length, TLockKind kind);
  virtual bool Unlock(std::int64_t offset, std::int64_t length);

  // The file section, held by each operation and by handlers across a seek
  // and the read or write that follows.
  void LockSection() { section_.lock(); }
  void UnlockSection() { section_.unlock(); }
  std::recursive_mutex& Section() noexcept { return section_; }

  const std::string& FileName() const noexcept { return fileName_; }
  void SetFileName(const std::string& name) { fileName_ = name; }
  bool Exclusive() const noexcept { return exclusive_; }
  void SetExclusive(bool value) noexcept { exclusive_ = value; }
  bool Temporary() const noexcept { return temporary_; }
  void SetTemporary(bool value) noexcept { temporary_ = value; }
  bool OpenedReadOnly() const noexcept { return openedReadOnly_; }
  bool ReadOnlyMedia() const noexcept { return readOnlyMedia_; }
  std::uint16_t OpenCount() const noexcept { return openCount_; }
  std::size_t LockCount() const;

  // Operations of the file list in progress on this object without the list
  // locked (opening, creating, closing). Guarded by the file list's lock: an
  // object with pins is never removed from the list, and its open count is
  // read there only when no pin is left.
  void Pin() noexcept { ++pins_; }
  void Unpin() noexcept { --pins_; }
  int Pins() const noexcept { return pins_; }

 protected:
  struct TPositionRecord {
    std::int32_t handle;
    std::int64_t position;
  };

  std::int32_t AddHandle();
  TPositionRecord* FindHandle(std::int32_t handle);
  // In-process part of the lock list (caller holds the section).
  bool OverlapsHeldLock(std::int64_t offset, std::int64_t length) const;
  void AddLockRecord(std::int64_t offset, std::int64_t length);
  bool RemoveLockRecord(std::int64_t offset, std::int64_t length);
  void ClearLockRecords() { lockList_.clear(); }

  mutable std::recursive_mutex section_;
  bool exclusive_ = false;
  bool openedReadOnly_ = false;
  bool readOnlyMedia_ = false;
  bool temporary_ = false;
  std::string fileName_;
  std::int64_t size_ = 0;
  std::vector<TLockRecord> lockList_;
  std::uint16_t openCount_ = 0;
  std::vector<TPositionRecord> positionList_;
  std::int32_t nextHandle_ = 1;
  int pins_ = 0;
};

}  // namespace tarn
