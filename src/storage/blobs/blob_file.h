// TBlobFile: the handler of a table's BLOB file. It owns the BLOB header and
// a cache of blocks (TBlock) through which every block read and write goes;
// it keeps the free-block list and frees whole block chains. Every block
// number, link and length read from the file is checked before use: a damaged
// chain raises TARN_MEMOCORRUPT instead of being followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "storage/formats/blob_header.h"
#include "storage/blobs/block.h"
#include "storage/files/buffer_cache.h"
#include "storage/files/file_handler.h"
#include "storage/files/lock_map.h"
#include "storage/files/resize_buffer.h"
#include "storage/formats/table_context.h"
#include "storage/files/table_link.h"

namespace tarn {

inline constexpr std::int32_t kMaxBlobBlocks = 2000000000;
inline constexpr std::uint64_t kMaxBlobFileSize = 4000000000ull;
inline constexpr std::size_t kBlockPoolSize = 32;
inline constexpr std::size_t kBlockCacheGrowStep = 32;

// Spare block instances of one BLOB file (up to 32 are kept).
using TBlockStack = TInstanceStack<TBlock>;

class TBlobFile : public TFileHandler {
 public:
  TBlobFile();
  ~TBlobFile() override;

  // The shared table (may stay unset for files used on their own: then no
  // locks, no transaction, short reads refused).
  void SetTableLink(TTableLink* link) noexcept { link_ = link; }
  // Names that errors carry (defaults: the file name).
  void SetContextNames(std::string tableName, std::string databaseName);
  // The block size of the data header (0 means 512) and its encrypted flag;
  // set by the table before the file is opened or created. A size outside
  // 64..65535 raises TARN_HEADERCORRUPT.
  void SetBlockSize(std::int32_t blockSize);
  void SetEncrypted(bool encrypted) noexcept { encrypted_ = encrypted; }
  // The lock map used for the read and write lock regions.
  void SetLockMap(const TLockMap& map) noexcept { lockMap_ = map; }

  std::int32_t GetBlockSize() const noexcept { return blockSize_; }
  bool GetEncrypted() const noexcept { return encrypted_; }

  // File and header.
  void OpenFile() override;
  void CloseFile() override;
  // Creates the file with an empty header (written by WriteHeader).
  void CreateFile() override;
  void ReadHeader();
  bool WriteHeader(bool force);
  void UpdateHeaderStamp();
  // Truncates the file after the header, resets the counters, drops the cache.
  void ClearHeader();
  void GetHeader(TBlobHeader& header) const { header = header_; }
  const TBlobHeader& Header() const noexcept { return header_; }
  void CheckHeader() const;
  void CheckHeaderVersion() const;
  bool CheckBlockNumber(std::int64_t n) const noexcept { return tarn::CheckBlockNumber(header_, n); }
  std::int32_t GetNextFreeBlockNumber() const noexcept { return header_.NextFreeBlockNumber; }
  void SetNextFreeBlockNumber(std::int32_t n) noexcept;
  std::int32_t GetPhysicalBlocksUsed() const noexcept { return tarn::GetPhysicalBlocksUsed(header_); }
  // Data bytes per block: block size - 18.
  std::int32_t GetBlockBufferSize() const noexcept { return blockSize_ - static_cast<std::int32_t>(kBlockHeaderSize); }
  std::uint64_t GetFileSize() const noexcept { return GetBlobFileSize(header_, static_cast<std::uint32_t>(blockSize_)); }
  // Re-reads the header (descrambled when encrypted); true when its stamp
  // differs from the one in memory. The new header is kept.
  bool CheckForChanges();

  // Blocks. GetBlock answers block n with its use count raised; false (block
  // null) when taking the table read lock revealed changes made elsewhere
  // (the caches were dropped; the caller starts over). Block 0, a negative
  // number or one past the next block number raise TARN_MEMOCORRUPT; n equal
  // to the next block number appends a block. On a miss up to
  // min(read-ahead limit, readAheadCount) blocks are read forward.
  bool GetBlock(TCacheClient* cursor, std::int32_t n, TBlock*& block, std::int32_t readAheadCount, bool readAhead);
  void PutBlock(TBlock* block) noexcept;
  // A block for new use, initialised empty: the free-list head (checked
  // before reuse) or a new block at the end. False when changes were found.
  bool GetNextFreeBlock(TCacheClient* cursor, TBlock*& block);
  // Pushes the block on the free list.
  void SetNextFreeBlock(TBlock& block);
  // Frees the chain starting at firstBlock and sets firstBlock to 0. Without
  // force every block must carry the signature; with force a block carrying
  // the signature the chain started with gets the signature instead, while a
  // block of any other BLOB stops the walk (TARN_MEMOCORRUPT).
  bool FreeBlobBlocks(TCacheClient* cursor, std::int32_t& firstBlock, bool force, std::int32_t recordNumber,
                      std::int32_t signature);
  // Frees the block (held by the caller, who still puts it) and every block
  // after it in its chain.
  bool FreeNextBlocks(TCacheClient* cursor, TBlock* block, bool force, std::int32_t recordNumber,
                      std::int32_t signature, std::int32_t readAheadCount);

  // Writes the dirty blocks not in use, each run of consecutive block numbers
  // with one write; true when anything was written.
  bool FlushBlockBuffers();
  // Returns every cached block to the pool without writing; block pointers
  // taken before are stale (see CacheGeneration).
  void FreeBlockBuffers();
  // Shrinks the cache back to its nominal capacity.
  void AdjustBlockBuffers();

