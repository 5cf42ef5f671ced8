// The data file handler: header, definitions, record cache and free list.
#include "storage/records/data_file.h"

#include <algorithm>
#include <ctime>

#include "platform/code_page.h"
#include "storage/files/cache_io.h"
#include "storage/files/header_io.h"
#include "storage/formats/check_header.h"
#include "storage/formats/object_names.h"
#include "storage/formats/record_layout.h"
#include "storage/formats/update_stamp.h"

namespace tarn {

namespace {

// Cache budget per table and bytes per read-ahead.
constexpr std::size_t kCacheBytes = 16384;
constexpr std::size_t kMaxCacheBuffers = 8192;
constexpr std::size_t kReadAheadBytes = 8192;

// Local date and time as days since 1899-12-30 (fraction = time of day).
double NowAsDays() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm local{};
  const std::time_t seconds = ts.tv_sec;
  localtime_r(&seconds, &local);
  // Days from 1970-01-01 of the local civil date.
  const int y = local.tm_year + 1900 - (local.tm_mon < 2 ? 1 : 0);
  const int m = local.tm_mon + 1;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + local.tm_mday - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days1970 = static_cast<long>(era) * 146097 + doe - 719468;
  const double timeOfDay =
      (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ts.tv_nsec / 1e9) / 86400.0;
  return static_cast<double>(days1970 + 25569) + timeOfDay;  // 1970-01-01 is day 25,569
}

// The data header for the shared header code; it is never scrambled as a whole.
struct TDataHeaderCodec {
  using THeader = TDataHeader;
  static constexpr std::size_t Size = kDataHeaderSize;
  THeader Decode(std::span<const std::uint8_t, Size> image) const { return ReadDataHeader(image); }
  std::array<std::uint8_t, Size> Encode(const THeader& header) const { return DataHeaderBytes(header); }
  void AdvanceStamp(THeader& header) const { AdvanceUpdateStamp(header); }
  void PrepareWrite(THeader& header) const { PrepareDataHeaderWrite(header, NowAsDays()); }
  std::int32_t DecodeStamp(std::array<std::uint8_t, 4> stored) const { return LoadInt32(stored.data()); }
};

}  // namespace

TDataFile::TDataFile()
    : cache_(kRecordPoolSize, kRecordCacheGrowStep, TARN_FILECORRUPT,
             [this] { return std::make_unique<TRecord>(*this); }) {}

TDataFile::~TDataFile() {
  cache_.FreeAll();
  TFileHandler::CloseFile();
}

void TDataFile::SetContextNames(std::string tableName, std::string databaseName) {
  tableName_ = std::move(tableName);
  databaseName_ = std::move(databaseName);
}

TTableContext TDataFile::Context() const noexcept {
  return TTableContext{databaseName_, tableName_.empty() ? std::string_view(FileName()) : tableName_};
}

void TDataFile::SetCacheParameters() noexcept {
  const std::size_t size = header_.RecordSize;
  nominalCapacity_ = size == 0 ? kMaxCacheBuffers : std::min(kCacheBytes / size, kMaxCacheBuffers);
  // At least one buffer, so a lookup always finds room.
  nominalCapacity_ = std::max<std::size_t>(nominalCapacity_, 1);
  cache_.SetCapacity(nominalCapacity_);
  readAheadLimit_ = size == 0 ? 1 : std::max<std::int32_t>(static_cast<std::int32_t>(kReadAheadBytes / size), 1);
  cache_.SetTableName(std::string(Context().TableName));
}

void TDataFile::CreateDataFile(std::uint16_t languageID, std::uint16_t sortID, std::uint16_t userMajor,
                               std::uint16_t userMinor, bool encrypted, std::string_view password,
                               std::string_view description, std::int32_t blobBlockSize,
                               std::span<const TFieldDefinition> fields) {
  TDataHeaderParams params;
  params.LanguageID = languageID;
  params.SortID = sortID;
  params.UserMajorVersion = userMajor;
  params.UserMinorVersion = userMinor;
  params.Encrypted = encrypted;
  params.Password = password;
  params.Description = description;
  params.BlobBlockSize = blobBlockSize;
  // Limits are checked before the file exists; creating closes any file
  // this handler had open, definitions and cache included.
  const TDataHeader header = CreateDataHeader(params, fields, Context());
  TFileHandler::CreateFile();
  header_ = header;
  fields_.assign(fields.begin(), fields.end());
  for (TFieldDefinition& def : fields_) {
    def.Computed = 0;
    def.Working = {};
  }
  fieldsChanged_ = true;
  cache_.FreeAll();
  SetCacheParameters();
  cache_.Statistics() = {};
}

