// Damaged BLOB files and stale readers: chains built through the handler,
// then block headers and the BLOB header patched on disk. Every case must end
// in its error code, never in a crash, an endless walk or a foreign block
// taken over.
#include <gtest/gtest.h>

#include <cstring>

#include "blob_fixture.h"

namespace tarn {
namespace {

constexpr std::size_t kCapacity = 512 - 18;
namespace bo = block_header_offsets;

enum class TOperation { Read, Remove, RewriteLonger, RewriteShorter, NewBlob };

const char* Name(TOperation op) {
  switch (op) {
    case TOperation::Read: return "read";
    case TOperation::Remove: return "remove";
    case TOperation::RewriteLonger: return "rewrite longer";
    case TOperation::RewriteShorter: return "rewrite shorter";
    case TOperation::NewBlob: return "new BLOB";
  }
  return "";
}

struct TDamage {
  const char* what;
  // Patches applied to the file holding BLOB A (blocks 1-4, signature 100)
  // and BLOB B (blocks 5-7, signature 200); free list empty.
  std::vector<std::tuple<std::int32_t, std::size_t, std::int32_t>> blockPatches;
  std::vector<std::pair<std::size_t, std::int32_t>> headerPatches;
  TOperation operation;
  TarnErrorCode expected;
};

class BlobDamageTest : public BlobTest {
 protected:
  void Build() {
    auto file = Create();
    ASSERT_EQ(WriteBlob(*file, Pattern(4 * kCapacity, 1), 100), 1);
    ASSERT_EQ(WriteBlob(*file, Pattern(3 * kCapacity, 2), 200), 5);
    Flush(*file);
  }
  void Run(TBlobFile& file, TOperation op) {
    switch (op) {
      case TOperation::Read:
        ReadBlob(file, 1, 100);
        break;
      case TOperation::Remove: {
        TBlobBuffer buffer(file, nullptr, 1, 1, 1, 100);
        buffer.SetSize(0);
        buffer.SetSignature(101);
        buffer.Write();
        break;
      }
      case TOperation::RewriteLonger:
        WriteBlob(file, Pattern(6 * kCapacity, 3), 101, 1, 100);
        break;
      case TOperation::RewriteShorter:
        WriteBlob(file, Pattern(kCapacity + 5, 3), 101, 1, 100);
        break;
      case TOperation::NewBlob:
        WriteBlob(file, Pattern(4 * kCapacity, 4), 300);
        break;
    }
  }
};

TEST_F(BlobDamageTest, DamagedChainsGiveCorruptionCodes) {
  using O = TOperation;
  const std::vector<TDamage> cases = {
      {"cycle back to an earlier block", {{3, bo::NextBlock, 2}}, {}, O::Read, TARN_MEMOCORRUPT},
      {"cycle back to an earlier block", {{3, bo::NextBlock, 2}}, {}, O::Remove, TARN_MEMOCORRUPT},
      {"cycle back to an earlier block", {{3, bo::NextBlock, 1}}, {}, O::RewriteLonger, TARN_MEMOCORRUPT},
      {"block linked to itself", {{2, bo::NextBlock, 2}}, {}, O::Read, TARN_MEMOCORRUPT},
      {"block linked to itself", {{2, bo::NextBlock, 2}}, {}, O::Remove, TARN_MEMOCORRUPT},
      {"last block linked to the first", {{4, bo::NextBlock, 1}}, {}, O::Remove, TARN_MEMOCORRUPT},
      {"last block linked to the first", {{4, bo::NextBlock, 1}}, {}, O::RewriteShorter, TARN_MEMOCORRUPT},
      {"cross-link into another BLOB", {{2, bo::NextBlock, 6}}, {}, O::Read, TARN_MEMOCORRUPT},
      {"cross-link into another BLOB", {{2, bo::NextBlock, 6}}, {}, O::Remove, TARN_MEMOCORRUPT},
      {"cross-link into another BLOB", {{2, bo::NextBlock, 6}}, {}, O::RewriteLonger, TARN_MEMOCORRUPT},
      {"cross-link into another BLOB", {{1, bo::NextBlock, 6}}, {}, O::RewriteShorter, TARN_MEMOCORRUPT},
      {"next block beyond the blocks in use", {{2, bo::NextBlock, 999}}, {}, O::Read, TARN_MEMOCORRUPT},
      {"next block beyond the blocks in use", {{2, bo::NextBlock, 999}}, {}, O::Remove, TARN_MEMOCORRUPT},
      {"next block beyond the blocks in use", {{2, bo::NextBlock, 999}}, {}, O::RewriteLonger, TARN_MEMOCORRUPT},
      {"negative next block", {{3, bo::NextBlock, -7}}, {}, O::Read, TARN_MEMOCORRUPT},
      {"negative next block", {{3, bo::NextBlock, -7}}, {}, O::Remove, TARN_MEMOCORRUPT},
      {"chain ends before the length", {{3, bo::NextBlock, 0}}, {}, O::Read, TARN_MEMOCORRUPT},
      {"block holds fewer bytes than the chain needs", {{2, bo::BytesUsed, 10}}, {}, O::Read, TARN_ENDOFBLOB},
      {"bytes used past the data area", {{2, bo::BytesUsed, 600}}, {}, O::Read, TARN_MEMOCORRUPT},
      {"BLOB length past what the file holds", {{1, bo::BlobLength, 1000000000}}, {}, O::Read, TARN_MEMOCORRUPT},
      {"negative BLOB length", {{1, bo::BlobLength, -1}}, {}, O::Read, TARN_MEMOCORRUPT},
      {"first block of another BLOB", {{1, bo::Signature, 200}}, {}, O::Remove, TARN_MEMOCORRUPT},
      {"first block of another BLOB", {{1, bo::Signature, 200}}, {}, O::RewriteLonger, TARN_MEMOCORRUPT},
      {"header counts blocks the file lacks", {{4, bo::NextBlock, 30}, {1, bo::BlobLength, 5 * kCapacity}}, {{blob_header_offsets::NextBlockNumber, 40}},
       O::Read, TARN_MEMOCORRUPT},
      {"free-list head beyond the blocks in use", {}, {{blob_header_offsets::NextFreeBlockNumber, 50}}, O::NewBlob,
       TARN_MEMOCORRUPT},
      {"free-list head negative", {}, {{blob_header_offsets::NextFreeBlockNumber, -2}}, O::NewBlob,
       TARN_MEMOCORRUPT},
      {"free-list link beyond the blocks in use", {{6, bo::NextBlock, 70}},
       {{blob_header_offsets::NextFreeBlockNumber, 6}}, O::NewBlob, TARN_MEMOCORRUPT},
      {"free-list block linked to itself", {{6, bo::NextBlock, 6}}, {{blob_header_offsets::NextFreeBlockNumber, 6}},
       O::NewBlob, TARN_MEMOCORRUPT},
      // 7 -> 6 -> 7: the third block taken would be 7 again, by then part of
      // the new BLOB.
      {"free list in a cycle", {{7, bo::NextBlock, 6}, {6, bo::NextBlock, 7}},
       {{blob_header_offsets::NextFreeBlockNumber, 7}}, O::NewBlob, TARN_MEMOCORRUPT},
      // The free list runs into the chain being written.
      {"free list into the chain being rewritten", {{4, bo::NextBlock, 0}, {4, bo::BytesUsed, 494}},
       {{blob_header_offsets::NextFreeBlockNumber, 2}}, O::RewriteLonger, TARN_MEMOCORRUPT},
  };
  for (const TDamage& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " / " + Name(c.operation));
    Build();
    for (const auto& [block, offset, value] : c.blockPatches) PatchBlock(block, offset, value);
    for (const auto& [offset, value] : c.headerPatches) Patch(offset, value);
    auto file = Open();
    EXPECT_EQ(RaisedCode([&] { Run(*file, c.operation); }), c.expected);
    file->CloseFile();
    std::filesystem::remove(name_);
  }
}

TEST_F(BlobDamageTest, AFailedFreeNeverTakesOverTheOtherBlobsBlocks) {
  Build();
  PatchBlock(2, bo::NextBlock, 6);  // A runs into the middle of B
  auto file = Open();
  EXPECT_EQ(RaisedCode([&] { Run(*file, TOperation::Remove); }), TARN_MEMOCORRUPT);
  // The failed change is dropped, as the table does before releasing its lock.
  file->FreeBlockBuffers();
  file->ReadHeader();
  EXPECT_EQ(ReadBlob(*file, 5, 200), Pattern(3 * kCapacity, 2));
  EXPECT_EQ(file->GetNextFreeBlockNumber(), 0);
  // Nothing reached the disk either.
  EXPECT_EQ(DiskBlockHeader(6).Signature, 200);
  EXPECT_EQ(DiskBlockHeader(6).NextBlock, 7);
}

TEST_F(BlobDamageTest, BadFirstBlockNumbersAreCorruptNotFollowed) {
  Build();
  auto file = Open();
  for (const std::int32_t first : {-1, 8, 1000000}) {
    SCOPED_TRACE(first);
    EXPECT_EQ(RaisedCode([&] { ReadBlob(*file, first, 100); }), TARN_MEMOCORRUPT);
    EXPECT_EQ(RaisedCode([&] { WriteBlob(*file, Pattern(10), 101, first, 100); }), TARN_MEMOCORRUPT);
    std::int32_t n = first;
    EXPECT_EQ(RaisedCode([&] { file->FreeBlobBlocks(nullptr, n, true, 1, 100); }), TARN_MEMOCORRUPT);
  }
  TBlock* block = nullptr;
  EXPECT_EQ(RaisedCode([&] { file->GetBlock(nullptr, 0, block, 1, false); }), TARN_MEMOCORRUPT);
  EXPECT_EQ(RaisedCode([&] { file->GetBlock(nullptr, 9, block, 1, false); }), TARN_MEMOCORRUPT);
  EXPECT_EQ(block, nullptr);
}

TEST_F(BlobDamageTest, ABlockHeldElsewhereIsNotReadOrFreedAsPartOfAChain) {
  Build();
  auto file = Open();
  TBlock* held = nullptr;
  ASSERT_TRUE(file->GetBlock(nullptr, 3, held, 1, false));
  EXPECT_EQ(RaisedCode([&] { ReadBlob(*file, 1, 100); }), TARN_MEMOCORRUPT);
  std::int32_t first = 1;
  EXPECT_EQ(RaisedCode([&] { file->FreeBlobBlocks(nullptr, first, true, 1, 100); }), TARN_MEMOCORRUPT);
  file->PutBlock(held);
}

TEST_F(BlobDamageTest, AHeaderWithABadFreeListHeadFailsTheHeaderCheck) {
  Build();
  Patch(blob_header_offsets::NextFreeBlockNumber, 8);
  auto file = Open();
  EXPECT_EQ(RaisedCode([&] { file->CheckHeader(); }), TARN_HEADERCORRUPT);
}

TEST_F(BlobDamageTest, AReaderWhoseSignatureIsStaleGetsRecordDeleted) {
  Build();
  auto writer = Open();
  auto reader = Open();
  TFakeBlobCursor cursor(reader.get());
  // The reader has seen the record (first block 1, signature 100) and even
  // read the BLOB once.
  EXPECT_EQ(ReadBlob(*reader, 1, 100, &cursor), Pattern(4 * kCapacity, 1));
  // Another user rewrites the BLOB under a new signature.
  EXPECT_EQ(WriteBlob(*writer, Pattern(50, 9), 101, 1, 100), 1);
  Flush(*writer);
  // Opening the BLOB takes the read lock with change detection first.
  EXPECT_TRUE(cursor.ReadLockForCache());
  EXPECT_EQ(RaisedCode([&] { ReadBlob(*reader, 1, 100, &cursor); }), TARN_KEYORRECDELETED);
  EXPECT_EQ(ReadBlob(*reader, 1, 101, &cursor), Pattern(50, 9));
}

TEST_F(BlobDamageTest, AReadStartsOverWhenTheReadLockFindsChanges) {
  Build();
  auto writer = Open();
  auto reader = Open();
  TFakeBlobCursor cursor(reader.get());
  // Rewritten elsewhere after the reader opened the file: the reader's first
  // miss takes the read lock, finds the new stamp and starts over.
  EXPECT_EQ(WriteBlob(*writer, Pattern(2 * kCapacity, 5), 100, 1, 100), 1);
  Flush(*writer);
  EXPECT_EQ(ReadBlob(*reader, 1, 100, &cursor), Pattern(2 * kCapacity, 5));
  EXPECT_EQ(cursor.changesFound, 1);
  EXPECT_EQ(cursor.readLocks, 3);  // the restart, then the miss of the second block

  // A stale reader whose cache is empty meets the change the same way.
  EXPECT_EQ(WriteBlob(*writer, Pattern(30, 6), 102, 1, 100), 1);
  Flush(*writer);
  auto other = Open();
  TFakeBlobCursor otherCursor(other.get());
  writer->UpdateHeaderStamp();
  writer->WriteHeader(false);
  EXPECT_EQ(RaisedCode([&] { ReadBlob(*other, 1, 100, &otherCursor); }), TARN_KEYORRECDELETED);
  EXPECT_EQ(otherCursor.changesFound, 1);

  // With strict change detection no lock is taken before a read.
  table_.strict = true;
  auto strict = Open();
  TFakeBlobCursor strictCursor(strict.get());
  EXPECT_EQ(ReadBlob(*strict, 1, 102, &strictCursor), Pattern(30, 6));
  EXPECT_EQ(strictCursor.readLocks, 0);
}

}  // namespace
}  // namespace tarn
