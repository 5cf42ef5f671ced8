// What a table's file handlers need from the shared table that owns them
// (lock state, session settings, change publication), and what a record or
// page lookup needs from the cursor asking for it. The shared table and the
// cursor implement these; the file handlers never see those classes.
#pragma once

#include <cstdint>
#include <string>

namespace tarn {

class TTableLink {
 public:
  virtual ~TTableLink() = default;
  // The session checks for changes only when it takes its own locks.
  virtual bool StrictChangeDetection() const = 0;
  // The table is under the transaction write lock (buffers stay dirty).
  virtual bool TransactionLocked() const = 0;
  // A cache may write dirty buffers to make room: no change is under way and no
  // transaction holds its changes back. Nothing of a change may reach the disk
  // before it has succeeded, so while one is under way a full cache grows instead.
  virtual bool MayWriteToMakeRoom() const = 0;
  // A read may end early: the table is held exclusively or under the
  // transaction lock and was changed in this process, so appended records may
  // still lie beyond the end of the file.
  virtual bool ShortReadsAllowed() const = 0;
  virtual bool HasPrimaryIndex() const = 0;
  // This process wrote a header or records.
  virtual void MarkTableChanged() = 0;
  virtual bool ForceBufferFlush() const = 0;
  // Where temporary work files are made.
  virtual std::string PrivateDirectory() const = 0;
  // The live record count kept in the index header.
  virtual void SetActualRecordCount(std::int32_t count) = 0;
};

class TCacheClient {
 public:
  virtual ~TCacheClient() = default;
  // Takes the table read lock with change detection; true when changes by
  // another process were found (caches dropped, the cursor repositioned).
  virtual bool ReadLockForCache() = 0;
  // How many records or pages the cursor will visit next.
  virtual std::int32_t ReadAheadCount() const = 0;
};

// The table of a file used by this process alone (tools, tests, benchmarks):
// its settings are plain fields, its changes are counted.
class TStandaloneTableLink : public TTableLink {
 public:
  bool StrictChangeDetection() const override { return strict; }
  bool TransactionLocked() const override { return transaction; }
  bool MayWriteToMakeRoom() const override { return !transaction && !changing; }
  bool ShortReadsAllowed() const override { return shortReads; }
  bool HasPrimaryIndex() const override { return primary; }
  void MarkTableChanged() override { ++changes; }
  bool ForceBufferFlush() const override { return forceFlush; }
  std::string PrivateDirectory() const override { return directory; }
  void SetActualRecordCount(std::int32_t count) override { actualCount = count; }

  bool strict = false;
  bool transaction = false;
  bool changing = false;  // a change is under way
  bool shortReads = false;
  bool primary = true;
  bool forceFlush = false;
  std::string directory = "/tmp/";
  long changes = 0;
  std::int32_t actualCount = -1;
};

}  // namespace tarn