void TDataFile::OpenFile() {
  TFileHandler::OpenFile();
  try {
    ReadHeader();
    SetCacheParameters();
    CheckFieldCount(header_, Context());
    ReadFields();
    cache_.Statistics() = {};
  } catch (...) {
    CloseFile();
    throw;
  }
}

void TDataFile::CloseFile() {
  fields_.clear();
  fieldsChanged_ = false;
  cache_.FreeAll();
  TFileHandler::CloseFile();
}

void TDataFile::ReadHeader() { header_ = THeaderIO<TDataHeaderCodec>(*this, link_, {}).Read(); }

bool TDataFile::WriteHeader(bool force) { return THeaderIO<TDataHeaderCodec>(*this, link_, {}).Write(header_, force); }

void TDataFile::UpdateHeaderStamp() { THeaderIO<TDataHeaderCodec>(*this, link_, {}).UpdateStamp(header_); }

void TDataFile::ClearHeader() {
  // Nothing cached can outlive the records it came from.
  cache_.FreeAll();
  {
    TFileHandlerLock lock(*this);
    Seek(0, static_cast<std::int64_t>(DataFixedPartSize(fields_.size())));
    Write(nullptr, 0);
  }
  if (link_ != nullptr && link_->ForceBufferFlush()) Flush();
  ClearDataHeaderCounters(header_);
}

void TDataFile::UpdateHeader(std::string_view password, std::string_view description, std::int32_t lastRecordID,
                             std::uint16_t userMajor, std::uint16_t userMinor) {
  UpdateDataHeader(header_, password, description, lastRecordID, userMajor, userMinor);
}

void TDataFile::ReadFields() {
  const std::size_t areaSize = static_cast<std::size_t>(header_.FieldCount) * kFieldDefinitionSize;
  std::vector<std::uint8_t> area(areaSize);
  if (areaSize > 0) {
    TFileHandlerLock lock(*this);
    Seek(0, kDataHeaderSize);
    Read(area.data(), static_cast<std::int64_t>(areaSize));
  }
  fields_ = ReadFieldDefinitions(area, header_.Encrypted != 0);
  fieldsChanged_ = false;
}

bool TDataFile::WriteFields() {
  if (!fieldsChanged_) return false;
  const auto area = WriteFieldDefinitions(fields_, header_.Encrypted != 0);
  if (!area.empty()) {
    TFileHandlerLock lock(*this);
    Seek(0, kDataHeaderSize);
    Write(area.data(), static_cast<std::int64_t>(area.size()));
  }
  fieldsChanged_ = false;
  MarkTableChanged();
  return true;
}

void TDataFile::CheckHeader() {
  CheckDataHeader(header_, fields_, static_cast<std::uint64_t>(std::max<std::int64_t>(GetSize(), 0)), Context());
  SetCacheParameters();
}

void TDataFile::CheckHeaderVersion() const { CheckDataHeaderVersion(header_, Context()); }

bool TDataFile::GetFieldDefinitionByPos(std::size_t pos, TFieldDefinition& def) const {
  if (pos < 1 || pos > fields_.size()) return false;
  def = fields_[pos - 1];
  return true;
}

bool TDataFile::GetFieldDefinitionByNumber(std::uint16_t number, TFieldDefinition& def) const {
  for (const TFieldDefinition& field : fields_) {
    if (field.FieldNumber == number) {
      def = field;
      return true;
    }
  }
  return false;
}

bool TDataFile::GetFieldDefinitionByName(std::string_view name, TFieldDefinition& def) const {
  const std::uint16_t number = GetFieldNumber(name);
  return number != 0 && GetFieldDefinitionByNumber(number, def);
}

std::uint16_t TDataFile::GetFieldNumber(std::string_view name) const {
  for (const TFieldDefinition& field : fields_) {
    if (AnsiSameText(TrimName(field.Name.View()), TrimName(name))) return field.FieldNumber;
  }
  return 0;
}

