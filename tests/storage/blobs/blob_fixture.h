// A BLOB file in a temporary directory with stand-ins for its shared table
// and for the cursor asking for blocks, plus helpers that write BLOBs through
// the handler and patch stored bytes for the damaged-file cases.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/blobs/blob_buffer.h"
#include "storage/blobs/blob_file.h"
#include "storage/formats/byte_codec.h"
#include "support/raised_code.h"

namespace tarn {


// The cursor: taking the read lock runs change detection on its BLOB file the
// way the shared table does (a changed stamp drops the block cache).
struct TFakeBlobCursor : TCacheClient {
  explicit TFakeBlobCursor(TBlobFile* watched = nullptr) : file(watched) {}
  bool ReadLockForCache() override {
    ++readLocks;
    if (file != nullptr && file->CheckForChanges()) {
      file->FreeBlockBuffers();
      ++changesFound;
      return true;
    }
    return false;
  }
  std::int32_t ReadAheadCount() const override { return 1; }
  TBlobFile* file;
  int readLocks = 0;
  int changesFound = 0;
};

using test_support::RaisedCode;

// Bytes 0, 1, 2, ... distinct per seed, so misplaced blocks show.
inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed = 1) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed * 31u + i * 7u + i / 251u);
  return bytes;
}

class BlobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarn-blobs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    name_ = dir_ + "/QUOTA.BLB";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::unique_ptr<TBlobFile> NewHandler(std::int32_t blockSize, bool encrypted) {
    auto file = std::make_unique<TBlobFile>();
    file->SetFileName(name_);
    file->SetTableLink(&table_);
    file->SetBlockSize(blockSize);
    file->SetEncrypted(encrypted);
    return file;
  }
  std::unique_ptr<TBlobFile> Create(std::int32_t blockSize = 512, bool encrypted = false) {
    auto file = NewHandler(blockSize, encrypted);
    file->CreateFile();
    file->WriteHeader(true);
    return file;
  }
  std::unique_ptr<TBlobFile> Open(std::int32_t blockSize = 512, bool encrypted = false) {
    auto file = NewHandler(blockSize, encrypted);
    file->OpenFile();
    return file;
  }
  // Writes blocks and header as the table's flush does.
  static void Flush(TBlobFile& file) {
    file.FlushBlockBuffers();
    file.WriteHeader(false);
  }

  // A new BLOB (or a rewrite of the one at firstBlock) through a buffer;
  // answers its first block.
  static std::int32_t WriteBlob(TBlobFile& file, const std::vector<std::uint8_t>& value, std::int32_t signature,
                                std::int32_t firstBlock = 0, std::int32_t oldSignature = 0,
                                TCacheClient* cursor = nullptr) {
    TBlobBuffer buffer(file, cursor, 1, 1, firstBlock, oldSignature);
    buffer.SetSize(value.size());
    if (!value.empty()) std::memcpy(buffer.GetBuffer(), value.data(), value.size());
    buffer.SetSignature(signature);
    EXPECT_TRUE(buffer.Write());
    return buffer.FirstBlock();
  }
  static std::vector<std::uint8_t> ReadBlob(TBlobFile& file, std::int32_t firstBlock, std::int32_t signature,
                                            TCacheClient* cursor = nullptr) {
    TBlobBuffer buffer(file, cursor, 1, 1, firstBlock, signature);
    buffer.Read();
    EXPECT_FALSE(buffer.Modified());
    return {buffer.Contents().begin(), buffer.Contents().end()};
  }

  std::vector<std::uint8_t> Disk() const {
    std::ifstream raw(name_, std::ios::binary);
    return {std::istreambuf_iterator<char>(raw), {}};
  }
  // Overwrites an int32 (or uint16 when width is 2) at a byte position.
  void Patch(std::uint64_t position, std::int32_t value, int width = 4) const {
    std::fstream raw(name_, std::ios::binary | std::ios::in | std::ios::out);
    std::uint8_t bytes[4];
    codec::PutI32(bytes, 0, value);
    raw.seekp(static_cast<std::streamoff>(position));
    raw.write(reinterpret_cast<const char*>(bytes), width);
  }
  void PatchBlock(std::int32_t n, std::size_t fieldOffset, std::int32_t value, std::int32_t blockSize = 512) const {
    Patch(BlockPosition(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(blockSize)) + fieldOffset, value,
          fieldOffset == block_header_offsets::BytesUsed ? 2 : 4);
  }
  TBlockHeader DiskBlockHeader(std::int32_t n, std::int32_t blockSize = 512, bool encrypted = false) const {
    const auto disk = Disk();
    const std::size_t at = BlockPosition(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(blockSize));
    EXPECT_LE(at + kBlockHeaderSize, disk.size());
    return ReadBlockHeader(std::span<const std::uint8_t, kBlockHeaderSize>(disk.data() + at, kBlockHeaderSize),
                           encrypted);
  }

  std::string dir_;
  std::string name_;
  TStandaloneTableLink table_;
};

}  // namespace tarn
