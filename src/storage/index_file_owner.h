// TIndexFileOwner: what an index file needs from the table that owns it (the
// shared table object): the encryption flag, the change-detection settings
// and the read lock taken before a page is read, the transaction lock, and
// the notice that the table's files changed. TStandaloneIndexFileOwner is the
// owner of an index file used by this process alone (tests, tools).
#pragma once

namespace tarn {

class TIndexFileOwner {
 public:
  virtual ~TIndexFileOwner() = default;
  // Pages (and the header) are scrambled on disk.
  virtual bool Encrypted() const = 0;
  // The session checks for changes itself before every operation, so no lock
  // is taken before a page read.
  virtual bool StrictChangeDetection() const = 0;
  // Takes the table read lock with change detection before a page is read
  // from disk. True when changes made elsewhere were found: the table has
  // dropped its caches (FreePageBuffers) and re-read its headers, and the
  // caller starts over.
  virtual bool ReadLockDetectingChanges() = 0;
  // Under the transaction lock dirty pages stay in the cache until commit.
  virtual bool TransactionLocked() const = 0;
  // A page read past the end of the file is accepted (zero-filled) only when
  // the table is held exclusively or under the transaction lock and has been
  // changed in this process (appended pages not yet written).
  virtual bool AcceptShortRead() const = 0;
  // Something was written to the table's files.
  virtual void MarkTableChanged() = 0;
};

class TStandaloneIndexFileOwner final : public TIndexFileOwner {
 public:
  bool Encrypted() const override { return encrypted; }
  bool StrictChangeDetection() const override { return strict; }
  bool ReadLockDetectingChanges() override {
    ++readLocks;
    return false;
  }
  bool TransactionLocked() const override { return transactionLocked; }
  bool AcceptShortRead() const override { return acceptShortRead; }
  void MarkTableChanged() override { ++changes; }

  bool encrypted = false;
  bool strict = false;
  bool transactionLocked = false;
  bool acceptShortRead = true;
  long readLocks = 0;
  long changes = 0;
};

}  // namespace tarn
