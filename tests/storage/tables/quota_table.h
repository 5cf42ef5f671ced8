// A small quota table (ID integer primary key, NAME string(20), USED integer;
// optionally a NOTE memo or a unique secondary index on NAME) and the record, key,
// BLOB and header operations on a shared table done the way record changes do them:
// under the table's locks, restarting when change detection drops the caches.
#pragma once

#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "storage/blobs/blob_buffer.h"
#include "storage/btree/btree.h"
#include "storage/tables/data_table.h"
#include "storage/keys/key_builder.h"
#include "storage/keys/key_layout.h"
#include "storage/btree/page_key_comparator.h"
#include "storage/formats/record_layout.h"
#include "support/field_builders.h"

namespace tarn::testing {

// Field offsets: ID at 9 (flag) + 4, NAME at 14 (flag) + 21, USED at 36 (flag) + 4,
// and with a BLOB the NOTE reference at 41 (flag) + 8.
inline constexpr std::size_t kIdOffset = 9, kNameOffset = 14, kUsedOffset = 36, kNoteOffset = 41;

inline TTableDefinition QuotaDefinition(bool withBlob = false) {
  TTableDefinition def;
  def.Fields = {test_support::MakeField("ID", dtInteger), test_support::MakeField("NAME", dtString, 20),
                test_support::MakeField("USED", dtInteger)};
  if (withBlob) def.Fields.push_back(test_support::MakeField("NOTE", dtBlob, 0, dstMemo));
  test_support::LayOut(def.Fields);
  TIndexDefinition primary{};
  primary.KeyFieldCount = 1;
  primary.KeyFields[0] = 1;
  primary.Unique = 1;
  primary.Compression = icNone;
  primary.KeySize = static_cast<std::uint16_t>(MakeIndexKeyLayout(primary, def.Fields, 0, 0, 0).KeySize());
  def.Indexes.push_back(primary);
  return def;
}

// The quota table with a unique secondary index "ByName" on NAME (slot 1).
inline TTableDefinition QuotaDefinitionWithUniqueName() {
  TTableDefinition def = QuotaDefinition();
  TIndexDefinition byName{};
  byName.Name.Assign("ByName");
  byName.KeyFieldCount = 1;
  byName.KeyFields[0] = 2;
  byName.Unique = 1;
  byName.Compression = icNone;
  byName.KeySize = static_cast<std::uint16_t>(MakeIndexKeyLayout(byName, def.Fields, 1, 0, 0).KeySize());
  def.Indexes.push_back(byName);
  return def;
}

struct QuotaRow {
  std::int32_t Id = 0;
  std::string Name;
  std::int32_t Used = 0;
  bool operator==(const QuotaRow&) const = default;
};

// The cursor's part in cache lookups: a miss takes the table read lock.
class TableClient final : public TCacheClient {
 public:
  explicit TableClient(TDataTable& table) : table_(table) {}
  bool ReadLockForCache() override { return table_.ReadLockTable(); }
  std::int32_t ReadAheadCount() const override { return 1; }

 private:
  TDataTable& table_;
};

// Releases a record lock at the end of a change, whether the change succeeded or
// not (as a cursor does when a post fails and the edit is cancelled).
class TRecordLockRelease {
 public:
  TRecordLockRelease(TDataTable& table, std::int32_t number)
      : table_(table), number_(number), exceptions_(std::uncaught_exceptions()) {}
  ~TRecordLockRelease() noexcept(false) {
    if (std::uncaught_exceptions() > exceptions_) {
      try {
        table_.UserWriteUnlockRecord(number_);
      } catch (...) {
      }
      return;
    }
    table_.UserWriteUnlockRecord(number_);
  }
  TRecordLockRelease(const TRecordLockRelease&) = delete;
  TRecordLockRelease& operator=(const TRecordLockRelease&) = delete;

 private:
  TDataTable& table_;
  std::int32_t number_;
  int exceptions_;
};

// Record and key operations of one session on its shared table.
class QuotaOps {
 public:
  explicit QuotaOps(TDataTable& table) : table_(table), client_(table) {}

