// One open BLOB of a cursor: reading, writing and removing its chain.
#include "storage/blobs/blob_buffer.h"

#include <algorithm>
#include <limits>

namespace tarn {

TBlobBuffer::TBlobBuffer(TBlobFile& file, TCacheClient* client, std::int32_t recordNumber,
                         std::uint16_t fieldNumber, std::int32_t firstBlock, std::int32_t signature,
                         std::uint8_t openMode)
    : file_(file),
      client_(client),
      recordNumber_(recordNumber),
      fieldNumber_(fieldNumber),
      firstBlock_(firstBlock),
      signature_(signature),
      openSignature_(signature),
      openMode_(openMode) {}

void TBlobBuffer::SetSize(std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    file_.RaiseBlobError(TARN_INVALIDBLOBLEN);
  }
  data_.resize(size, 0);
  modified_ = true;
}

std::int32_t TBlobBuffer::BlocksFor(std::size_t bytes) const noexcept {
  const std::size_t capacity = static_cast<std::size_t>(file_.GetBlockBufferSize());
  const std::size_t blocks = std::max<std::size_t>((bytes + capacity - 1) / capacity, 1);
  return static_cast<std::int32_t>(std::min<std::size_t>(blocks, std::numeric_limits<std::int32_t>::max()));
}

void TBlobBuffer::CheckLink(std::int32_t n, std::unordered_set<std::int32_t>& visited) const {
  // A link outside the file, or back into the chain, is a damaged chain.
  if (!file_.CheckBlockNumber(n) || !visited.insert(n).second) file_.RaiseBlobError(TARN_MEMOCORRUPT);
}

void TBlobBuffer::CheckOwnBlock(const TBlock& block) const {
  const std::int32_t found = block.GetBlobSignature();
  if (found != openSignature_ && found != signature_) file_.RaiseBlobError(TARN_MEMOCORRUPT);
  if (block.UseCount() > 1) file_.RaiseBlobError(TARN_MEMOCORRUPT);
}

void TBlobBuffer::Read() {
  // A restart happens only when the read lock found changes; the lock is then
  // held, so the next attempt sees a stable file.
  while (!TryRead()) {
  }
  modified_ = false;
}

bool TBlobBuffer::TryRead() {
  if (firstBlock_ == 0) {
    data_.clear();
    return true;
  }
  if (!file_.CheckBlockNumber(firstBlock_)) file_.RaiseBlobError(TARN_MEMOCORRUPT);
  TBlockRef block(file_);
  if (!block.Get(client_, firstBlock_, 1, false)) return false;
  // The record named a BLOB that has since been rewritten or removed.
  if (block->GetBlobSignature() != signature_) file_.RaiseBlobError(TARN_KEYORRECDELETED);
  if (block->UseCount() > 1) file_.RaiseBlobError(TARN_MEMOCORRUPT);

  const std::size_t capacity = static_cast<std::size_t>(file_.GetBlockBufferSize());
  const std::int64_t length = block->GetBlobLength();
  // The length can be no more than the blocks in use hold.
  const std::int64_t limit = static_cast<std::int64_t>(file_.GetPhysicalBlocksUsed()) *
                             static_cast<std::int64_t>(capacity);
  if (length < 0 || length > limit) file_.RaiseBlobError(TARN_MEMOCORRUPT);
  data_.resize(static_cast<std::size_t>(length));

  std::unordered_set<std::int32_t> visited{firstBlock_};
  std::size_t offset = 0;
  std::size_t remaining = data_.size();
  for (;;) {
    if (block->GetBlockLength() > capacity) file_.RaiseBlobError(TARN_MEMOCORRUPT);
    const std::size_t wanted = std::min(capacity, remaining);
    const std::size_t copied = block->GetBlockData(0, wanted, data_.data() + offset);
    offset += copied;
    remaining -= copied;
    if (copied < wanted || remaining == 0) break;
    const std::int32_t next = block->GetNextBlockNumber();
    CheckLink(next, visited);
    if (!block.Get(client_, next, BlocksFor(remaining), true)) return false;
    // Past the first block, a foreign signature means the chain runs into
    // another BLOB.
    if (block->GetBlobSignature() != signature_ || block->UseCount() > 1) file_.RaiseBlobError(TARN_MEMOCORRUPT);
  }
  if (remaining > 0) file_.RaiseBlobError(TARN_ENDOFBLOB);
  return true;
}

