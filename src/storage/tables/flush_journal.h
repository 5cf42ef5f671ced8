// The rollback journal of a table's flush: a file beside the table
// (<table>.JNL) that holds, while a flush writes, the original bytes of every
// region of the data, index and BLOB files the flush overwrites and the three
// files' sizes before it, with a checksum (docs/file-format.md, "Rollback
// journal"). The file stays between flushes; a flush that is done makes it
// inactive by zeroing its first bytes. The writer holds the journal lock byte of
// the data file while its journal is active, so an active journal whose byte
// nobody holds was left by a writer that died: whoever next opens the table, or
// sees its header stamps change, rolls it back (RecoverFlushJournal). A journal
// that is incomplete or fails its checksum was never acted on and is only made
// inactive.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/os_file.h"
#include "storage/files/file_handler.h"
#include "storage/files/lock_map.h"
#include "storage/tables/table_owner.h"

namespace tarn {

// Which of the table's files a journal part belongs to.
enum TJournalFile : std::size_t { jfData = 0, jfIndex = 1, jfBlob = 2 };

struct TJournalPart {
  std::int64_t OriginalSize = -1;  // -1: the file takes no part (no BLOB file)
  std::vector<TJournalRegion> Regions;
};

struct TJournalImage {
  std::array<TJournalPart, 3> Parts;
  // When the flush is one table's share of a commit over several tables: the
  // commit record's file name (in the same directory). The journal is then live
  // only while that record exists; the commit is complete once it is gone.
  std::string CommitRecord;
};

std::vector<std::uint8_t> EncodeJournal(const TJournalImage& image);
// False when the bytes do not start with a complete journal with a matching
// checksum (bytes past the journal's own length are ignored).
bool DecodeJournal(std::span<const std::uint8_t> bytes, TJournalImage& image);

// The journal's name for a table's data file name: its ".DAT" becomes ".JNL".
std::string JournalFileName(const std::string& dataFileName);

// One flush's journal on disk. Write takes the journal lock byte of the data file
// (internal lock retries), writes the journal through the table's journal file
// (opened, or made, on first use and kept) and, for fdPowerLoss, syncs it;
// Remove makes it inactive and releases the byte. A journal that Write left
// active (a failure after it was written) stays for the next locker to roll back.
class TJournalWriter {
 public:
  TJournalWriter(TFileHandler& data, TUniqueFd& file, std::string path, TFlushDurability durability,
                 const TLockMap& lockMap)
      : data_(data), file_(file), path_(std::move(path)), durability_(durability), lockMap_(lockMap) {}
  ~TJournalWriter();
  TJournalWriter(const TJournalWriter&) = delete;
  TJournalWriter& operator=(const TJournalWriter&) = delete;

  // Raises TARN_LOCKTIMEOUT or TARN_WRITEERR; nothing of the table is written then.
  void Write(const TJournalImage& image);
  // Makes the journal inactive (raises TARN_WRITEERR when it cannot) and releases the byte.
  void Remove();
  // Releases the byte and leaves the journal as it is.
  void Abandon() noexcept;

 private:
  TFileHandler& data_;
  TUniqueFd& file_;
  std::string path_;
  TFlushDurability durability_;
  const TLockMap& lockMap_;
  bool locked_ = false;
};

// The three files of a table as recovery sees them: open handlers of the
// table (or plain ones a recovery before the open makes), the BLOB one possibly
// closed.
struct TJournalTargets {
  TFileHandler* Data = nullptr;
  TFileHandler* Index = nullptr;
  TFileHandler* Blob = nullptr;
};

enum class TRecovery : std::uint8_t {
  rcNone,        // no journal, or one a live flush holds
  rcDiscarded,   // an incomplete or stale journal was removed; the files were not touched
  rcRolledBack   // the files were put back as they were before the dead flush
};

// Looks for the table's active journal (one stat when there is no journal file);
// an active journal whose byte nobody holds is rolled back into the files and made
// inactive. Waits (internal lock retries) while another session recovers. Raises
// TARN_WRITEERR when the files cannot be restored (the journal then stays active).
TRecovery RecoverFlushJournal(const std::string& journalPath, TJournalTargets targets, const TLockMap& lockMap);

// The commit record of a journaled flush over several tables: a file in the
// tables' directory listing their journals. Its removal is the commit point:
// a journal that names a record that is gone belongs to a complete commit.
class TCommitRecord {
 public:
  TCommitRecord() = default;
  ~TCommitRecord();
  TCommitRecord(const TCommitRecord&) = delete;
  TCommitRecord& operator=(const TCommitRecord&) = delete;

  // Makes a record of a new name beside the first journal, listing the journals;
  // answers its name (without directory). Raises TARN_WRITEERR.
  std::string Create(const std::vector<std::string>& journalPaths, TFlushDurability durability);
  // Removes it: the commit is complete. Raises TARN_WRITEERR when it cannot.
  void Remove();
  // Leaves it in place (a journal that still needs it was not removed).
  void Keep() noexcept { path_.clear(); }

 private:
  std::string path_;
};

// Whether an active journal is at the path: one stat when there is no journal
// file or an empty one, else a read of its first bytes.
bool JournalExists(const std::string& journalPath);

}  // namespace tarn
