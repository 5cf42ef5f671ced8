// Page images: packing and unpacking of branch pages, the four leaf
// compressions and data pages, scrambling, the compressed size, and the
// refusal of damaged images.
#include <gtest/gtest.h>

#include <random>

#include "btree_test_support.h"
#include "storage/formats/byte_codec.h"
#include "storage/btree/page.h"
#include "storage/formats/scrambling.h"

namespace tarn {
namespace {

using btree_testing::RaisedCode;
using btree_testing::TKey;
using btree_testing::TKeyLess;

using TImage = std::array<std::uint8_t, kPageSize>;

TPageSettings Settings(std::uint16_t keySize, std::uint8_t compression, bool unique, std::uint8_t slot = 1,
                       bool encrypted = false) {
  TPageSettings s;
  s.KeySize = keySize;
  s.Compression = compression;
  s.Unique = unique;
  s.Slot = slot;
  s.Encrypted = encrypted;
  return s;
}

// Keys with shared prefixes and zero tails, so both compressions bite.
std::vector<TKey> SortedKeys(std::uint16_t keySize, int count, unsigned seed, bool unique) {
  std::mt19937 rng(seed);
  std::set<TKey, TKeyLess> keys;
  // Small keys have few distinct values.
  if (keySize <= 9) count = std::min(count, 600);
  while (static_cast<int>(keys.size()) < count) {
    TKey key(keySize, 0);
    const std::size_t body = unique ? keySize : keySize - 4;
    const std::size_t used = 1 + rng() % body;
    for (std::size_t i = 0; i < used; ++i) key[i] = static_cast<std::uint8_t>("AB\0C"[rng() % 4]);
    if (!unique) {
      for (std::size_t i = 0; i < 4; ++i) key[keySize - 4 + i] = static_cast<std::uint8_t>(rng() % 3);
    }
    keys.insert(key);
  }
  return {keys.begin(), keys.end()};
}

void Fill(TPage& page, const std::vector<TKey>& keys, bool branch) {
  for (std::size_t i = 0; i < keys.size(); ++i) {
    page.InsertKeyEntry(static_cast<int>(i + 1), keys[i].data(), static_cast<std::int32_t>(1000 + i),
                        branch ? static_cast<std::int32_t>(7 * i + 1) : 0);
  }
}

void ExpectSameEntries(const TPage& a, const TPage& b) {
  ASSERT_EQ(a.NumberOfKeyEntries(), b.NumberOfKeyEntries());
  for (int i = 1; i <= a.NumberOfKeyEntries(); ++i) {
    EXPECT_EQ(0, std::memcmp(a.GetKeyEntryPtr(i), b.GetKeyEntryPtr(i), a.KeySize())) << "entry " << i;
    EXPECT_EQ(a.GetRecordNumber(i), b.GetRecordNumber(i));
    EXPECT_EQ(a.GetLowerKeyEntryCount(i), b.GetLowerKeyEntryCount(i));
  }
}

struct TCodecCase {
  std::uint16_t KeySize;
  std::uint8_t Compression;
  bool Unique;
  bool Encrypted;
};

class PageRoundTrip : public ::testing::TestWithParam<TCodecCase> {};

TEST_P(PageRoundTrip, LeafAndBranchImagesUnpackToTheSameEntries) {
  const TCodecCase c = GetParam();
  const TPageSettings settings = Settings(c.KeySize, c.Compression, c.Unique, 1, c.Encrypted);
  for (const bool branch : {false, true}) {
    TPage page;
    page.SetSettings(settings);
    page.Initialize();
    page.SetPageType(branch ? ptBranch : ptLeaf);
    page.SetLeftPageNumber(17);
    page.SetRightPageNumber(23);
    // As many keys as fit.
    const auto keys = SortedKeys(c.KeySize, 2000, c.KeySize * 31u + c.Compression, c.Unique);
    for (const TKey& key : keys) {
      page.InsertKeyEntry(page.NumberOfKeyEntries() + 1, key.data(), page.NumberOfKeyEntries() + 5, branch ? 3 : 0);
      if (page.PageDataOverflowed()) {
        page.DeleteKeyEntry(page.NumberOfKeyEntries());
        break;
      }
    }
    ASSERT_GT(page.NumberOfKeyEntries(), 1);
    TImage image{};
    page.Write(image);
    EXPECT_FALSE(page.Dirty());
    TPage back;
    back.SetSettings(settings);
    back.Read(image, false);
    EXPECT_EQ(back.PageType(), branch ? ptBranch : ptLeaf);
    EXPECT_EQ(back.LeftPageNumber(), 17);
    EXPECT_EQ(back.RightPageNumber(), 23);
    EXPECT_EQ(back.CompressedSize(), page.CompressedSize());
    ExpectSameEntries(page, back);
    // The stored header carries the packed size of compressed leaves only.
    TImage plain = image;
    if (c.Encrypted) DecryptBuffer(plain.data(), plain.size(), kRecordSeeds);
    EXPECT_EQ(codec::GetU16(plain.data(), 1), page.NumberOfKeyEntries());
    EXPECT_EQ(codec::GetU16(plain.data(), 11), page.IsCompressedLeaf() ? page.CompressedSize() : 0);
    if (c.Encrypted) {
      EXPECT_NE(plain, image);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Compressions, PageRoundTrip,
    ::testing::Values(TCodecCase{5, icNone, true, false}, TCodecCase{5, icDuplicateByte, true, false},
                      TCodecCase{9, icTrailingByte, false, false}, TCodecCase{26, icFull, false, false},
                      TCodecCase{26, icFull, true, true}, TCodecCase{40, icDuplicateByte, false, true},
                      TCodecCase{130, icTrailingByte, true, false}, TCodecCase{522, icFull, false, false},
                      TCodecCase{522, icNone, true, true}, TCodecCase{300, icFull, true, false}));

TEST(PageCodec, FullCompressionStoresSharedPrefixAndTrailingZeros) {
  // A non-unique index over a 21-character string: presence byte, 21 bytes,
  // record ID.
  const std::uint16_t ks = 1 + 21 + 4;
  TKey a(ks, 0), b(ks, 0);
  a[0] = b[0] = 1;
  std::memcpy(a.data() + 1, "ABCDEFGHIJ", 10);
  std::memcpy(b.data() + 1, "ABCDEFGHIK", 10);
  a[ks - 1] = 1;  // record IDs
  b[ks - 1] = 2;
  TPage page;
  page.SetSettings(Settings(ks, icFull, false));
  page.Initialize();
  page.SetPageType(ptRootLeaf);
  page.InsertKeyEntry(1, a.data(), 11, 0);
  page.InsertKeyEntry(2, b.data(), 12, 0);
  TImage image{};
  page.Write(image);
  const std::uint8_t* data = image.data() + kPageHeaderSize;
  // First entry: d = 0, t = 11 (the string's unused tail), 11 bytes of key
  // and the 4 record-ID bytes, then the record number.
  EXPECT_EQ(data[0], 0);
  EXPECT_EQ(data[1], 11);
  const std::size_t first = 2 + (ks - 0 - 11) + 4;
  EXPECT_EQ(0, std::memcmp(data + 2, a.data(), 11));
  EXPECT_EQ(codec::GetI32(data, first - 4), 11);
  // Second entry shares the presence byte and "ABCDEFGHI": d = 10.
  EXPECT_EQ(data[first], 10);
  EXPECT_EQ(data[first + 1], 11);
  EXPECT_EQ(page.CompressedSize(), first + 2 + (ks - 10 - 11) + 4);
  TPage back;
  back.SetSettings(page.Settings());
  back.Read(image, false);
  ExpectSameEntries(page, back);
}

TEST(PageCodec, TrailingCountsStopBeforeTheRecordIdAndAt254) {
  const std::uint16_t ks = 300 + 4;
  TKey key(ks, 0);
  key[0] = 1;
  key[ks - 4] = 9;  // record ID bytes are always stored
  TPage page;
  page.SetSettings(Settings(ks, icTrailingByte, false));
  page.Initialize();
  page.SetPageType(ptRootLeaf);
  page.InsertKeyEntry(1, key.data(), 1, 0);
  TImage image{};
  page.Write(image);
  EXPECT_EQ(image[kPageHeaderSize], 254);
  EXPECT_EQ(page.CompressedSize(), 1 + (ks - 254) + 4);
  TPage back;
  back.SetSettings(page.Settings());
  back.Read(image, false);
  ExpectSameEntries(page, back);
}

TEST(PageCodec, DataPagesKeepTheirRawBytes) {
  TPage page;
  page.SetSettings(Settings(68, icFull, true, 32));
  page.Initialize();
  page.SetPageType(ptData);
  for (std::size_t i = 0; i < kPageDataSize; ++i) page.GetPageDataPtr()[i] = static_cast<std::uint8_t>(i * 7);
  TImage image{};
  page.Write(image);
  TPage back;
  back.SetSettings(page.Settings());
  back.Read(image, false);
  EXPECT_EQ(back.PageType(), ptData);
  EXPECT_EQ(0, std::memcmp(back.GetPageDataPtr(), page.GetPageDataPtr(), kPageDataSize));
}

TEST(PageCodec, TextIndexBranchesStoreNoLowerCounts) {
  TPage page;
  page.SetSettings(Settings(68, icFull, true, 32));
  page.Initialize();
  page.SetPageType(ptRootBranch);
  EXPECT_EQ(page.GetMaximumKeyEntries(), 4083 / 72);
  const auto keys = SortedKeys(68, 3, 5, true);
  Fill(page, keys, true);
  TImage image{};
  page.Write(image);
  // Entry 2 starts right after key + child number of entry 1.
  EXPECT_EQ(0, std::memcmp(image.data() + kPageHeaderSize + 72, keys[1].data(), 68));
  TPage plain;
  plain.SetSettings(Settings(68, icNone, true, 1));
  plain.SetPageType(ptLeaf);
  EXPECT_EQ(plain.GetMaximumKeyEntries(), 4083 / 72);
  plain.SetPageType(ptBranch);
  EXPECT_EQ(plain.GetMaximumKeyEntries(), 4083 / 76);
}

TEST(PageCodec, FreePagesAreWrittenWithoutEntries) {
  TPage page;
  page.SetSettings(Settings(5, icNone, true));
  page.Initialize();
  page.SetPageType(ptLeaf);
  Fill(page, SortedKeys(5, 10, 1, true), false);
  page.SetRightPageNumber(44);
  page.SetFree(true);
  TImage image{};
  page.Write(image);
  EXPECT_EQ(codec::GetU16(image.data(), 1), 0);
  EXPECT_EQ(codec::GetI32(image.data(), 7), 44);
  EXPECT_TRUE(std::all_of(image.begin() + kPageHeaderSize, image.end(), [](std::uint8_t b) { return b == 0; }));
}

// Damaged images: each is refused with TARN_INDEXCORRUPT.
struct TDamage {
  const char* Name;
  TPageSettings Settings;
  std::function<void(TImage&)> Damage;
};

TEST(PageCodec, DamagedImagesAreRefused) {
  auto header = [](TImage& img, std::uint8_t type, std::uint16_t count, std::int32_t left, std::int32_t right,
                   std::uint16_t size) {
    codec::PutU8(img.data(), 0, type);
    codec::PutU16(img.data(), 1, count);
    codec::PutI32(img.data(), 3, left);
    codec::PutI32(img.data(), 7, right);
    codec::PutU16(img.data(), 11, size);
  };
  const std::vector<TDamage> cases = {
      {"unknown page type", Settings(5, icNone, true), [&](TImage& i) { header(i, 9, 1, 0, 0, 0); }},
      {"leaf entries beyond the page", Settings(5, icNone, true), [&](TImage& i) { header(i, 2, 454, 0, 0, 0); }},
      {"branch entries beyond the page", Settings(5, icNone, true), [&](TImage& i) { header(i, 1, 315, 0, 0, 0); }},
      {"compressed size past 4083", Settings(5, icDuplicateByte, true),
       [&](TImage& i) { header(i, 2, 3, 0, 0, 4084); }},
      {"entries beyond the compressed size", Settings(5, icDuplicateByte, true),
       [&](TImage& i) { header(i, 2, 700, 0, 0, 4083); }},
      {"first entry shares a prefix", Settings(5, icFull, true),
       [&](TImage& i) {
         header(i, 2, 1, 0, 0, 8);
         i[kPageHeaderSize] = 3;
       }},
      {"duplicate count beyond the key", Settings(5, icDuplicateByte, true),
       [&](TImage& i) {
         header(i, 2, 2, 0, 0, 20);
         i[kPageHeaderSize + 10] = 6;
       }},
      {"trailing count beyond the key", Settings(5, icTrailingByte, true),
       [&](TImage& i) {
         header(i, 2, 1, 0, 0, 10);
         i[kPageHeaderSize] = 6;
       }},
      {"trailing count into the record ID", Settings(9, icTrailingByte, false),
       [&](TImage& i) {
         header(i, 2, 1, 0, 0, 10);
         i[kPageHeaderSize] = 6;
       }},
      {"negative sibling", Settings(5, icNone, true), [&](TImage& i) { header(i, 2, 1, -4, 0, 0); }},
      {"negative lower count", Settings(5, icNone, true),
       [&](TImage& i) {
         header(i, 1, 1, 0, 0, 0);
         codec::PutI32(i.data(), kPageHeaderSize + 9, -1);
       }},
  };
  for (const TDamage& c : cases) {
    TImage image{};
    c.Damage(image);
    TPage page;
    page.SetSettings(c.Settings);
    EXPECT_EQ(RaisedCode([&] { page.Read(image, false); }), TARN_INDEXCORRUPT) << c.Name;
  }
}

TEST(PageCodec, OverflowedLeafIsNotWritten) {
  TPage page;
  page.SetSettings(Settings(5, icNone, true));
  page.Initialize();
  page.SetPageType(ptLeaf);
  Fill(page, SortedKeys(5, 454, 3, true), false);
  EXPECT_TRUE(page.PageDataOverflowed());
  TImage image{};
  EXPECT_EQ(RaisedCode([&] { page.Write(image); }), TARN_INDEXCORRUPT);
}

TEST(PageCodec, ReuseDropsTheEntries) {
  TPage page;
  page.SetSettings(Settings(5, icNone, true));
  page.Initialize();
  page.SetPageType(ptLeaf);
  Fill(page, SortedKeys(5, 20, 3, true), false);
  TImage image{};
  page.Write(image);
  TPage back;
  back.SetSettings(page.Settings());
  back.Read(image, true);
  EXPECT_EQ(back.NumberOfKeyEntries(), 0);
  EXPECT_EQ(back.StoredEntryCount(), 20);
}

}  // namespace
}  // namespace tarn
