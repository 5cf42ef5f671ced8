// TDataFile: the handler of a table's data file. It owns the data header and
// the field definitions and a cache of record buffers through which every
// read and write of a record goes; it keeps the free-record list and hands
// out record IDs and BLOB signatures.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/files/buffer_cache.h"
#include "storage/formats/data_header.h"
#include "storage/formats/field_definition.h"
#include "storage/files/file_handler.h"
#include "storage/records/record.h"
#include "storage/records/record_sort.h"
#include "storage/files/resize_buffer.h"
#include "storage/files/table_link.h"

namespace tarn {

inline constexpr std::int32_t kMaxRecordCount = 200000000;
inline constexpr std::uint64_t kMaxDataFileSize = 4000000000ull;
inline constexpr std::size_t kRecordPoolSize = 64;
inline constexpr std::size_t kRecordCacheGrowStep = 64;
inline constexpr std::int32_t kReadForward = 1;
inline constexpr std::int32_t kReadBackward = -1;

// How a record lookup that misses the cache reads.
struct TRecordRead {
  std::int32_t Direction = kReadForward;  // kReadForward or kReadBackward
  bool UseCursorCount = false;            // read ahead as far as the cursor will visit, not the file's limit
  bool ReadAhead = false;                 // read a block of records in Direction, not the record alone
};

class TDataFile : public TFileHandler {
 public:
  TDataFile();
  ~TDataFile() override;

  // The shared table (may stay unset for files used on their own: then no
  // locks, no transaction, short reads refused, a primary index assumed).
  void SetTableLink(TTableLink* link) noexcept { link_ = link; }
  // Names that header errors carry (defaults: the file name).
  void SetContextNames(std::string tableName, std::string databaseName);

  // Header and definitions.
  void CreateDataFile(std::uint16_t languageID, std::uint16_t sortID, std::uint16_t userMajor, std::uint16_t userMinor,
                      bool encrypted, std::string_view password, std::string_view description,
                      std::int32_t blobBlockSize, std::span<const TFieldDefinition> fields);
  void OpenFile() override;
  void CloseFile() override;
  void ReadHeader();
  bool WriteHeader(bool force);
  void UpdateHeaderStamp();
  void ClearHeader();
  void GetHeader(TDataHeader& header) const { header = header_; }
  const TDataHeader& Header() const noexcept { return header_; }
  void UpdateHeader(std::string_view password, std::string_view description, std::int32_t lastRecordID,
                    std::uint16_t userMajor, std::uint16_t userMinor);
  void ReadFields();
  bool WriteFields();
  void CheckHeader();
  void CheckHeaderVersion() const;

  bool GetFieldDefinitionByPos(std::size_t pos, TFieldDefinition& def) const;
  bool GetFieldDefinitionByNumber(std::uint16_t number, TFieldDefinition& def) const;
  bool GetFieldDefinitionByName(std::string_view name, TFieldDefinition& def) const;
  std::uint16_t GetFieldNumber(std::string_view name) const;
  void UpdateFieldDefinitionByPos(std::size_t pos, const TFieldDefinition& def);
  std::span<const TFieldDefinition> Fields() const noexcept { return fields_; }

  std::uint16_t GetRecordSize() const noexcept { return header_.RecordSize; }
  std::uint16_t GetFieldCount() const noexcept { return header_.FieldCount; }
  std::uint16_t GetBlobFieldCount() const noexcept { return header_.BlobFieldCount; }
  std::int32_t GetBlobBlockSize() const noexcept { return EffectiveBlobBlockSize(header_); }
  std::uint16_t GetLanguageID() const noexcept { return header_.LanguageID; }
  std::uint16_t GetSortID() const noexcept { return header_.SortID; }
  std::uint16_t GetUserMajorVersion() const noexcept { return header_.UserMajorVersion; }
  std::uint16_t GetUserMinorVersion() const noexcept { return header_.UserMinorVersion; }
  std::uint8_t GetVersionNum() const noexcept { return header_.VersionNum; }
  double GetLastUpdated() const noexcept { return GetHeaderLastUpdated(header_); }
  std::string GetDescription() const { return GetHeaderDescription(header_); }
  bool GetEncrypted() const noexcept { return header_.Encrypted != 0; }
  std::string GetPassword() const { return GetHeaderPassword(header_); }
  std::int32_t GetLastRecordID() const noexcept { return header_.LastRecordID; }
  std::int32_t GetPhysicalRecordsUsed() const noexcept;
  std::int32_t GetLastUpdateStamp() const noexcept { return header_.LastUpdateStamp; }
  std::uint64_t GetFileSize() const noexcept;