  // Appends a row with its keys, the primary key first and then each secondary key
  // (refused with TARN_KEYVIOL when a unique index already holds it); answers the
  // record number.
  std::int32_t Append(const QuotaRow& row) {
    for (;;) {
      TWriteLockScope scope(table_);
      TRecord* record = nullptr;
      if (!table_.DataFile().GetNextFreeRecord(&client_, record)) continue;
      record->Initialize(true);
      std::vector<std::uint8_t> bytes(record->GetRecordBufferPtr(),
                                      record->GetRecordBufferPtr() + table_.DataFile().GetRecordSize());
      Fill(bytes, row);
      record->CopyRecordBuffer(bytes.data());
      const std::int32_t number = record->Number();
      table_.DataFile().PutRecord(record);
      AddKeys(bytes, number);
      table_.SetActualRecordCount(table_.IndexFile().Header().ActualRecordCount + 1);
      scope.Commit();
      return number;
    }
  }

  // Keys in an index slot, by its root's lower counts and by a walk of its leaves.
  struct TKeyCounts {
    std::int64_t Counted = 0;
    std::int64_t Walked = 0;
  };
  TKeyCounts KeyCounts(std::size_t slot) {
    TReadLockScope scope(table_);
    TIndexPath path;
    TBTree tree(table_.IndexFile(), &client_, slot, *Comparator(slot), path);
    TKeyCounts counts;
    counts.Counted = tree.GetKeyCount();
    tree.ScanKeys([&](const std::uint8_t*, std::int32_t) {
      ++counts.Walked;
      return true;
    });
    return counts;
  }

  // Changes USED of the row with this ID, editing it under its record lock.
  void SetUsed(std::int32_t id, std::int32_t used) {
    EditUnderRecordLock(id, [&](TRecord& record, std::vector<std::uint8_t>& bytes, std::int32_t) {
      bytes[kUsedOffset] = 1;
      StoreInt32(&bytes[kUsedOffset + 1], used);
      record.CopyRecordBuffer(bytes.data());
    });
  }

  // Replaces the row with this ID by row (its ID and NAME key fields included) the
  // way a cursor posts a modify: under its record lock the old keys leave every
  // index and the new keys enter (TARN_KEYVIOL when a unique index holds one).
  void Rekey(std::int32_t id, const QuotaRow& row) {
    EditUnderRecordLock(id, [&](TRecord& record, std::vector<std::uint8_t>& bytes, std::int32_t number) {
      std::vector<std::uint8_t> changed = bytes;
      Fill(changed, row);
      RemoveKeys(bytes);
      AddKeys(changed, number);
      record.CopyRecordBuffer(changed.data());
    });
  }

  // Deletes the row with this ID the way a cursor does: under its record lock its
  // keys leave the indexes and the record joins the free-record chain.
  void Delete(std::int32_t id) {
    EditUnderRecordLock(id, [&](TRecord& record, std::vector<std::uint8_t>& bytes, std::int32_t) {
      RemoveKeys(bytes);
      table_.DataFile().SetNextFreeRecord(record);
      table_.SetActualRecordCount(table_.IndexFile().Header().ActualRecordCount - 1);
    });
  }

  // Writes the NOTE BLOB (table made with withBlob) of the row with this ID the way
  // a cursor posts it: a new signature, the chain written, the reference stored.
  void SetNote(std::int32_t id, const std::string& text) {
    const std::int32_t number = Find(id);
    if (number <= 0) RaiseError(TARN_RECNOTFOUND);
    for (;;) {
      TWriteLockScope scope(table_);
      TRecord* record = nullptr;
      if (!table_.DataFile().GetRecord(&client_, number, record)) continue;
      std::vector<std::uint8_t> bytes(record->GetRecordBufferPtr(),
                                      record->GetRecordBufferPtr() + table_.DataFile().GetRecordSize());
      const TBlobReference old = LoadBlobReference(&bytes[kNoteOffset + 1]);
      TBlobBuffer blob(table_.BlobFile(), &client_, number, 4, old.FirstBlock, old.Signature);
      blob.SetSize(text.size());
      std::memcpy(blob.GetBuffer(), text.data(), text.size());
      blob.SetSignature(table_.DataFile().GetNextFreeBlobSignature());
      if (!blob.Write()) {
        table_.DataFile().PutRecord(record);
        continue;
      }
      bytes[kNoteOffset] = 1;
      StoreBlobReference(&bytes[kNoteOffset + 1], {blob.FirstBlock(), blob.Signature()});
      record->CopyRecordBuffer(bytes.data());
      table_.DataFile().PutRecord(record);
      scope.Commit();
      return;
    }
  }