void TDataFile::UpdateFieldDefinitionByPos(std::size_t pos, const TFieldDefinition& def) {
  if (pos < 1 || pos > fields_.size()) return;
  TFieldDefinition& target = fields_[pos - 1];
  target.FieldNumber = def.FieldNumber;
  target.Name = def.Name;
  target.SubType = def.SubType;
  target.Description = def.Description;
  target.Required = def.Required;
  target.MinValue = def.MinValue;
  target.MaxValue = def.MaxValue;
  target.DefaultValue = def.DefaultValue;
  fieldsChanged_ = true;
}

std::int32_t TDataFile::GetPhysicalRecordsUsed() const noexcept {
  return header_.NextRecordNumber > 0 ? header_.NextRecordNumber - 1 : 0;
}

std::uint64_t TDataFile::GetFileSize() const noexcept {
  return DataFixedPartSize(header_.FieldCount) +
         static_cast<std::uint64_t>(GetPhysicalRecordsUsed()) * header_.RecordSize;
}

TRecord* TDataFile::NewCacheBuffer(std::int32_t n) {
  return cache_.Acquire(n, [this] { return FlushRecordBuffers(); }, MayWriteToMakeRoom());
}

bool TDataFile::GetRecord(TCacheClient* cursor, std::int32_t recordNumber, TRecord*& record, const TRecordRead& read) {
  const std::int32_t direction = read.Direction;
  record = nullptr;
  if (recordNumber <= 0) Raise(TARN_FILECORRUPT);
  const std::int32_t n = recordNumber;

  if (n == header_.NextRecordNumber) {
    const std::uint64_t end = DataFixedPartSize(header_.FieldCount) +
                              static_cast<std::uint64_t>(n) * header_.RecordSize;
    if (n > kMaxRecordCount || end > kMaxDataFileSize) Raise(TARN_TABLEFULL);
    TRecord* buffer = NewCacheBuffer(n);
    StoreInt32(buffer->GetRecordBufferPtr() + kRecordNumberOffset, n);
    ++cache_.Statistics().Hits;
    header_.NextRecordNumber = n + 1;
    header_.HeaderChanged = 1;
    buffer->IncUseCount();
    record = buffer;
    return true;
  }

  if (TRecord* cached = cache_.Find(n)) {
    cached->IncUseCount();
    record = cached;
    return true;
  }

  if (cursor != nullptr && (link_ == nullptr || !link_->StrictChangeDetection())) {
    if (cursor->ReadLockForCache()) return false;
  }
  std::int32_t count = 1;
  if (read.ReadAhead) {
    if (read.UseCursorCount && cursor != nullptr) {
      count = std::min(cursor->ReadAheadCount(), readAheadLimit_);
    } else {
      count = readAheadLimit_;
    }
    const std::int32_t available = direction == kReadForward ? header_.NextRecordNumber - n : n;
    count = std::max(1, std::min(count, available));
  }
  ReadRecordBuffers(n, count, direction);

  TRecord* buffer = cache_.Use(n);
  if (buffer == nullptr) Raise(TARN_FILECORRUPT);
  buffer->IncUseCount();
  record = buffer;
  return true;
}

void TDataFile::ReadRecordBuffers(std::int32_t n, std::int32_t count, std::int32_t direction) {
  ++cache_.Statistics().Misses;
  const std::size_t size = header_.RecordSize;
  if (size == 0) Raise(TARN_FILECORRUPT);
  const std::int32_t first = direction == kReadForward ? n : std::max(1, n - count + 1);
  count = direction == kReadForward ? count : n - first + 1;
  const std::int64_t bytes = static_cast<std::int64_t>(count) * static_cast<std::int64_t>(size);
  GrowFileBuffer(readBuffer_, readCapacity_, bytes);

  const bool allowShort = link_ != nullptr && link_->ShortReadsAllowed();
  std::int64_t got = 0;
  readFirst_ = first;
  readCount_ = count;
  struct TClearBlock {
    TDataFile& file;
    ~TClearBlock() { file.readFirst_ = file.readCount_ = 0; }
  } clearBlock{*this};
  {
    TFileHandlerLock lock(*this);
    Seek(0, static_cast<std::int64_t>(RecordPosition(static_cast<std::uint32_t>(first), fields_.size(), size)));
    got = Read(readBuffer_.get(), bytes, allowShort);
  }
  ++cache_.Statistics().Reads;

  const std::int32_t records = static_cast<std::int32_t>(std::max<std::int64_t>(got, 0) / static_cast<std::int64_t>(size));
  MergeReadBuffers(cache_, first, records, readBuffer_.get(), size,
                   [this](std::int32_t number) { return NewCacheBuffer(number); });
}