  // Counters.
  std::int32_t GetNextFreeRecordID() noexcept { return tarn::GetNextFreeRecordID(header_); }
  void SetNextFreeRecordID(std::int32_t id) noexcept { tarn::SetNextFreeRecordID(header_, id); }
  std::int32_t GetNextFreeBlobSignature() noexcept { return tarn::GetNextFreeBlobSignature(header_); }

  // Records. GetRecord answers false (record null) when taking the read lock
  // revealed changes by another process; the cursor then starts over.
  bool GetRecord(TCacheClient* cursor, std::int32_t recordNumber, TRecord*& record, const TRecordRead& read = {});
  void PutRecord(TRecord* record) noexcept;
  bool GetNextFreeRecord(TCacheClient* cursor, TRecord*& record);
  void SetNextFreeRecord(TRecord& record);
  std::int32_t GetNextFreeRecordNumber() const noexcept;
  void SetNextFreeRecordNumber(std::int32_t n) noexcept;

  bool FlushRecordBuffers();
  void FreeRecordBuffers();
  void AdjustRecordBuffers();
  bool CheckForChanges();

  // Sorts all records in place (see record_sort.h); answers the records written.
  std::int32_t SortRecordBuffers(std::span<const TFieldDefinition> sortFields, std::int64_t maxRecords,
                                 const TSortCallbacks& callbacks, const TSortOptions& options = {});

  std::unique_ptr<TRecord> GetNewRecordInstance();
  void ReturnRecordInstance(std::unique_ptr<TRecord>& record);
  // Spare record instances of the file (at most 64).
  std::size_t SpareRecordInstances() const noexcept { return cache_.SpareInstances(); }

  // Statistics and cache state.
  const TCacheStatistics& Statistics() const noexcept { return cache_.Statistics(); }
  std::size_t CachedRecordCount() const noexcept { return cache_.Count(); }
  std::size_t CacheCapacity() const noexcept { return cache_.Capacity(); }
  std::size_t NominalCacheCapacity() const noexcept { return nominalCapacity_; }
  std::int32_t ReadAheadLimit() const noexcept { return readAheadLimit_; }

 private:
  friend class TRecordSorter;

  TTableContext Context() const noexcept;
  void SetCacheParameters() noexcept;
  void ReadRecordBuffers(std::int32_t n, std::int32_t count, std::int32_t direction);
  TRecord* NewCacheBuffer(std::int32_t n);
  // Dirty buffers may be written to make room (see TTableLink).
  bool MayWriteToMakeRoom() const { return link_ == nullptr || link_->MayWriteToMakeRoom(); }
  void MarkTableChanged() {
    if (link_ != nullptr) link_->MarkTableChanged();
  }

  TTableLink* link_ = nullptr;
  std::string tableName_;
  std::string databaseName_;
  TDataHeader header_{};
  std::vector<TFieldDefinition> fields_;
  bool fieldsChanged_ = false;
  TBufferCache<TRecord> cache_;
  std::size_t nominalCapacity_ = 0;
  std::int32_t readAheadLimit_ = 1;
  TBufferPtr readBuffer_;
  std::int64_t readCapacity_ = 0;
  TBufferPtr writeBuffer_;
  std::int64_t writeCapacity_ = 0;
  // The block being read: records [readFirst_, readFirst_ + readCount_).
  std::int32_t readFirst_ = 0;
  std::int32_t readCount_ = 0;
};

}  // namespace tarn
