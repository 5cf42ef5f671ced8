// BLOB storage: block layout on disk, block boundaries, chain reuse on
// rewrite, removal, block size, scrambling, block cache and lock regions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "blob_fixture.h"
#include "storage/formats/scrambling.h"

namespace tarn {
namespace {

constexpr std::size_t kCapacity = 512 - 18;

TEST_F(BlobTest, ABlobOfOneBlockCapacityFitsOneBlockAndOneMoreByteNeedsTwo) {
  struct TCase {
    std::size_t size;
    std::int32_t blocks;
  };
  for (const TCase c : {TCase{1, 1}, TCase{kCapacity, 1}, TCase{kCapacity + 1, 2}, TCase{2 * kCapacity, 2},
                        TCase{2 * kCapacity + 1, 3}}) {
    SCOPED_TRACE(c.size);
    const auto value = Pattern(c.size, static_cast<std::uint8_t>(c.size));
    {
      auto file = Create();
      EXPECT_EQ(WriteBlob(*file, value, 77), 1);
      EXPECT_EQ(file->GetPhysicalBlocksUsed(), c.blocks);
      Flush(*file);
      file->CloseFile();
    }
    EXPECT_EQ(std::filesystem::file_size(name_), 512u + 512u * static_cast<std::size_t>(c.blocks));
    for (std::int32_t n = 1; n <= c.blocks; ++n) {
      const TBlockHeader h = DiskBlockHeader(n);
      EXPECT_EQ(h.PrevBlock, n - 1);
      EXPECT_EQ(h.NextBlock, n == c.blocks ? 0 : n + 1);
      EXPECT_EQ(h.Signature, 77);
      EXPECT_EQ(h.BlobLength, n == 1 ? static_cast<std::int32_t>(c.size) : 0);
      const std::size_t used = n < c.blocks ? kCapacity : c.size - kCapacity * static_cast<std::size_t>(c.blocks - 1);
      EXPECT_EQ(h.BytesUsed, used);
    }
    auto file = Open();
    file->CheckHeader();
    EXPECT_EQ(ReadBlob(*file, 1, 77), value);
    file->CloseFile();
    std::filesystem::remove(name_);
  }
}

TEST_F(BlobTest, RewritingShorterKeepsTheFirstBlockAndTheNextBlobReusesTheFreedBlocks) {
  auto file = Create();
  const auto three = Pattern(3 * kCapacity, 3);
  ASSERT_EQ(WriteBlob(*file, three, 10), 1);
  const auto other = Pattern(100, 9);
  ASSERT_EQ(WriteBlob(*file, other, 11), 4);
  Flush(*file);
  ASSERT_EQ(file->GetPhysicalBlocksUsed(), 4);

  // Rewritten with a one-block value under a new signature.
  const auto one = Pattern(50, 5);
  EXPECT_EQ(WriteBlob(*file, one, 12, 1, 10), 1);
  EXPECT_NE(file->GetNextFreeBlockNumber(), 0);
  Flush(*file);
  EXPECT_EQ(DiskBlockHeader(1).NextBlock, 0);
  EXPECT_EQ(DiskBlockHeader(1).BlobLength, 50);

  // The next BLOB of two blocks takes both freed blocks; nothing is appended.
  const auto two = Pattern(2 * kCapacity, 6);
  const std::int32_t first = WriteBlob(*file, two, 13);
  EXPECT_TRUE(first == 2 || first == 3);
  EXPECT_EQ(file->GetPhysicalBlocksUsed(), 4);
  EXPECT_EQ(file->GetNextFreeBlockNumber(), 0);
  Flush(*file);
  file->CloseFile();

  file = Open();
  EXPECT_EQ(ReadBlob(*file, 1, 12), one);
  EXPECT_EQ(ReadBlob(*file, first, 13), two);
  EXPECT_EQ(ReadBlob(*file, 4, 11), other);
}

TEST_F(BlobTest, RewritingLongerContinuesTheOldChainThenAppends) {
  auto file = Create();
  ASSERT_EQ(WriteBlob(*file, Pattern(2 * kCapacity, 1), 20), 1);
  ASSERT_EQ(WriteBlob(*file, Pattern(10, 2), 21), 3);
  const auto longer = Pattern(4 * kCapacity - 3, 4);
  EXPECT_EQ(WriteBlob(*file, longer, 22, 1, 20), 1);
  EXPECT_EQ(file->GetPhysicalBlocksUsed(), 5);
  Flush(*file);
  EXPECT_EQ(DiskBlockHeader(2).NextBlock, 4);
  EXPECT_EQ(DiskBlockHeader(4).PrevBlock, 2);
  EXPECT_EQ(DiskBlockHeader(5).NextBlock, 0);
  EXPECT_EQ(DiskBlockHeader(2).Signature, 22);
  EXPECT_EQ(ReadBlob(*file, 1, 22), longer);
  EXPECT_EQ(ReadBlob(*file, 3, 21), Pattern(10, 2));
}

TEST_F(BlobTest, RemovingFreesTheChainAndLeavesNoFirstBlock) {
  auto file = Create();
  const std::int32_t first = WriteBlob(*file, Pattern(3 * kCapacity, 1), 30);
  Flush(*file);
  TBlobBuffer buffer(*file, nullptr, 1, 1, first, 30);
  buffer.Read();
  buffer.SetSize(0);  // setting the BLOB to empty
  EXPECT_TRUE(buffer.Modified());
  buffer.SetSignature(31);
  EXPECT_TRUE(buffer.Write());
  EXPECT_EQ(buffer.FirstBlock(), 0);
  EXPECT_EQ(buffer.GetSize(), 0u);
  EXPECT_FALSE(buffer.Modified());
  // The free list holds the three blocks: a new three-block BLOB appends none.
  EXPECT_EQ(file->GetNextFreeBlockNumber(), 3);
  WriteBlob(*file, Pattern(3 * kCapacity, 2), 32);
  EXPECT_EQ(file->GetPhysicalBlocksUsed(), 3);
  EXPECT_EQ(file->GetNextFreeBlockNumber(), 0);
  // An empty BLOB reads as nothing.
  EXPECT_TRUE(ReadBlob(*file, 0, 0).empty());
  // Freeing a chain that is not there does nothing.
  std::int32_t none = 0;
  EXPECT_TRUE(file->FreeBlobBlocks(nullptr, none, false, 1, 5));
}

TEST_F(BlobTest, FreeingWithoutForceRequiresTheChainsSignature) {
  auto file = Create();
  std::int32_t first = WriteBlob(*file, Pattern(2 * kCapacity, 1), 40);
  EXPECT_EQ(RaisedCode([&] { file->FreeBlobBlocks(nullptr, first, false, 1, 41); }), TARN_MEMOCORRUPT);
  EXPECT_EQ(first, 1);
  EXPECT_TRUE(file->FreeBlobBlocks(nullptr, first, false, 1, 40));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(file->GetNextFreeBlockNumber(), 2);
}

TEST_F(BlobTest, ABlockSizeOfZeroMeans512) {
  auto file = Create(0);
  EXPECT_EQ(file->GetBlockSize(), 512);
  EXPECT_EQ(file->GetBlockBufferSize(), 494);
  EXPECT_EQ(file->NominalCacheCapacity(), 64u);
  EXPECT_EQ(file->ReadAheadLimit(), 32);
  const auto value = Pattern(600, 3);
  WriteBlob(*file, value, 50);
  Flush(*file);
  file->CloseFile();
  EXPECT_EQ(std::filesystem::file_size(name_), 512u + 2u * 512u);
  EXPECT_EQ(DiskBlockHeader(2).PrevBlock, 1);
  file = Open(0);
  EXPECT_EQ(ReadBlob(*file, 1, 50), value);
}

TEST_F(BlobTest, OtherBlockSizesSetCacheAndLayout) {
  for (const std::int32_t size : {64, 4096, 65535}) {
    SCOPED_TRACE(size);
    const auto value = Pattern(static_cast<std::size_t>(size) * 3, 7);
    {
      auto file = Create(size);
      EXPECT_EQ(file->NominalCacheCapacity(), std::max<std::size_t>(32768u / static_cast<std::size_t>(size), 1u));
      EXPECT_EQ(file->ReadAheadLimit(), std::max(16384 / size, 1));
      WriteBlob(*file, value, 60);
      Flush(*file);
    }
    const std::int32_t blocks = static_cast<std::int32_t>((value.size() + size - 19) / (size - 18));
    EXPECT_EQ(std::filesystem::file_size(name_), 512u + static_cast<std::size_t>(blocks) * static_cast<std::size_t>(size));
    auto file = Open(size);
    EXPECT_EQ(ReadBlob(*file, 1, 60), value);
    file->CloseFile();
    std::filesystem::remove(name_);
  }
  TBlobFile file;
  EXPECT_EQ(RaisedCode([&] { file.SetBlockSize(18); }), TARN_HEADERCORRUPT);
  EXPECT_EQ(RaisedCode([&] { file.SetBlockSize(65536); }), TARN_HEADERCORRUPT);
}

TEST_F(BlobTest, EncryptedTablesScrambleBlockHeaderAndDataSeparately) {
  const auto value = Pattern(700, 8);
  {
    auto file = Create(512, true);
    WriteBlob(*file, value, 0x01020304);
    Flush(*file);
  }
  const auto disk = Disk();
  ASSERT_EQ(disk.size(), 512u + 2u * 512u);
  // The header image and the data area are each scrambled from the start of
  // the seeds.
  const TBlockHeader expected{0, 2, static_cast<std::uint16_t>(kCapacity), 0x01020304, 700};
  const auto header = BlockHeaderBytes(expected, true);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), disk.begin() + 512));
  std::vector<std::uint8_t> data(value.begin(), value.begin() + kCapacity);
  EncryptBuffer(data.data(), data.size(), kRecordSeeds);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), disk.begin() + 512 + 18));
  // The plain bytes appear nowhere.
  EXPECT_EQ(std::search(disk.begin(), disk.end(), value.begin(), value.begin() + 16), disk.end());
  // The BLOB header is scrambled as a whole.
  const TBlobHeader blobHeader = ReadBlobHeader(std::span<const std::uint8_t, 512>(disk.data(), 512), true);
  EXPECT_EQ(blobHeader.NextBlockNumber, 3);
  EXPECT_EQ(blobHeader.VersionNum, 5);

  auto file = Open(512, true);
  file->CheckHeader();
  EXPECT_EQ(ReadBlob(*file, 1, 0x01020304), value);
}

