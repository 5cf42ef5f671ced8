// Sorting the records of a data file in place.
#include "storage/records/record_sort.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <queue>
#include <string>
#include <vector>

#include "storage/records/data_file.h"
#include "storage/keys/key_builder.h"
#include "storage/keys/key_compare.h"
#include "storage/keys/key_layout.h"
#include "storage/formats/record_layout.h"
#include "storage/formats/scrambling.h"
#include "storage/files/temp_file.h"

namespace tarn {

namespace {

constexpr std::size_t kMaxRunRecords = 8192;
constexpr std::size_t kRunBytes = 1048576;
constexpr std::size_t kMergeBlockRecords = 64;
constexpr std::size_t kOutputBlockBytes = 65536;

// A temporary run file, closed and deleted when done with.
class TRunFile {
 public:
  TRunFile(const std::string& directory, bool inMemory) {
    handler_.SetInMemory(inMemory);
    handler_.SetExclusive(true);
    CreateTempFile(handler_, directory, ".TMP");
  }
  ~TRunFile() {
    try {
      handler_.CloseFile();
      handler_.DeleteFile();
    } catch (...) {
      // A run file that cannot be removed is left behind; the sort result
      // does not depend on it.
    }
  }
  TRunFile(const TRunFile&) = delete;
  TRunFile& operator=(const TRunFile&) = delete;
  TFileHandler& Handler() noexcept { return handler_; }

 private:
  TFileHandler handler_;
};

}  // namespace

class TRecordSorter {
 public:
  TRecordSorter(TDataFile& file, std::span<const TFieldDefinition> sortFields, std::int64_t maxRecords,
                const TSortCallbacks& callbacks, bool distinct, bool caseInsensitive)
      : file_(file),
        recordSize_(file.GetRecordSize()),
        maxRecords_(maxRecords),
        callbacks_(callbacks),
        distinct_(distinct),
        group_(static_cast<bool>(callbacks.Group)),
        encrypted_(file.GetEncrypted()) {
    std::vector<TKeyField> keyFields;
    for (const TFieldDefinition& def : sortFields) {
      keyFields.push_back(MakeKeyField(def, def.Working.SortDescending));
    }
    layout_ = MakeSortKeyLayout(keyFields, caseInsensitive, file.GetLanguageID(), file.GetSortID());
    keySize_ = layout_.KeySize();
  }

  std::int32_t Run() {
    const std::int32_t records = file_.GetPhysicalRecordsUsed();
    if (AllCached(records)) {
      SortCached(records);
    } else {
      SortExternally(records);
    }
    return Finish(records);
  }

 private:
  // A record and its sort key, side by side in one allocation.
  struct TEntry {
    const std::uint8_t* record;
    const std::uint8_t* key;
  };

  bool AllCached(std::int32_t records) const {
    const auto& sorted = file_.cache_.Sorted();
    if (sorted.size() != static_cast<std::size_t>(records)) return false;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
      if (sorted[i]->Number() != static_cast<std::int32_t>(i + 1)) return false;
    }
    return true;
  }

  bool Less(const std::uint8_t* a, const std::uint8_t* b) const {
    return CompareSortKeys(layout_, a, b, true) < 0;
  }

