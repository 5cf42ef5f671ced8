// Fuzzes index page decoding and the B-tree walks over hostile index files.
// Mode 0: one page image under chosen slot settings: decoding either raises
// an engine error or gives a page that packs and unpacks to itself and can
// be searched. Mode 1: a small index file built from the input (header
// fields and up to eight pages): searches, scans, ordinals, inserts and
// deletes either work or raise engine errors; they never crash or hang.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/errors.h"
#include "storage/btree/btree.h"
#include "storage/files/file_list.h"
#include "storage/btree/index_file.h"
#include "storage/btree/page.h"
#include "storage/files/table_link.h"

namespace {

using namespace tarn;

class TInput {
 public:
  TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
  // The next n bytes (zero-padded past the end).
  void Bytes(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = Byte();
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

TPageSettings ChooseSettings(TInput& in) {
  TPageSettings s;
  const std::uint8_t shape = in.Byte();
  static const std::uint16_t sizes[] = {5, 6, 9, 12, 26, 68, 130, 522};
  s.KeySize = sizes[shape & 7];
  s.Compression = static_cast<std::uint8_t>((shape >> 3) & 3);
  s.Unique = (shape & 0x20) != 0 || s.KeySize <= 4;
  s.Slot = (shape & 0x40) != 0 ? 32 : 1;
  s.Encrypted = (shape & 0x80) != 0;
  return s;
}

class TBytesComparator final : public TPageKeyComparator {
 public:
  int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) const override {
    return CompareBytes(a, b, length, false);
  }
};

void DecodeOnePage(TInput& in) {
  const TPageSettings settings = ChooseSettings(in);
  std::array<std::uint8_t, kPageSize> image{};
  in.Bytes(image.data(), image.size());
  TPage page;
  page.SetSettings(settings);
  try {
    page.Read(image, false);
  } catch (const ETarnEngineError&) {
    return;
  }
  if (page.PageType() == ptData || page.PageDataOverflowed()) return;
  std::array<std::uint8_t, kPageSize> again{};
  page.Write(again);
  TPage back;
  back.SetSettings(settings);
  back.Read(again, false);
  if (back.NumberOfKeyEntries() != page.NumberOfKeyEntries()) __builtin_trap();
  for (int i = 1; i <= page.NumberOfKeyEntries(); ++i) {
    if (std::memcmp(back.GetKeyEntryPtr(i), page.GetKeyEntryPtr(i), page.KeySize()) != 0) __builtin_trap();
    if (back.GetRecordNumber(i) != page.GetRecordNumber(i)) __builtin_trap();
  }
  if (page.NumberOfKeyEntries() > 0) {
    TBytesComparator cmp;
    const std::vector<std::uint8_t> key(page.GetKeyEntryPtr(1), page.GetKeyEntryPtr(1) + page.KeySize());
    (void)page.SearchScan(cmp, key.data());
    (void)page.CountSequentialRecords(1000, 1, 1);
  }
}

// The table's part for the fuzzed file: used by this process alone, short reads
// accepted.
struct TFuzzTableLink : TStandaloneTableLink {
  TFuzzTableLink() { shortReads = true; }
};

void WalkHostileFile(TInput& in) {
  const char* name = "MEM/FUZZPAGE.IDX";
  TFuzzTableLink link;
  {
    const TPageSettings settings = ChooseSettings(in);
    TIndexFile file;
    file.SetTableLink(&link);
    file.SetEncrypted(settings.Encrypted);
    file.SetFileName(name);
    file.SetInMemory(true);
    file.CreateFile();
    const int pages = 1 + in.Byte() % 8;
    TIndexDefinition& def = file.MutableHeader().Slots[0];
    def.KeySize = settings.KeySize;
    def.Unique = settings.Unique ? 1 : 0;
    def.Compression = settings.Compression;
    def.RootPageNumber = static_cast<std::int8_t>(in.Byte()) % 10;
    def.NextFreePageNumber = static_cast<std::int8_t>(in.Byte()) % 10;
    file.MutableHeader().NextPageNumber = pages + 1;
    std::vector<std::uint8_t> body(static_cast<std::size_t>(pages) * kPageSize);
    in.Bytes(body.data(), body.size());
    file.Seek(0, static_cast<std::int64_t>(kPageSize));
    file.Write(body.data(), static_cast<std::int64_t>(body.size()));
    TBytesComparator cmp;
    TIndexPath path;
    TBTree tree(file, nullptr, 0, cmp, path);
    std::vector<std::uint8_t> key(settings.KeySize);
    auto guarded = [](auto&& op) {
      try {
        op();
      } catch (const ETarnEngineError&) {
      }
    };
    in.Bytes(key.data(), key.size());
    guarded([&] { (void)tree.SearchIndexKeys(key.data()); });
    guarded([&] { tree.ScanKeys([](const std::uint8_t*, std::int32_t) { return true; }); });
    guarded([&] { (void)tree.SeekOrdinal(1 + in.Byte()); });
    guarded([&] { (void)tree.CountKeysBefore(key.data()); });
    for (int i = 0; i < 4; ++i) {
      in.Bytes(key.data(), key.size());
      if (in.Byte() & 1) {
        guarded([&] { tree.AddIndexKey(key.data(), i + 1); });
      } else {
        guarded([&] { tree.RemoveIndexKey(key.data()); });
      }
    }
    guarded([&] { (void)file.FlushPageBuffers(); });
    file.FreePageBuffers();
  }
  (void)TFileList::Instance().DeleteFile(name, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TInput in(data, size);
  if (in.Byte() & 1) {
    WalkHostileFile(in);
  } else {
    DecodeOnePage(in);
  }
  return 0;
}