TEST_F(BlobTest, BlockDataRequestsAreBoundedByTheBlock) {
  auto file = Create();
  auto block = file->GetNewBlockInstance();
  ASSERT_EQ(block->GetDataCapacity(), kCapacity);
  std::vector<std::uint8_t> bytes(kCapacity + 1, 0xAB);
  EXPECT_EQ(RaisedCode([&] { block->PutBlockData(0, kCapacity + 1, bytes.data()); }), TARN_INVALIDBLOBLEN);
  EXPECT_EQ(RaisedCode([&] { block->PutBlockData(10, kCapacity - 9, bytes.data()); }), TARN_INVALIDBLOBLEN);
  EXPECT_EQ(RaisedCode([&] { block->GetBlockData(0, kCapacity + 1, bytes.data()); }), TARN_INVALIDBLOBLEN);
  EXPECT_EQ(RaisedCode([&] { block->TruncateBlockData(kCapacity + 1); }), TARN_INVALIDBLOBLEN);
  EXPECT_FALSE(block->Dirty());

  EXPECT_EQ(block->PutBlockData(0, 100, bytes.data()), 100u);
  EXPECT_TRUE(block->Dirty());
  EXPECT_EQ(block->GetBlockLength(), 100);
  std::vector<std::uint8_t> out(kCapacity, 0);
  EXPECT_EQ(block->GetBlockData(0, kCapacity, out.data()), 100u);  // at most the bytes used
  block->TruncateBlockData(40);
  EXPECT_EQ(block->GetBlockLength(), 40);
  EXPECT_EQ(block->Data()[40], 0);
  EXPECT_EQ(block->Data()[39], 0xAB);

  // Setters mark the block dirty only when the value changes.
  std::uint8_t image[512];
  block->Write(image);
  EXPECT_FALSE(block->Dirty());
  block->SetNextBlockNumber(0);
  block->SetBlobLength(0);
  block->SetBlockLength(40);
  EXPECT_FALSE(block->Dirty());
  block->SetBlobSignature(9);
  EXPECT_TRUE(block->Dirty());
  block->Write(image);
  block->SetPrevBlockNumber(3);
  EXPECT_TRUE(block->Dirty());

  auto copy = file->GetNewBlockInstance();
  copy->Copy(*block);
  EXPECT_EQ(copy->GetPrevBlockNumber(), 3);
  EXPECT_EQ(copy->GetBlobSignature(), 9);
  copy->Initialize();
  EXPECT_EQ(copy->GetPrevBlockNumber(), 0);
  EXPECT_EQ(copy->Data()[0], 0);
  file->ReturnBlockInstance(copy);
  file->ReturnBlockInstance(block);
  EXPECT_EQ(block, nullptr);
}