bool TBlobBuffer::Write() {
  if (!modified_) return true;
  if (data_.empty()) return Remove();

  const std::size_t capacity = static_cast<std::size_t>(file_.GetBlockBufferSize());
  const std::size_t size = data_.size();
  TBlockRef block(file_);
  bool reusing = false;
  std::int64_t oldLength = 0;
  if (firstBlock_ != 0) {
    if (!file_.CheckBlockNumber(firstBlock_)) file_.RaiseBlobError(TARN_MEMOCORRUPT);
    if (!block.Get(client_, firstBlock_, BlocksFor(size), true)) return false;
    CheckOwnBlock(*block);
    oldLength = block->GetBlobLength();
    reusing = true;
  } else {
    if (!block.GetNextFree(client_)) return false;
  }
  const std::int32_t first = block->Number();
  block->SetBlobSignature(signature_);
  block->SetBlobLength(static_cast<std::int32_t>(size));
  block->SetPrevBlockNumber(0);

  std::unordered_set<std::int32_t> visited{first};
  std::size_t offset = 0;
  for (;;) {
    const std::size_t count = std::min(capacity, size - offset);
    block->PutBlockData(0, count, data_.data() + offset);
    // Nothing of an older value stays behind the new bytes.
    if (count < capacity) block->TruncateBlockData(count);
    offset += count;
    if (offset == size) break;

    const std::int32_t next = reusing ? block->GetNextBlockNumber() : 0;
    TBlockRef successor(file_);
    if (next != 0) {
      CheckLink(next, visited);
      if (!successor.Get(client_, next, BlocksFor(size - offset), true)) return false;
      CheckOwnBlock(*successor);
    } else {
      reusing = false;
      if (!successor.GetNextFree(client_)) return false;
      // The free list must not lead back into this chain.
      if (!visited.insert(successor->Number()).second) file_.RaiseBlobError(TARN_MEMOCORRUPT);
      block->SetNextBlockNumber(successor->Number());
    }
    successor->SetPrevBlockNumber(block->Number());
    successor->SetBlobSignature(signature_);
    successor->SetBlobLength(0);
    block = std::move(successor);
  }

  // The old chain continues past the last block used: free the rest.
  const std::int32_t tail = reusing ? block->GetNextBlockNumber() : 0;
  if (tail != 0) {
    CheckLink(tail, visited);
    const std::int64_t oldBlocks = BlocksFor(static_cast<std::size_t>(std::max<std::int64_t>(oldLength, 0)));
    const auto readAhead =
        static_cast<std::int32_t>(std::max<std::int64_t>(oldBlocks - static_cast<std::int64_t>(visited.size()) + 1, 1));
    TBlockRef tailBlock(file_);
    if (!tailBlock.Get(client_, tail, readAhead, true)) return false;
    CheckOwnBlock(*tailBlock);
    if (!file_.FreeNextBlocks(client_, tailBlock.get(), true, recordNumber_, signature_, readAhead)) return false;
    block->SetNextBlockNumber(0);
  }
  firstBlock_ = first;
  openSignature_ = signature_;
  modified_ = false;
  return true;
}

bool TBlobBuffer::Remove() {
  if (firstBlock_ != 0) {
    if (!file_.CheckBlockNumber(firstBlock_)) file_.RaiseBlobError(TARN_MEMOCORRUPT);
    {
      // Only this BLOB's own chain is freed, never one the reference was
      // damaged into.
      TBlockRef first(file_);
      if (!first.Get(client_, firstBlock_, 1, false)) return false;
      CheckOwnBlock(*first);
    }
    std::int32_t first = firstBlock_;
    if (!file_.FreeBlobBlocks(client_, first, true, recordNumber_, signature_)) return false;
    firstBlock_ = 0;
  }
  data_.clear();
  openSignature_ = signature_;
  modified_ = false;
  return true;
}

}  // namespace tarn