  // The NOTE BLOB of the row with this ID ("" when it has none).
  std::string Note(std::int32_t id) {
    const std::int32_t number = Find(id);
    if (number <= 0) RaiseError(TARN_RECNOTFOUND);
    TReadLockScope scope(table_);
    for (;;) {
      TRecord* record = nullptr;
      if (!table_.DataFile().GetRecord(&client_, number, record)) continue;
      const TBlobReference ref = LoadBlobReference(record->GetRecordBufferPtr() + kNoteOffset + 1);
      table_.DataFile().PutRecord(record);
      if (ref.FirstBlock == 0) return {};
      TBlobBuffer blob(table_.BlobFile(), &client_, number, 4, ref.FirstBlock, ref.Signature);
      blob.Read();
      return std::string(reinterpret_cast<const char*>(blob.Contents().data()), blob.GetSize());
    }
  }

  // The record number of the row with this ID, 0 when there is none.
  std::int32_t Find(std::int32_t id) {
    TReadLockScope scope(table_);
    std::vector<std::uint8_t> bytes(table_.DataFile().GetRecordSize(), 0);
    Fill(bytes, QuotaRow{id, "", 0});
    std::vector<std::uint8_t> key = KeyOf(bytes, 0);
    for (;;) {
      TIndexPath path;
      TBTree tree(table_.IndexFile(), &client_, 0, *Comparator(0), path);
      if (!tree.SearchIndexKeys(key.data())) return 0;
      return tree.FoundRecordNumber();
    }
  }

  QuotaRow Read(std::int32_t number) {
    TReadLockScope scope(table_);
    for (;;) {
      TRecord* record = nullptr;
      if (!table_.DataFile().GetRecord(&client_, number, record)) continue;
      QuotaRow row = RowOf(record->GetRecordBufferPtr());
      table_.DataFile().PutRecord(record);
      return row;
    }
  }

  // Every live record by physical scan.
  std::map<std::int32_t, QuotaRow> LiveRecords() {
    TReadLockScope scope(table_);
    std::map<std::int32_t, QuotaRow> rows;
    const std::int32_t last = table_.DataFile().Header().NextRecordNumber - 1;
    for (std::int32_t n = 1; n <= last; ++n) {
      TRecord* record = nullptr;
      if (!table_.DataFile().GetRecord(&client_, n, record, {.ReadAhead = true})) {
        rows.clear();
        n = 0;
        continue;
      }
      if (!record->GetIsDeleted()) rows[n] = RowOf(record->GetRecordBufferPtr());
      table_.DataFile().PutRecord(record);
    }
    return rows;
  }

  // Every (key ID, record number) of the primary index in index order.
  std::vector<std::pair<std::int32_t, std::int32_t>> IndexEntries() {
    TReadLockScope scope(table_);
    std::vector<std::pair<std::int32_t, std::int32_t>> entries;
    TIndexPath path;
    TBTree tree(table_.IndexFile(), &client_, 0, *Comparator(0), path);
    tree.ScanKeys([&](const std::uint8_t* key, std::int32_t number) {
      // The key is the presence byte and the flipped integer.
      const std::uint32_t flipped = (std::uint32_t{key[1]} << 24) | (std::uint32_t{key[2]} << 16) |
                                    (std::uint32_t{key[3]} << 8) | key[4];
      entries.emplace_back(static_cast<std::int32_t>(flipped ^ 0x80000000u), number);
      return true;
    });
    return entries;
  }

  static QuotaRow RowOf(const std::uint8_t* record) {
    QuotaRow row;
    row.Id = LoadInt32(record + kIdOffset + 1);
    row.Name = reinterpret_cast<const char*>(record + kNameOffset + 1);
    row.Used = LoadInt32(record + kUsedOffset + 1);
    return row;
  }

 private:
  // Finds the row with this ID, takes its record lock (checking for changes under
  // the read lock, which must be gone again before the write lock is taken), and
  // runs edit on the record and a copy of its bytes under the write lock, starting
  // over when change detection drops the caches; the change is then committed.
  template <typename F>
  void EditUnderRecordLock(std::int32_t id, F&& edit) {
    const std::int32_t number = Find(id);
    if (number <= 0) RaiseError(TARN_RECNOTFOUND);
    {
      TReadLockScope check(table_);
      table_.UserWriteLockRecord(number);
    }
    TRecordLockRelease release(table_, number);
    for (;;) {
      TWriteLockScope scope(table_);
      TRecord* record = nullptr;
      if (!table_.DataFile().GetRecord(&client_, number, record)) continue;
      std::vector<std::uint8_t> bytes(record->GetRecordBufferPtr(),
                                      record->GetRecordBufferPtr() + table_.DataFile().GetRecordSize());
      edit(*record, bytes, number);
      table_.DataFile().PutRecord(record);
      scope.Commit();
      return;
    }
  }