TEST_F(BlobTest, ReadAheadFollowsTheChainAndDirtyBlocksAreWrittenInRuns) {
  {
    auto file = Create();
    WriteBlob(*file, Pattern(10 * kCapacity, 1), 70);
    EXPECT_TRUE(file->FlushBlockBuffers());
    EXPECT_EQ(file->Statistics().Writes, 1u);  // blocks 1..10 in one run
    EXPECT_FALSE(file->FlushBlockBuffers());
    file->WriteHeader(false);
  }
  auto file = Open();
  EXPECT_EQ(ReadBlob(*file, 1, 70), Pattern(10 * kCapacity, 1));
  // The first block alone, then the other nine with one read.
  EXPECT_EQ(file->Statistics().Reads, 2u);
  EXPECT_EQ(file->Statistics().Misses, 2u);
  EXPECT_EQ(ReadBlob(*file, 1, 70), Pattern(10 * kCapacity, 1));
  EXPECT_EQ(file->Statistics().Reads, 2u);
  EXPECT_GE(file->Statistics().Hits, 10u);

  // Blocks 5, 6, 7 and 9 dirty: two writes.
  const std::uint32_t before = file->Statistics().Writes;
  for (const std::int32_t n : {5, 6, 7, 9}) {
    TBlock* block = nullptr;
    ASSERT_TRUE(file->GetBlock(nullptr, n, block, 1, false));
    block->SetBlobLength(n);
    file->PutBlock(block);
  }
  EXPECT_TRUE(file->FlushBlockBuffers());
  EXPECT_EQ(file->Statistics().Writes - before, 2u);
  EXPECT_EQ(DiskBlockHeader(9).BlobLength, 9);
  EXPECT_EQ(DiskBlockHeader(8).BlobLength, 0);
}