  // The BLOB file's lock regions: a reader token byte, or the writer range.
  bool ReadLock(std::uint16_t& token);
  bool ReadUnlock(std::uint16_t token);
  bool WriteLock();
  bool WriteUnLock();

  std::unique_ptr<TBlock> GetNewBlockInstance();
  void ReturnBlockInstance(std::unique_ptr<TBlock>& block);
  // Spare block instances of the file (at most 32).
  std::size_t SpareBlockInstances() const noexcept { return cache_.SpareInstances(); }

  // Statistics and cache state.
  const TCacheStatistics& Statistics() const noexcept { return cache_.Statistics(); }
  std::size_t CachedBlockCount() const noexcept { return cache_.Count(); }
  std::size_t CacheCapacity() const noexcept { return cache_.Capacity(); }
  std::size_t NominalCacheCapacity() const noexcept { return nominalCapacity_; }
  std::int32_t ReadAheadLimit() const noexcept { return readAheadLimit_; }
  // Rises whenever the cache is dropped; block pointers taken before are stale.
  std::uint64_t CacheGeneration() const noexcept { return generation_; }

  // Raises code with the table and directory as context.
  [[noreturn]] void RaiseBlobError(TarnErrorCode code) const;

 private:
  TTableContext Context() const noexcept;
  void SetCacheParameters() noexcept;
  void ResetState() noexcept;
  void ReadBlockBuffers(std::int32_t n, std::int32_t count);
  TBlock* NewCacheBuffer(std::int32_t n);
  // Dirty buffers may be written to make room (see TTableLink).
  bool MayWriteToMakeRoom() const { return link_ == nullptr || link_->MayWriteToMakeRoom(); }
  void MarkTableChanged() {
    if (link_ != nullptr) link_->MarkTableChanged();
  }
  // Blocks taken off the free list since the header was last read: taking
  // one of them again means the free list runs in a cycle.
  bool TakenFromFreeList(std::int32_t n) const noexcept;
  void MarkTakenFromFreeList(std::int32_t n, bool taken);
  bool WalkAndFree(TCacheClient* cursor, TBlock* block, bool force, std::int32_t signature,
                   std::int32_t readAheadCount);

  TTableLink* link_ = nullptr;
  std::string tableName_;
  std::string databaseName_;
  TLockMap lockMap_;
  TBlobHeader header_{};
  std::int32_t blockSize_ = 512;
  bool encrypted_ = false;
  TBufferCache<TBlock> cache_;
  std::size_t nominalCapacity_ = 1;
  std::int32_t readAheadLimit_ = 1;
  std::uint64_t generation_ = 0;
  std::vector<std::uint64_t> takenFromFreeList_;
  TBufferPtr readBuffer_;
  std::int64_t readCapacity_ = 0;
  TBufferPtr writeBuffer_;
  std::int64_t writeCapacity_ = 0;
  // The block range being read: [readFirst_, readFirst_ + readCount_).
  std::int32_t readFirst_ = 0;
  std::int32_t readCount_ = 0;
};

// Holds a block between GetBlock and PutBlock; a handle taken before the
// cache was dropped lets the block go without touching it.
class TBlockRef {
 public:
  explicit TBlockRef(TBlobFile& file) : file_(&file) {}
  ~TBlockRef() { Release(); }
  TBlockRef(const TBlockRef&) = delete;
  TBlockRef& operator=(const TBlockRef&) = delete;
  TBlockRef(TBlockRef&& other) noexcept
      : file_(other.file_), block_(std::exchange(other.block_, nullptr)), generation_(other.generation_) {}
  TBlockRef& operator=(TBlockRef&& other) noexcept {
    if (this != &other) {
      Release();
      file_ = other.file_;
      block_ = std::exchange(other.block_, nullptr);
      generation_ = other.generation_;
    }
    return *this;
  }

  // Takes block n (see TBlobFile::GetBlock); false when changes were found.
  bool Get(TCacheClient* cursor, std::int32_t n, std::int32_t readAheadCount, bool readAhead) {
    Release();
    TBlock* block = nullptr;
    if (!file_->GetBlock(cursor, n, block, readAheadCount, readAhead)) return false;
    Adopt(block);
    return true;
  }
  // A block for new use (see TBlobFile::GetNextFreeBlock).
  bool GetNextFree(TCacheClient* cursor) {
    Release();
    TBlock* block = nullptr;
    if (!file_->GetNextFreeBlock(cursor, block)) return false;
    Adopt(block);
    return true;
  }
  // Takes over a block whose use count the caller raised through the file.
  void Adopt(TBlock* block) noexcept {
    Release();
    block_ = block;
    generation_ = file_->CacheGeneration();
  }
  void Release() noexcept {
    if (block_ != nullptr && generation_ == file_->CacheGeneration()) file_->PutBlock(block_);
    block_ = nullptr;
  }
  // Hands the block over without putting it.
  TBlock* Detach() noexcept { return std::exchange(block_, nullptr); }
  // Still valid: taken since the cache was last dropped.
  bool Valid() const noexcept { return block_ != nullptr && generation_ == file_->CacheGeneration(); }
  TBlock* get() const noexcept { return block_; }
  TBlock* operator->() const noexcept { return block_; }
  TBlock& operator*() const noexcept { return *block_; }
  explicit operator bool() const noexcept { return block_ != nullptr; }

 private:
  TBlobFile* file_;
  TBlock* block_ = nullptr;
  std::uint64_t generation_ = 0;
};

}  // namespace tarn