  // The record's keys leave, or enter, every index (TARN_KEYVIOL when a unique
  // index already holds one).
  void RemoveKeys(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t slot = 0; slot <= table_.IndexFile().GetIndexCount(); ++slot) {
      std::vector<std::uint8_t> key = KeyOf(bytes, slot);
      TIndexPath path;
      TBTree tree(table_.IndexFile(), &client_, slot, *Comparator(slot), path);
      tree.RemoveIndexKey(key.data());
    }
  }
  void AddKeys(const std::vector<std::uint8_t>& bytes, std::int32_t number) {
    for (std::size_t slot = 0; slot <= table_.IndexFile().GetIndexCount(); ++slot) {
      std::vector<std::uint8_t> key = KeyOf(bytes, slot);
      TIndexPath path;
      TBTree tree(table_.IndexFile(), &client_, slot, *Comparator(slot), path);
      if (tree.CheckForKeyViolation(key.data())) RaiseError(TARN_KEYVIOL);
      tree.AddIndexKey(key.data(), number);
    }
  }

  static void Fill(std::vector<std::uint8_t>& bytes, const QuotaRow& row) {
    bytes[kIdOffset] = 1;
    StoreInt32(&bytes[kIdOffset + 1], row.Id);
    bytes[kNameOffset] = 1;
    std::memset(&bytes[kNameOffset + 1], 0, 21);
    std::memcpy(&bytes[kNameOffset + 1], row.Name.data(), std::min<std::size_t>(row.Name.size(), 20));
    bytes[kUsedOffset] = 1;
    StoreInt32(&bytes[kUsedOffset + 1], row.Used);
  }

  // The key layout and comparator of an index slot, made on first use.
  struct TSlotKeys {
    TKeyLayout Layout;
    std::unique_ptr<TLayoutKeyComparator> Comparator;
  };
  TSlotKeys& Keys(std::size_t slot) {
    TSlotKeys& keys = keys_[slot];
    if (!keys.Comparator) {
      keys.Layout = MakeIndexKeyLayout(table_.IndexFile().Header().Slots[slot], table_.DataFile().Fields(), slot,
                                       table_.DataFile().GetLanguageID(), table_.DataFile().GetSortID());
      keys.Comparator = std::make_unique<TLayoutKeyComparator>(keys.Layout);
    }
    return keys;
  }
  const TLayoutKeyComparator* Comparator(std::size_t slot) { return Keys(slot).Comparator.get(); }

  std::vector<std::uint8_t> KeyOf(const std::vector<std::uint8_t>& record, std::size_t slot) {
    const TKeyLayout& layout = Keys(slot).Layout;
    std::vector<std::uint8_t> key(layout.KeySize(), 0);
    BuildIndexKey(layout, record, key);
    return key;
  }

  TDataTable& table_;
  TableClient client_;
  std::map<std::size_t, TSlotKeys> keys_;
};

// A temporary database directory for one test.
class TempDirectory {
 public:
  TempDirectory() {
    char pattern[] = "/tmp/tarn-tables-XXXXXX";
    path_ = mkdtemp(pattern);
    path_ += '/';
  }
  ~TempDirectory() { std::filesystem::remove_all(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// One data session with the directory open.
struct SessionOn {
  explicit SessionOn(const std::string& path, bool strict = false) : session(false), directory(nullptr) {
    session.SetStrictChangeDetection(strict);
    session.SetLockRetries(2);
    session.SetLockWait(1);
    directory = &session.OpenDataDirectory("", path);
  }
  TDataTable& Open(const std::string& name, bool exclusive = false) { return Open(name, {.Exclusive = exclusive}); }
  TDataTable& Open(const std::string& name, const TOpenTableOptions& options) {
    TDataTable* table = nullptr;
    if (int result = directory->OpenDataTable(name, table, options); result < 0)
      RaiseError(static_cast<TarnErrorCode>(-result));
    return *table;
  }
  TDataSession session;
  TDataDirectory* directory;
};

inline void CreateQuotaTable(const std::string& path, const std::string& name, const TTableDefinition& definition) {
  SessionOn s(path);
  TDataTable* table = nullptr;
  if (int result = s.directory->CreateDataTable(name, definition, table); result < 0)
    RaiseError(static_cast<TarnErrorCode>(-result));
}

inline void CreateQuotaTable(const std::string& path, const std::string& name, bool withBlob = false) {
  CreateQuotaTable(path, name, QuotaDefinition(withBlob));
}

}  // namespace tarn::testing