TEST_F(BlobTest, ReadAheadRefreshesCleanCopiesAndKeepsDirtyOnes) {
  {
    auto creator = Create();
    WriteBlob(*creator, Pattern(3 * kCapacity, 1), 80);
    Flush(*creator);
  }
  auto writer = Open();
  auto reader = Open();
  // The reader caches blocks 2 and 3; it changes block 3 without writing it.
  for (const std::int32_t n : {2, 3}) {
    TBlock* block = nullptr;
    ASSERT_TRUE(reader->GetBlock(nullptr, n, block, 1, false));
    if (n == 3) block->SetBlobLength(333);
    reader->PutBlock(block);
  }
  // The writer changes blocks 2 and 3 on disk.
  for (const std::int32_t n : {2, 3}) {
    TBlock* block = nullptr;
    ASSERT_TRUE(writer->GetBlock(nullptr, n, block, 1, false));
    block->SetBlobLength(n * 1000);
    writer->PutBlock(block);
  }
  Flush(*writer);
  // Reading block 1 with read-ahead covers 2 and 3.
  TBlock* block = nullptr;
  ASSERT_TRUE(reader->GetBlock(nullptr, 1, block, 3, true));
  reader->PutBlock(block);
  ASSERT_TRUE(reader->GetBlock(nullptr, 2, block, 1, false));
  EXPECT_EQ(block->GetBlobLength(), 2000);
  reader->PutBlock(block);
  ASSERT_TRUE(reader->GetBlock(nullptr, 3, block, 1, false));
  EXPECT_EQ(block->GetBlobLength(), 333);
  EXPECT_TRUE(block->Dirty());
  reader->PutBlock(block);
}

TEST_F(BlobTest, TheCacheGrowsWhenNothingCanBeEvictedAndShrinksBack) {
  auto file = Create(4096);  // nominal capacity 8
  table_.transaction = true;  // dirty blocks stay in the cache
  WriteBlob(*file, Pattern(20 * 4078, 1), 90);
  EXPECT_EQ(file->CachedBlockCount(), 20u);
  EXPECT_EQ(file->CacheCapacity(), 8u + 32u);
  EXPECT_EQ(file->Statistics().Writes, 0u);
  table_.transaction = false;
  file->AdjustBlockBuffers();
  EXPECT_EQ(file->CachedBlockCount(), 8u);
  EXPECT_EQ(file->CacheCapacity(), 8u);
  EXPECT_EQ(file->Statistics().Writes, 1u);
  file->WriteHeader(false);
  EXPECT_EQ(ReadBlob(*file, 1, 90), Pattern(20 * 4078, 1));
}

TEST_F(BlobTest, AppendingStopsAtTheBlockAndSizeLimits) {
  struct TCase {
    std::int32_t blockSize;
    std::int32_t nextBlock;
    TarnErrorCode expected;
  };
  // 512 + n x block size may reach 4,000,000,000; n at most 2,000,000,000.
  for (const TCase c : {TCase{65535, 61036, 0}, TCase{65535, 61037, TARN_TABLEFULL},
                        TCase{64, 2000000000, TARN_TABLEFULL}}) {
    SCOPED_TRACE(c.nextBlock);
    {
      auto file = Create(c.blockSize);
      file->CloseFile();
    }
    Patch(blob_header_offsets::NextBlockNumber, c.nextBlock);
    auto file = Open(c.blockSize);
    table_.shortReads = true;
    EXPECT_EQ(RaisedCode([&] {
                TBlock* block = nullptr;
                ASSERT_TRUE(file->GetNextFreeBlock(nullptr, block));
                EXPECT_EQ(block->Number(), c.nextBlock);
                file->PutBlock(block);
                file->FreeBlockBuffers();
              }),
              c.expected);
    table_.shortReads = false;
    file->CloseFile();
    std::filesystem::remove(name_);
  }
}

