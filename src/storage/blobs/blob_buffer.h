// TBlobBuffer: one open BLOB of a cursor, held in memory. It is read from its
// block chain when the BLOB is opened and written back, reusing the old chain
// as far as it goes, when the cursor posts the record. The BLOB signature the
// record carried when the BLOB was opened lets a reader notice that the BLOB
// was rewritten by someone else in the meantime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_set>
#include <vector>

#include "storage/blobs/blob_file.h"
#include "storage/files/table_link.h"

namespace tarn {

class TBlobBuffer {
 public:
  // The BLOB of field fieldNumber of record recordNumber, whose reference in
  // the record holds firstBlock and signature. client is the cursor on whose
  // behalf blocks are read (nullptr: no read lock is taken before a read).
  TBlobBuffer(TBlobFile& file, TCacheClient* client, std::int32_t recordNumber, std::uint16_t fieldNumber,
              std::int32_t firstBlock, std::int32_t signature, std::uint8_t openMode = 0);

  // Reads the whole chain into the buffer; the buffer is then unmodified.
  // TARN_KEYORRECDELETED when the BLOB was rewritten by someone else,
  // TARN_ENDOFBLOB when the chain ends before the BLOB's length,
  // TARN_MEMOCORRUPT for a damaged chain. Starts over when taking the read
  // lock revealed changes.
  void Read();
  // Writes a modified buffer into the chain (or removes the BLOB when its
  // size is 0); the first block number may change. False when taking the read
  // lock revealed changes (the caches were dropped; nothing was written).
  bool Write();
  // Frees the chain; the first block number becomes 0.
  bool Remove();

  // Resizes the buffer (new bytes are zero) and marks it modified. A size
  // that does not fit a BLOB length raises TARN_INVALIDBLOBLEN.
  void SetSize(std::size_t size);
  std::size_t GetSize() const noexcept { return data_.size(); }
  // The contents; a caller changing them calls SetModified.
  std::uint8_t* GetBuffer() noexcept { return data_.data(); }
  std::span<const std::uint8_t> Contents() const noexcept { return data_; }
  void SetModified(bool modified) noexcept { modified_ = modified; }
  bool Modified() const noexcept { return modified_; }

  // The copy of the contents SaveBuffer took (for the text index: the words
  // of the old value).
  std::span<const std::uint8_t> GetOldBuffer() const noexcept { return old_; }
  void SaveBuffer() { old_ = data_; }

  // The signature the chain is written with; the cursor gives a modified
  // BLOB a new one before posting it.
  std::int32_t Signature() const noexcept { return signature_; }
  void SetSignature(std::int32_t signature) noexcept { signature_ = signature; }
  // The signature the record carried when the BLOB was opened.
  std::int32_t OpenSignature() const noexcept { return openSignature_; }
  std::int32_t FirstBlock() const noexcept { return firstBlock_; }
  std::int32_t RecordNumber() const noexcept { return recordNumber_; }
  void SetRecordNumber(std::int32_t n) noexcept { recordNumber_ = n; }
  std::uint16_t FieldNumber() const noexcept { return fieldNumber_; }
  std::uint8_t OpenMode() const noexcept { return openMode_; }

 private:
  // One attempt; false when the read lock revealed changes.
  bool TryRead();
  // Number of blocks the given bytes need.
  std::int32_t BlocksFor(std::size_t bytes) const noexcept;
  // A link read from a block must name a block in use, not yet visited.
  void CheckLink(std::int32_t n, std::unordered_set<std::int32_t>& visited) const;
  // The block must belong to this BLOB: carry its old or its new signature.
  void CheckOwnBlock(const TBlock& block) const;

  TBlobFile& file_;
  TCacheClient* client_;
  std::int32_t recordNumber_;
  std::uint16_t fieldNumber_;
  std::int32_t firstBlock_;
  std::int32_t signature_;
  std::int32_t openSignature_;
  std::uint8_t openMode_;
  bool modified_ = false;
  std::vector<std::uint8_t> data_;
  std::vector<std::uint8_t> old_;
};

}  // namespace tarn
