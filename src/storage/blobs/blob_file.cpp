// The BLOB file handler: header, block cache, free-block list and chain
// freeing.
#include "storage/blobs/blob_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>

#include "storage/files/cache_io.h"
#include "storage/files/header_io.h"
#include "storage/formats/check_header.h"
#include "storage/formats/data_header.h"
#include "storage/formats/record_layout.h"
#include "storage/formats/scrambling.h"
#include "storage/formats/update_stamp.h"

namespace tarn {

namespace {

// Cache budget per table and bytes per read-ahead.
constexpr std::size_t kCacheBytes = 32768;
constexpr std::size_t kMaxCacheBuffers = 8192;
constexpr std::size_t kReadAheadBytes = 16384;

// The BLOB header for the shared header code, scrambled as a whole when the table is.
struct TBlobHeaderCodec {
  using THeader = TBlobHeader;
  static constexpr std::size_t Size = kBlobHeaderSize;
  bool Encrypted = false;
  THeader Decode(std::span<const std::uint8_t, Size> image) const { return ReadBlobHeader(image, Encrypted); }
  std::array<std::uint8_t, Size> Encode(const THeader& header) const { return BlobHeaderBytes(header, Encrypted); }
  void AdvanceStamp(THeader& header) const { AdvanceUpdateStamp(header); }
  void PrepareWrite(THeader& header) const { PrepareBlobHeaderWrite(header); }
  // Scrambling goes byte by byte from the image's start, so the first four
  // bytes descramble alone.
  std::int32_t DecodeStamp(std::array<std::uint8_t, 4> stored) const {
    static_assert(Size % 0x10000 != 0, "a scrambled image of this size would stay plain");
    if (Encrypted) DecryptBuffer(stored.data(), stored.size(), kRecordSeeds);
    return LoadInt32(stored.data());
  }
};

}  // namespace

TBlobFile::TBlobFile()
    : cache_(kBlockPoolSize, kBlockCacheGrowStep, TARN_MEMOCORRUPT,
             [this] { return std::make_unique<TBlock>(*this); }) {
  SetCacheParameters();
}

TBlobFile::~TBlobFile() {
  cache_.FreeAll();
  TFileHandler::CloseFile();
}

void TBlobFile::SetContextNames(std::string tableName, std::string databaseName) {
  tableName_ = std::move(tableName);
  databaseName_ = std::move(databaseName);
  cache_.SetTableName(std::string(Context().TableName));
}

TTableContext TBlobFile::Context() const noexcept {
  return TTableContext{databaseName_, tableName_.empty() ? std::string_view(FileName()) : tableName_};
}

void TBlobFile::RaiseBlobError(TarnErrorCode code) const { RaiseTableError(code, Context()); }

void TBlobFile::SetBlockSize(std::int32_t blockSize) {
  const std::int32_t size = blockSize == 0 ? kDefaultBlobBlockSize : blockSize;
  if (size < kMinBlobBlockSize || size > kMaxBlobBlockSize) RaiseBlobError(TARN_HEADERCORRUPT);
  if (size != blockSize_) {
    // Cached blocks have the old size.
    cache_.FreeAll();
    ++generation_;
  }
  blockSize_ = size;
  SetCacheParameters();
}

void TBlobFile::SetCacheParameters() noexcept {
  const std::size_t size = static_cast<std::size_t>(blockSize_);
  nominalCapacity_ = std::max<std::size_t>(std::min(kCacheBytes / size, kMaxCacheBuffers), 1);
  cache_.SetCapacity(std::max(nominalCapacity_, cache_.Count()));
  readAheadLimit_ = std::max<std::int32_t>(static_cast<std::int32_t>(kReadAheadBytes / size), 1);
  cache_.SetTableName(std::string(Context().TableName));
}

void TBlobFile::ResetState() noexcept {
  cache_.FreeAll();
  ++generation_;
  takenFromFreeList_.clear();
  readFirst_ = readCount_ = 0;
}

void TBlobFile::OpenFile() {
  TFileHandler::OpenFile();
  try {
    ResetState();
    ReadHeader();
    SetCacheParameters();
    cache_.Statistics() = {};
  } catch (...) {
    CloseFile();
    throw;
  }
}

void TBlobFile::CloseFile() {
  ResetState();
  TFileHandler::CloseFile();
}

void TBlobFile::CreateFile() {
  TFileHandler::CreateFile();
  ResetState();
  header_ = CreateBlobHeader();
  SetCacheParameters();
  cache_.Statistics() = {};
}

void TBlobFile::ReadHeader() {
  header_ = THeaderIO<TBlobHeaderCodec>(*this, link_, {encrypted_}).Read();
  // The free list may have been rebuilt elsewhere.
  takenFromFreeList_.clear();
}

bool TBlobFile::WriteHeader(bool force) {
  return THeaderIO<TBlobHeaderCodec>(*this, link_, {encrypted_}).Write(header_, force);
}

void TBlobFile::UpdateHeaderStamp() { THeaderIO<TBlobHeaderCodec>(*this, link_, {encrypted_}).UpdateStamp(header_); }

void TBlobFile::ClearHeader() {
  ResetState();
  {
    TFileHandlerLock lock(*this);
    Seek(0, static_cast<std::int64_t>(kBlobHeaderSize));
    Write(nullptr, 0);
  }
  if (link_ != nullptr && link_->ForceBufferFlush()) Flush();
  ClearBlobHeaderCounters(header_);
}

void TBlobFile::CheckHeader() const { CheckBlobHeader(header_, Context()); }

void TBlobFile::CheckHeaderVersion() const { CheckBlobHeaderVersion(header_, Context()); }

void TBlobFile::SetNextFreeBlockNumber(std::int32_t n) noexcept {
  header_.NextFreeBlockNumber = n;
  header_.HeaderChanged = 1;
}

bool TBlobFile::CheckForChanges() {
  return StoredStampShowsChange(
      header_, [this] { return THeaderIO<TBlobHeaderCodec>(*this, link_, {encrypted_}).ReadStoredStamp(); },
      [this] { ReadHeader(); });
}

TBlock* TBlobFile::NewCacheBuffer(std::int32_t n) {
  return cache_.Acquire(n, [this] { return FlushBlockBuffers(); }, MayWriteToMakeRoom());
}

bool TBlobFile::GetBlock(TCacheClient* cursor, std::int32_t n, TBlock*& block, std::int32_t readAheadCount,
                         bool readAhead) {
  block = nullptr;
  if (n <= 0 || n > header_.NextBlockNumber) RaiseBlobError(TARN_MEMOCORRUPT);

  if (n == header_.NextBlockNumber) {
    const std::uint64_t end = kBlobHeaderSize + static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(blockSize_);
    if (n > kMaxBlobBlocks || end > kMaxBlobFileSize) RaiseBlobError(TARN_TABLEFULL);
    TBlock* buffer = NewCacheBuffer(n);
    ++cache_.Statistics().Hits;
    header_.NextBlockNumber = n + 1;
    header_.HeaderChanged = 1;
    // The new block must reach the file even when it stays empty, or the
    // file would end before the blocks its header counts.
    buffer->SetDirty(true);
    buffer->IncUseCount();
    block = buffer;
    return true;
  }

  if (TBlock* cached = cache_.Find(n)) {
    cached->IncUseCount();
    block = cached;
    return true;
  }

  if (cursor != nullptr && (link_ == nullptr || !link_->StrictChangeDetection())) {
    if (cursor->ReadLockForCache()) return false;
  }
  std::int32_t count = 1;
  if (readAhead) {
    count = std::min({readAheadLimit_, readAheadCount, header_.NextBlockNumber - n});
    count = std::max(count, 1);
  }
  ReadBlockBuffers(n, count);

  TBlock* buffer = cache_.Use(n);
  if (buffer == nullptr) RaiseBlobError(TARN_MEMOCORRUPT);
  buffer->IncUseCount();
  block = buffer;
  return true;
}

void TBlobFile::ReadBlockBuffers(std::int32_t n, std::int32_t count) {
  ++cache_.Statistics().Misses;
  const std::size_t size = static_cast<std::size_t>(blockSize_);
  const std::int64_t bytes = static_cast<std::int64_t>(count) * static_cast<std::int64_t>(size);
  GrowFileBuffer(readBuffer_, readCapacity_, bytes);

  readFirst_ = n;
  readCount_ = count;
  struct TClearRange {
    TBlobFile& file;
    ~TClearRange() { file.readFirst_ = file.readCount_ = 0; }
  } clearRange{*this};
  std::int64_t got = 0;
  {
    TFileHandlerLock lock(*this);
    Seek(0, static_cast<std::int64_t>(BlockPosition(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(size))));
    got = Read(readBuffer_.get(), bytes, true);
  }
  ++cache_.Statistics().Reads;

  std::int32_t blocks = static_cast<std::int32_t>(std::max<std::int64_t>(got, 0) / static_cast<std::int64_t>(size));
  if (blocks == 0) {
    // The requested block is not in the file. Blocks appended here but not
    // yet written may lie past its end while the table is held exclusively
    // or under the transaction lock; otherwise the header counts blocks the
    // file does not have.
    if (link_ == nullptr || !link_->ShortReadsAllowed()) RaiseBlobError(TARN_MEMOCORRUPT);
    const std::size_t have = static_cast<std::size_t>(std::max<std::int64_t>(got, 0));
    std::memset(readBuffer_.get() + have, 0, size - have);
    blocks = 1;
  }

  // Blocks read ahead refresh clean unused copies; dirty or held ones keep
  // their contents.
  MergeReadBuffers(cache_, n, blocks, readBuffer_.get(), size,
                   [this](std::int32_t number) { return NewCacheBuffer(number); });
}

void TBlobFile::PutBlock(TBlock* block) noexcept {
  if (block != nullptr) block->DecUseCount();
}

bool TBlobFile::TakenFromFreeList(std::int32_t n) const noexcept {
  const std::size_t word = static_cast<std::size_t>(n) / 64;
  return word < takenFromFreeList_.size() && (takenFromFreeList_[word] >> (static_cast<std::size_t>(n) % 64) & 1u) != 0;
}

void TBlobFile::MarkTakenFromFreeList(std::int32_t n, bool taken) {
  const std::size_t word = static_cast<std::size_t>(n) / 64;
  const std::uint64_t bit = std::uint64_t{1} << (static_cast<std::size_t>(n) % 64);
  if (!taken) {
    if (word < takenFromFreeList_.size()) takenFromFreeList_[word] &= ~bit;
    return;
  }
  if (word >= takenFromFreeList_.size()) takenFromFreeList_.resize(word + 1, 0);
  takenFromFreeList_[word] |= bit;
}

bool TBlobFile::GetNextFreeBlock(TCacheClient* cursor, TBlock*& block) {
  block = nullptr;
  const std::int32_t head = header_.NextFreeBlockNumber;
  // A head beyond the blocks in use, or one handed out already since the
  // header was read (the list runs in a cycle), would give away a live block.
  if (head != 0 && (!CheckBlockNumber(head) || TakenFromFreeList(head))) RaiseBlobError(TARN_MEMOCORRUPT);
  const std::int32_t n = head != 0 ? head : header_.NextBlockNumber;
  TBlockRef ref(*this);
  if (!ref.Get(cursor, n, 1, false)) return false;
  if (head != 0) {
    const std::int32_t link = ref->GetNextBlockNumber();
    if (ref->UseCount() > 1 || link < 0 || link == n || (link != 0 && !CheckBlockNumber(link))) {
      RaiseBlobError(TARN_MEMOCORRUPT);
    }
    SetNextFreeBlockNumber(link);
    MarkTakenFromFreeList(n, true);
  }
  ref->Initialize();
  ref->SetDirty(true);
  block = ref.Detach();  // the caller holds it now
  return true;
}

void TBlobFile::SetNextFreeBlock(TBlock& block) {
  const std::int32_t n = block.Number();
  // Pushing the head again would make it link to itself.
  if (n == header_.NextFreeBlockNumber) RaiseBlobError(TARN_MEMOCORRUPT);
  block.SetNextBlockNumber(header_.NextFreeBlockNumber);
  SetNextFreeBlockNumber(n);
  MarkTakenFromFreeList(n, false);
}

bool TBlobFile::FreeBlobBlocks(TCacheClient* cursor, std::int32_t& firstBlock, bool force,
                               std::int32_t /*recordNumber*/, std::int32_t signature) {
  if (firstBlock == 0) return true;
  if (!CheckBlockNumber(firstBlock)) RaiseBlobError(TARN_MEMOCORRUPT);
  TBlockRef first(*this);
  if (!first.Get(cursor, firstBlock, 1, false)) return false;
  if (first->UseCount() > 1) RaiseBlobError(TARN_MEMOCORRUPT);
  // Read ahead over the blocks the BLOB's length needs.
  const std::int64_t length = first->GetBlobLength();
  const std::int64_t capacity = GetBlockBufferSize();
  const std::int64_t blocks = length > 0 ? (length + capacity - 1) / capacity : 1;
  const auto readAhead = static_cast<std::int32_t>(std::min<std::int64_t>(blocks, readAheadLimit_));
  if (!WalkAndFree(cursor, first.get(), force, signature, readAhead)) return false;
  firstBlock = 0;
  return true;
}

bool TBlobFile::FreeNextBlocks(TCacheClient* cursor, TBlock* block, bool force, std::int32_t /*recordNumber*/,
                               std::int32_t signature, std::int32_t readAheadCount) {
  if (block == nullptr) return true;
  if (block->UseCount() > 1) RaiseBlobError(TARN_MEMOCORRUPT);
  return WalkAndFree(cursor, block, force, signature, readAheadCount);
}

bool TBlobFile::WalkAndFree(TCacheClient* cursor, TBlock* start, bool force, std::int32_t signature,
                            std::int32_t readAheadCount) {
  // With force, blocks still carrying the signature the chain started with
  // (a BLOB rewritten under a new signature) are taken over; a block of any
  // other BLOB means the chain runs into a foreign one.
  const std::int32_t chainSignature = start->GetBlobSignature();
  const auto accept = [&](TBlock& block) {
    const std::int32_t found = block.GetBlobSignature();
    if (found == signature) return;
    if (!force || found != chainSignature) RaiseBlobError(TARN_MEMOCORRUPT);
    block.SetBlobSignature(signature);
  };
  accept(*start);

  std::unordered_set<std::int32_t> visited{start->Number()};
  TBlock* current = start;
  TBlockRef held(*this);
  std::int32_t remaining = readAheadCount;
  for (;;) {
    const std::int32_t next = current->GetNextBlockNumber();
    if (next == 0) break;
    if (!CheckBlockNumber(next) || !visited.insert(next).second) RaiseBlobError(TARN_MEMOCORRUPT);
    remaining = std::max(remaining - 1, 1);
    TBlockRef successor(*this);
    if (!successor.Get(cursor, next, remaining, true)) return false;
    if (successor->UseCount() > 1) RaiseBlobError(TARN_MEMOCORRUPT);
    accept(*successor);
    SetNextFreeBlock(*current);
    held = std::move(successor);
    current = held.get();
  }
  SetNextFreeBlock(*current);
  return true;
}

bool TBlobFile::FlushBlockBuffers() {
  const std::size_t size = static_cast<std::size_t>(blockSize_);
  return WriteBufferRuns<TBlock>(
      *this, DirtyUnusedOutside(cache_, readFirst_, readCount_),
      {.Size = size,
       .Area = [this](std::int64_t bytes) { return GrowFileBuffer(writeBuffer_, writeCapacity_, bytes); },
       .Encode = [](TBlock& block, std::uint8_t* at) { block.Write(at); },
       .Position =
           [size](std::int32_t n) {
             return static_cast<std::int64_t>(
                 BlockPosition(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(size)));
           },
       .RunWritten =
           [this] {
             ++cache_.Statistics().Writes;
             MarkTableChanged();
           }});
}

void TBlobFile::FreeBlockBuffers() {
  cache_.FreeAll();
  ++generation_;
}

void TBlobFile::AdjustBlockBuffers() {
  cache_.Shrink(nominalCapacity_, [this] { return FlushBlockBuffers(); }, MayWriteToMakeRoom());
}

bool TBlobFile::ReadLock(std::uint16_t& token) { return lockMap_.LockRead(*this, token); }

bool TBlobFile::ReadUnlock(std::uint16_t token) { return lockMap_.UnlockRead(*this, token); }

bool TBlobFile::WriteLock() { return lockMap_.LockWrite(*this); }

bool TBlobFile::WriteUnLock() { return lockMap_.UnlockWrite(*this); }

std::unique_ptr<TBlock> TBlobFile::GetNewBlockInstance() {
  std::unique_ptr<TBlock> block = cache_.TakeInstance();
  block->Reset(0);
  return block;
}

void TBlobFile::ReturnBlockInstance(std::unique_ptr<TBlock>& block) { cache_.ReturnInstance(block); }

}  // namespace tarn