TEST_F(BlobTest, LockRegionsKeepWritersAndReadersApart) {
  struct TNoWait : TLockWaiter {
    void Wait(std::uint32_t) override {}
  } noWait;
  struct TTokens : TTokenSource {
    std::uint16_t next = 0;
    std::uint16_t NextToken() override { return ++next; }
  } tokens;
  TLockMap map(noWait, tokens);
  Create()->CloseFile();
  auto first = Open();
  auto second = Open();
  first->SetLockMap(map);
  second->SetLockMap(map);
  std::uint16_t token = 0;
  ASSERT_TRUE(first->ReadLock(token));
  EXPECT_NE(token, 0);
  EXPECT_FALSE(second->WriteLock());
  std::uint16_t other = 0;
  EXPECT_TRUE(second->ReadLock(other));
  EXPECT_NE(other, token);
  EXPECT_TRUE(second->ReadUnlock(other));
  EXPECT_TRUE(first->ReadUnlock(token));
  ASSERT_TRUE(second->WriteLock());
  EXPECT_FALSE(first->ReadLock(token));
  EXPECT_FALSE(first->WriteLock());
  EXPECT_TRUE(second->WriteUnLock());
  EXPECT_FALSE(second->WriteUnLock());
}

TEST_F(BlobTest, TheBufferKeepsASavedCopyAndRefusesOversizedLengths) {
  auto file = Create();
  const auto original = Pattern(1200, 4);
  const std::int32_t first = WriteBlob(*file, original, 7);
  TBlobBuffer buffer(*file, nullptr, 3, 2, first, 7, 1);
  EXPECT_EQ(buffer.RecordNumber(), 3);
  EXPECT_EQ(buffer.FieldNumber(), 2);
  EXPECT_EQ(buffer.OpenMode(), 1);
  buffer.Read();
  buffer.SaveBuffer();
  buffer.SetSize(10);
  buffer.GetBuffer()[0] = 0xEE;
  EXPECT_TRUE(std::equal(buffer.GetOldBuffer().begin(), buffer.GetOldBuffer().end(), original.begin(),
                         original.end()));
  EXPECT_EQ(RaisedCode([&] { buffer.SetSize(std::size_t{1} << 31); }), TARN_INVALIDBLOBLEN);
  EXPECT_EQ(buffer.GetSize(), 10u);
  // An unmodified buffer writes nothing.
  TBlobBuffer unchanged(*file, nullptr, 3, 2, first, 7);
  unchanged.Read();
  const std::uint32_t hits = file->Statistics().Hits;
  EXPECT_TRUE(unchanged.Write());
  EXPECT_EQ(file->Statistics().Hits, hits);
}

TEST_F(BlobTest, ClearingTheHeaderEmptiesTheFile) {
  auto file = Create();
  WriteBlob(*file, Pattern(2000, 1), 5);
  Flush(*file);
  file->ClearHeader();
  EXPECT_EQ(file->GetPhysicalBlocksUsed(), 0);
  EXPECT_EQ(file->CachedBlockCount(), 0u);
  file->WriteHeader(false);
  EXPECT_EQ(std::filesystem::file_size(name_), 512u);
  EXPECT_EQ(WriteBlob(*file, Pattern(10, 2), 6), 1);
}

// Spare block objects are pooled per file, at most 32.
TEST_F(BlobTest, SpareBlocksArePooledUpToTheLimit) {
  auto file = Create();
  std::vector<std::unique_ptr<TBlock>> taken;
  for (std::size_t i = 0; i < kBlockPoolSize + 5; ++i) taken.push_back(file->GetNewBlockInstance());
  for (auto& block : taken) {
    file->ReturnBlockInstance(block);
    EXPECT_EQ(block, nullptr);
  }
  EXPECT_EQ(file->SpareBlockInstances(), kBlockPoolSize);
  auto block = file->GetNewBlockInstance();
  EXPECT_EQ(file->SpareBlockInstances(), kBlockPoolSize - 1);
  EXPECT_FALSE(block->Dirty());
}

}  // namespace
}  // namespace tarn
