// ResizeBuffer, buffer compression and temporary file names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "file_test_support.h"
#include "storage/files/compression.h"
#include "storage/files/file_list.h"
#include "storage/files/resize_buffer.h"
#include "storage/files/temp_file.h"

namespace tarn {
namespace {

using testing_support::MakeFile;
using testing_support::RaisedCode;
using testing_support::TScratchDir;

TEST(ResizeBuffer, RoundsGrowsZeroFillsAndFrees) {
  TBufferPtr buffer;
  std::int64_t capacity = 0;
  struct TStep {
    std::int64_t size, granularity, expectedCapacity;
    bool ok;
  };
  const TStep steps[] = {{1, 64, 64, true},     {64, 64, 64, true},     {65, 64, 128, true},
                         {10, 64, 128, true},   {5000, 4096, 8192, true}, {100, 0, 8192, false},
                         {0, 64, 0, true},      {-3, 64, 0, true},      {1, 4096, 4096, true},
                         {INT64_MAX, 4096, 4096, false}};
  for (const auto& s : steps) {
    EXPECT_EQ(ResizeBuffer(s.size, s.granularity, buffer, capacity), s.ok) << s.size;
    EXPECT_EQ(capacity, s.expectedCapacity) << s.size;
    EXPECT_EQ(buffer != nullptr, capacity > 0);
  }
  buffer[0] = 7;
  ASSERT_TRUE(ResizeBuffer(9000, 4096, buffer, capacity));
  EXPECT_EQ(buffer[0], 7);
  for (std::int64_t i = 1; i < capacity; ++i) ASSERT_EQ(buffer[i], 0) << i;
}

TEST(Compression, RoundTrips) {
  std::vector<std::string> inputs = {"", "a", std::string(100000, 'x')};
  std::string mixed;
  for (int i = 0; i < 50000; ++i) mixed.push_back(static_cast<char>((i * 2654435761u) >> 13));
  inputs.push_back(mixed);
  for (const auto& input : inputs) {
    std::vector<std::uint8_t> packed, unpacked;
    CompressBuffer(input.data(), input.size(), packed);
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(packed[0], 0x78);  // zlib header
    EXPECT_EQ(packed[1], 0xDA);  // best compression
    if (input.empty()) {
      EXPECT_EQ(RaisedCode([&] { DecompressBuffer(nullptr, 0, unpacked); }), TARN_UNCOMPRESS);
    }
    DecompressBuffer(packed.data(), packed.size(), unpacked);
    EXPECT_EQ(std::string(unpacked.begin(), unpacked.end()), input);
  }
}

TEST(Compression, BadInputRaisesUncompress) {
  std::vector<std::uint8_t> packed, out;
  const std::string text(5000, 'q');
  CompressBuffer(text.data(), text.size(), packed);
  std::vector<std::vector<std::uint8_t>> bad;
  bad.push_back({'n', 'o', 't', ' ', 'z', 'l', 'i', 'b'});
  bad.push_back(std::vector<std::uint8_t>(packed.begin(), packed.end() - 5));  // truncated
  auto corrupt = packed;
  corrupt[corrupt.size() / 2] ^= 0xFF;
  bad.push_back(corrupt);
  auto trailing = packed;
  trailing.push_back(0);
  bad.push_back(trailing);
  // The last byte of the Adler-32 checksum changed.
  std::vector<std::uint8_t> checksum(packed.begin(), packed.end() - 1);
  checksum.push_back(static_cast<std::uint8_t>(packed.back() ^ 1));
  bad.push_back(checksum);
  for (const auto& input : bad) {
    out.assign(3, 1);
    EXPECT_EQ(RaisedCode([&] { DecompressBuffer(input.data(), input.size(), out); }), TARN_UNCOMPRESS);
    EXPECT_TRUE(out.empty());
  }
  // An output above the cap is refused.
  EXPECT_EQ(RaisedCode([&] { DecompressBuffer(packed.data(), packed.size(), out, 4999); }), TARN_UNCOMPRESS);
  DecompressBuffer(packed.data(), packed.size(), out, 5000);
  EXPECT_EQ(out.size(), 5000u);
  EXPECT_EQ(RaisedCode([&] { CompressBuffer(nullptr, 5, out); }), TARN_COMPRESS);
}

TEST(TempFileNames, ThreadDigitsCounterAndExtension) {
  TScratchDir dir;
  std::string digits = std::to_string(::gettid());
  if (digits.size() > 5) digits.resize(5);
  const std::string first = GetTempFileName(dir.Path(), ".DAT", false);
  EXPECT_EQ(first, dir.Path() + digits + "0.DAT");
  // Without a trailing separator one is added.
  EXPECT_EQ(GetTempFileName(dir.Path().substr(0, dir.Path().size() - 1), ".DAT", false), first);
  MakeFile(first, "taken");
  MakeFile(dir.Path() + digits + "1.dat", "taken too");  // found without regard to case
  EXPECT_EQ(GetTempFileName(dir.Path(), ".DAT", false), dir.Path() + digits + "2.DAT");
  // The memory registry is separate.
  EXPECT_EQ(GetTempFileName(dir.Path(), ".DAT", true), first);

  TFileHandler a, b;
  const std::string nameA = CreateTempFile(a, dir.Path(), ".DAT");
  const std::string nameB = CreateTempFile(b, dir.Path(), ".DAT");
  EXPECT_NE(nameA, nameB);
  EXPECT_TRUE(a.IsOpen());
  EXPECT_TRUE(b.Temporary());
  // A temporary disk file is never created over an existing one.
  TAbstractFile* file = nullptr;
  EXPECT_EQ(TFileList::Instance().CreateFile(first, {.Temporary = true}, file), -TARN_TABLEEXISTS);
}

}  // namespace
}  // namespace tarn
