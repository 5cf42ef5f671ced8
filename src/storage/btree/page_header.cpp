// Index page headers.
#include "storage/btree/page_header.h"

#include "storage/formats/byte_codec.h"

namespace tarn {

TPageHeader ReadPageHeader(std::span<const std::uint8_t, kPageSize> page) noexcept {
  namespace o = page_header_offsets;
  using namespace codec;
  const std::uint8_t* b = page.data();
  return TPageHeader{GetU8(b, o::PageType), GetU16(b, o::EntryCount), GetI32(b, o::LeftPage),
                     GetI32(b, o::RightPage), GetU16(b, o::CompressedSize)};
}

void WritePageHeader(std::span<std::uint8_t, kPageSize> page, const TPageHeader& header) noexcept {
  namespace o = page_header_offsets;
  using namespace codec;
  std::uint8_t* b = page.data();
  PutU8(b, o::PageType, header.PageType);
  PutU16(b, o::EntryCount, header.EntryCount);
  PutI32(b, o::LeftPage, header.LeftPage);
  PutI32(b, o::RightPage, header.RightPage);
  PutU16(b, o::CompressedSize, header.CompressedSize);
}

}  // namespace tarn