  // Plain record bytes plus keys for a set of records, sorted by key.
  std::vector<TEntry> SortEntries(const std::uint8_t* records, std::size_t count, std::vector<std::uint8_t>& keys) {
    keys.assign(count * keySize_, 0);
    std::vector<TEntry> entries;
    entries.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* record = records + i * recordSize_;
      if (record[kRecordDeletedOffset] != kRecordLive) continue;
      std::uint8_t* key = keys.data() + i * keySize_;
      BuildSortKey(layout_, {record, recordSize_}, {key, keySize_});
      entries.push_back(TEntry{record, key});
    }
    std::sort(entries.begin(), entries.end(), [this](const TEntry& a, const TEntry& b) { return Less(a.key, b.key); });
    return entries;
  }

  void SortCached(std::int32_t records) {
    // The cached buffers hold plain bytes; copy them out so the output may
    // overwrite the file while they are read.
    std::vector<std::uint8_t> all(static_cast<std::size_t>(records) * recordSize_);
    const auto& sorted = file_.cache_.Sorted();
    for (std::size_t i = 0; i < sorted.size(); ++i) {
      std::memcpy(all.data() + i * recordSize_, sorted[i]->GetRecordBufferPtr(), recordSize_);
    }
    file_.cache_.FreeAll();
    std::vector<std::uint8_t> keys;
    for (const TEntry& entry : SortEntries(all.data(), static_cast<std::size_t>(records), keys)) {
      if (!Output(entry.record, entry.key)) break;
    }
    CloseGroup();
  }

  void SortExternally(std::int32_t records) {
    file_.FlushRecordBuffers();
    file_.cache_.FreeAll();
    const std::size_t perRun = std::max<std::size_t>(1, std::min(kMaxRunRecords, kRunBytes / recordSize_));
    const std::string directory = file_.link_ != nullptr ? file_.link_->PrivateDirectory() : std::string("/tmp/");

    struct TRun {
      std::unique_ptr<TRunFile> file;
      std::size_t count = 0;     // records in the run
      std::size_t next = 0;      // next record to load
      std::vector<std::uint8_t> block;
      std::vector<std::uint8_t> keys;
      std::size_t blockStart = 0, blockCount = 0;
    };
    std::vector<TRun> runs;
    std::vector<std::uint8_t> input(perRun * recordSize_);
    std::vector<std::uint8_t> output(perRun * recordSize_);
    for (std::size_t first = 1; first <= static_cast<std::size_t>(records); first += perRun) {
      const std::size_t count = std::min(perRun, static_cast<std::size_t>(records) - first + 1);
      ReadPlain(static_cast<std::int32_t>(first), count, input.data());
      std::vector<std::uint8_t> keys;
      const std::vector<TEntry> entries = SortEntries(input.data(), count, keys);
      for (std::size_t i = 0; i < entries.size(); ++i) {
        std::memcpy(output.data() + i * recordSize_, entries[i].record, recordSize_);
      }
      if (encrypted_) EncryptRecords(output.data(), entries.size());
      TRun run;
      run.file = std::make_unique<TRunFile>(directory, file_.InMemory());
      run.count = entries.size();
      if (run.count > 0) {
        run.file->Handler().Seek(0, 0);
        run.file->Handler().Write(output.data(), static_cast<std::int64_t>(run.count * recordSize_));
      }
      runs.push_back(std::move(run));
    }
    input.clear();
    input.shrink_to_fit();
    output.clear();
    output.shrink_to_fit();

    // Loads the next record of a run into its block; false at the end.
    auto load = [this](TRun& run) -> bool {
      if (run.next >= run.count) return false;
      if (run.next >= run.blockStart + run.blockCount) {
        run.blockStart = run.next;
        run.blockCount = std::min(kMergeBlockRecords, run.count - run.next);
        run.block.resize(run.blockCount * recordSize_);
        run.keys.resize(run.blockCount * keySize_);
        run.file->Handler().Seek(0, static_cast<std::int64_t>(run.blockStart * recordSize_));
        run.file->Handler().Read(run.block.data(), static_cast<std::int64_t>(run.block.size()));
        if (encrypted_) DecryptRecords(run.block.data(), run.blockCount);
        for (std::size_t i = 0; i < run.blockCount; ++i) {
          BuildSortKey(layout_, {run.block.data() + i * recordSize_, recordSize_},
                       {run.keys.data() + i * keySize_, keySize_});
        }
      }
      ++run.next;
      return true;
    };
    auto current = [this](const TRun& run, bool key) {
      const std::size_t i = run.next - 1 - run.blockStart;
      return key ? run.keys.data() + i * keySize_ : run.block.data() + i * recordSize_;
    };
    auto greater = [&](std::size_t a, std::size_t b) { return Less(current(runs[b], true), current(runs[a], true)); };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(greater)> heap(greater);
    for (std::size_t r = 0; r < runs.size(); ++r) {
      if (load(runs[r])) heap.push(r);
    }
    while (!heap.empty()) {
      const std::size_t r = heap.top();
      heap.pop();
      if (!Output(current(runs[r], false), current(runs[r], true))) break;
      if (load(runs[r])) heap.push(r);
    }
    CloseGroup();
  }

  void ReadPlain(std::int32_t first, std::size_t count, std::uint8_t* bytes) {
    {
      TFileHandlerLock lock(file_);
      file_.Seek(0, static_cast<std::int64_t>(RecordPosition(static_cast<std::uint32_t>(first),
                                                             file_.fields_.size(), recordSize_)));
      file_.Read(bytes, static_cast<std::int64_t>(count * recordSize_));
    }
    ++file_.cache_.Statistics().Reads;
    if (encrypted_) DecryptRecords(bytes, count);
  }
  void EncryptRecords(std::uint8_t* bytes, std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) EncryptBuffer(bytes + i * recordSize_, recordSize_, kRecordSeeds);
  }
  void DecryptRecords(std::uint8_t* bytes, std::size_t count) const { EncryptRecords(bytes, count); }

  bool LimitReached() const { return maxRecords_ >= 0 && static_cast<std::int64_t>(written_) >= maxRecords_; }

  // Takes the next record in order; false when output stops.
  bool Output(const std::uint8_t* record, const std::uint8_t* key) {
    if (group_) return OutputGrouped(record, key);
    if (distinct_ && havePrevious_ && CompareSortKeys(layout_, key, previousKey_.data(), false) == 0) return true;
    Remember(key);
    Write(record);
    return !LimitReached();
  }

  bool OutputGrouped(const std::uint8_t* record, const std::uint8_t* key) {
    // The callbacks may change the record they are given, so they get a copy
    // (kept in one buffer that changes places with the group's).
    copy_.assign(record, record + recordSize_);
    if (!havePrevious_) {
      std::swap(groupRecord_, copy_);
      callbacks_.Group(true, groupRecord_.data(), groupRecord_.data());
      Remember(key);
      return true;
    }
    if (CompareSortKeys(layout_, key, previousKey_.data(), false) == 0) {
      callbacks_.Group(false, copy_.data(), groupRecord_.data());
      return true;
    }
    callbacks_.Group(true, groupRecord_.data(), copy_.data());
    // A group counts once it is complete, so the limit is checked here.
    if (CloseGroup() && LimitReached()) {
      groupRecord_.clear();
      return false;
    }
    std::swap(groupRecord_, copy_);
    Remember(key);
    return true;
  }

  // Closes the open group: averages, the having test, then the group record
  // is written when accepted. Answers whether it was written.
  bool CloseGroup() {
    if (!group_ || groupRecord_.empty()) return false;
    if (callbacks_.Average) callbacks_.Average(groupRecord_.data());
    const bool accepted = !callbacks_.Having || callbacks_.Having(groupRecord_.data());
    if (accepted) Write(groupRecord_.data());
    groupRecord_.clear();
    return accepted;
  }

  void Remember(const std::uint8_t* key) {
    previousKey_.assign(key, key + keySize_);
    havePrevious_ = true;
  }

  // Appends a record to the output, renumbered; the write buffer goes to
  // disk whenever it is full.
  void Write(const std::uint8_t* record) {
    if (outBuffer_.empty()) outBuffer_.reserve(std::max<std::size_t>(recordSize_, kOutputBlockBytes));
    const std::size_t at = outBuffer_.size();
    outBuffer_.insert(outBuffer_.end(), record, record + recordSize_);
    ++written_;
    StoreInt32(outBuffer_.data() + at + kRecordNumberOffset, written_);
    if (encrypted_) EncryptBuffer(outBuffer_.data() + at, recordSize_, kRecordSeeds);
    if (outBuffer_.size() + recordSize_ > std::max<std::size_t>(recordSize_, kOutputBlockBytes)) FlushOutput();
  }

  void FlushOutput() {
    if (outBuffer_.empty()) return;
    const std::size_t count = outBuffer_.size() / recordSize_;
    {
      TFileHandlerLock lock(file_);
      file_.Seek(0, static_cast<std::int64_t>(RecordPosition(static_cast<std::uint32_t>(outFirst_),
                                                             file_.fields_.size(), recordSize_)));
      file_.Write(outBuffer_.data(), static_cast<std::int64_t>(outBuffer_.size()));
    }
    ++file_.cache_.Statistics().Writes;
    file_.MarkTableChanged();
    outFirst_ += static_cast<std::int32_t>(count);
    outBuffer_.clear();
  }

  std::int32_t Finish(std::int32_t records) {
    FlushOutput();
    if (written_ != records) {
      // Duplicates, groups, a limit or deleted records shrank the file.
      {
        TFileHandlerLock lock(file_);
        file_.Seek(0, static_cast<std::int64_t>(RecordPosition(static_cast<std::uint32_t>(written_ + 1),
                                                               file_.fields_.size(), recordSize_)));
        file_.Write(nullptr, 0);
      }
      file_.header_.NextRecordNumber = written_ + 1;
      file_.header_.NextFreeRecordNumber = 0;
      file_.header_.HeaderChanged = 1;
      if (file_.link_ != nullptr) file_.link_->SetActualRecordCount(written_);
    }
    return written_;
  }

  TDataFile& file_;
  std::size_t recordSize_;
  std::int64_t maxRecords_;
  const TSortCallbacks& callbacks_;
  bool distinct_;
  bool group_;
  bool encrypted_;
  TKeyLayout layout_;
  std::size_t keySize_ = 0;
  std::vector<std::uint8_t> previousKey_;
  bool havePrevious_ = false;
  std::vector<std::uint8_t> groupRecord_;
  std::vector<std::uint8_t> copy_;
  std::vector<std::uint8_t> outBuffer_;
  std::int32_t outFirst_ = 1;
  std::int32_t written_ = 0;
};

std::int32_t SortDataFile(TDataFile& file, std::span<const TFieldDefinition> sortFields, std::int64_t maxRecords,
                          const TSortCallbacks& callbacks, const TSortOptions& options) {
  if (file.GetRecordSize() < kRecordHeaderSize) return 0;
  TRecordSorter sorter(file, sortFields, maxRecords, callbacks, options.Distinct, options.CaseInsensitive);
  return sorter.Run();
}

}  // namespace tarn
