// TFileHandler: the base of the per-table file handlers (data, index, BLOB).
// It holds a handle on a shared file object of the process-wide file list and
// gives the table code reading, writing, seeking, flushing, truncating,
// byte-range locking, creating, deleting, renaming and copying of its file.
// Every failure raises ETarnEngineError with the file name as the table name.
// While a change journal is open, every write first keeps the bytes it
// overwrites, so that a change that fails part-way can be undone on disk.
// While writes are staged (a journaled flush), they are kept in memory until
// the table has recorded what they overwrite in its journal file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/errors.h"
#include "storage/files/file_list.h"
#include "storage/files/file_object.h"

namespace tarn {

// Bytes of a file as they were before a change overwrote them.
struct TJournalRegion {
  std::int64_t position = 0;
  std::vector<std::uint8_t> before;
};

class TFileHandler {
 public:
  TFileHandler() = default;
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  virtual void OpenFile();
  virtual void CloseFile();
  virtual void CreateFile();
  virtual void DeleteFile();
  virtual void RenameFile(const std::string& newName);
  // Whole-file copies (only while open); progress as in TFileList.
  virtual void CopyToFile(const std::string& destName, bool destInMemory, int progressStep = 0,
                          const TCopyProgress& progress = {});
  virtual void CopyFromFile(const std::string& sourceName, bool sourceInMemory, int progressStep = 0,
                            const TCopyProgress& progress = {});
  // Reads at the handle's position; fewer bytes than count raise TARN_READERR
  // unless allowShort. Answers the bytes read.
  virtual std::int64_t Read(void* buffer, std::int64_t count, bool allowShort = false);
  // Writes at the position; a count of 0 truncates the file there.
  virtual void Write(const void* buffer, std::int64_t count);
  virtual void Flush();

  // Origin 0 from the start, 1 from the current position, 2 from the end.
  // Answers the new position (0 when there is no file).
  std::int64_t Seek(int origin, std::int64_t offset);
  std::int64_t GetPos();
  std::int64_t GetSize();

  // Locks (lock = true) or unlocks one byte range; false when it could not or
  // there is no file. Never waits.
  bool LockRegion(bool lock, std::int64_t offset, std::int64_t length, TLockKind kind = lkExclusive);
  // One lock attempt telling a busy range from an impossible request.
  TLockResult TryLockRegion(std::int64_t offset, std::int64_t length, TLockKind kind = lkExclusive);

  // The shared file object's file section, held across a seek and the read or
  // write that follows.
  void LockFileHandler();
  void UnlockFileHandler();

  void SetIsOpen(bool open);
  bool Exists() const;

  // The change journal. BeginJournal starts keeping, for every later write, the
  // bytes it overwrites and the file's size before the first write; EndJournal
  // forgets them (the change succeeded); RollbackJournal writes them back in
  // reverse order and cuts the file back to its old size where it can, then
  // forgets them. RollbackJournal answers false when the file could not be
  // restored; it never raises.
  void BeginJournal();
  void EndJournal() noexcept;
  bool RollbackJournal() noexcept;
  bool JournalOpen() const noexcept { return journalOpen_; }

  // Staged writes. Between BeginStaging and EndStaging a write (or truncation)
  // does not reach the file: it is kept, and the handle's position moves on as
  // if it had. CollectBeforeImages then reads what the kept writes will
  // overwrite, as it is on disk now, and answers the file's size;
  // ApplyStaged writes them in their order, adds those before-images to the
  // change journal when one is open, and ends staging. EndStaging drops
  // whatever is still kept.
  void BeginStaging() noexcept;
  void EndStaging() noexcept;
  bool Staging() const noexcept { return staging_; }
  bool HasStagedWrites() const noexcept { return !staged_.empty(); }
  std::int64_t CollectBeforeImages(std::vector<TJournalRegion>& regions);
  // Applies the kept writes of one kind: the header (the writes at position 0,
  // which carry the new stamp) or the rest. Staging ends once the rest is written.
  enum class TStagedPart : std::uint8_t { spHeader, spRest };
  void ApplyStaged(TStagedPart part, std::int64_t originalSize, const std::vector<TJournalRegion>& regions);
  // Puts before-images back and cuts the file to originalSize where it can
  // (a file open elsewhere keeps its appended bytes, which readers ignore);
  // false when a write failed. Never raises.
  bool RestoreRegions(std::int64_t originalSize, const std::vector<TJournalRegion>& regions) noexcept;

  const std::string& FileName() const noexcept { return fileName_; }
  void SetFileName(const std::string& name) { fileName_ = name; }
  bool InMemory() const noexcept { return inMemory_; }
  void SetInMemory(bool value) noexcept { inMemory_ = value; }
  bool Exclusive() const noexcept { return exclusive_; }
  void SetExclusive(bool value) noexcept { exclusive_ = value; }
  bool Temporary() const noexcept { return temporary_; }
  void SetTemporary(bool value) noexcept { temporary_ = value; }
  bool OpenedReadOnly() const noexcept { return openedReadOnly_; }
  bool ReadOnlyMedia() const noexcept { return readOnlyMedia_; }
  bool IsOpen() const noexcept { return isOpen_; }
  std::int32_t Handle() const noexcept { return handle_; }
  TAbstractFile* File() const noexcept { return file_; }

 protected:
  // Raises code with the file name as the table-name context.
  [[noreturn]] void Raise(TarnErrorCode code) const;
  // Raises -result when result is negative.
  void CheckResult(std::int64_t result) const;

 private:
  bool inMemory_ = false;
  TAbstractFile* file_ = nullptr;  // shared, owned by the file list
  std::string fileName_;
  std::int32_t handle_ = 0;
  bool exclusive_ = false;
  bool openedReadOnly_ = false;
  bool readOnlyMedia_ = false;
  bool temporary_ = false;
  bool isOpen_ = false;

  using TUndoEntry = TJournalRegion;
  struct TStagedWrite {
    std::int64_t position;
    std::vector<std::uint8_t> bytes;
    bool truncate;
  };
  bool staging_ = false;
  std::vector<TStagedWrite> staged_;
  // Keeps what a write of count bytes at the current position overwrites.
  void JournalWrite(std::int64_t count);
  bool journalOpen_ = false;
  std::int64_t journalSize_ = -1;  // the size before the first journaled write
  std::vector<TUndoEntry> journal_;
};

// Holds a handler's file section for a scope.
class TFileHandlerLock {
 public:
  explicit TFileHandlerLock(TFileHandler& handler) : handler_(handler) { handler_.LockFileHandler(); }
  ~TFileHandlerLock() { handler_.UnlockFileHandler(); }
  TFileHandlerLock(const TFileHandlerLock&) = delete;
  TFileHandlerLock& operator=(const TFileHandlerLock&) = delete;

 private:
  TFileHandler& handler_;
};

}  // namespace tarn