void TDataFile::PutRecord(TRecord* record) noexcept {
  if (record != nullptr) record->DecUseCount();
}

std::int32_t TDataFile::GetNextFreeRecordNumber() const noexcept {
  const bool primary = link_ == nullptr || link_->HasPrimaryIndex();
  if (!primary || header_.NextFreeRecordNumber == 0) return header_.NextRecordNumber;
  return header_.NextFreeRecordNumber;
}

void TDataFile::SetNextFreeRecordNumber(std::int32_t n) noexcept {
  header_.NextFreeRecordNumber = n;
  header_.HeaderChanged = 1;
}

bool TDataFile::GetNextFreeRecord(TCacheClient* cursor, TRecord*& record) {
  const std::int32_t n = GetNextFreeRecordNumber();
  const bool appended = n == header_.NextRecordNumber;
  if (!appended && (n < 1 || n > GetPhysicalRecordsUsed())) Raise(TARN_FILECORRUPT);
  if (!GetRecord(cursor, n, record)) return false;
  if (appended) {
    SetNextFreeRecordNumber(0);
    return true;
  }
  // The head of the free list must be a deleted record whose link stays
  // within the file; a live record here would be overwritten.
  const std::int32_t link = record->GetNextFreeRecord();
  if (!record->GetIsDeleted() || link < 0 || link > GetPhysicalRecordsUsed() || link == n) {
    PutRecord(record);
    record = nullptr;
    Raise(TARN_FILECORRUPT);
  }
  SetNextFreeRecordNumber(link);
  return true;
}

void TDataFile::SetNextFreeRecord(TRecord& record) {
  record.SetIsDeleted(true);
  record.SetNextFreeRecord(header_.NextFreeRecordNumber);
  SetNextFreeRecordNumber(record.Number());
}

bool TDataFile::FlushRecordBuffers() {
  const std::size_t size = header_.RecordSize;
  return WriteBufferRuns<TRecord>(
      *this, DirtyUnusedOutside(cache_, readFirst_, readCount_),
      {.Size = size,
       .Area = [this](std::int64_t bytes) { return GrowFileBuffer(writeBuffer_, writeCapacity_, bytes); },
       .Encode = [](TRecord& record, std::uint8_t* at) { record.Write(at); },
       .Position =
           [this, size](std::int32_t n) {
             return static_cast<std::int64_t>(RecordPosition(static_cast<std::uint32_t>(n), fields_.size(), size));
           },
       .RunWritten =
           [this] {
             ++cache_.Statistics().Writes;
             MarkTableChanged();
           }});
}

void TDataFile::FreeRecordBuffers() { cache_.FreeAll(); }

void TDataFile::AdjustRecordBuffers() {
  cache_.Shrink(nominalCapacity_, [this] { return FlushRecordBuffers(); }, MayWriteToMakeRoom());
}

bool TDataFile::CheckForChanges() {
  return StoredStampShowsChange(
      header_, [this] { return THeaderIO<TDataHeaderCodec>(*this, link_, {}).ReadStoredStamp(); },
      [this] { ReadHeader(); });
}

std::int32_t TDataFile::SortRecordBuffers(std::span<const TFieldDefinition> sortFields, std::int64_t maxRecords,
                                          const TSortCallbacks& callbacks, const TSortOptions& options) {
  return SortDataFile(*this, sortFields, maxRecords, callbacks, options);
}

std::unique_ptr<TRecord> TDataFile::GetNewRecordInstance() {
  std::unique_ptr<TRecord> record = cache_.TakeInstance();
  record->Reset(0);
  return record;
}

void TDataFile::ReturnRecordInstance(std::unique_ptr<TRecord>& record) { cache_.ReturnInstance(record); }

}  // namespace tarn
