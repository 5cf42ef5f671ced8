// Key comparison (see key_compare.h).
#include "storage/keys/key_compare.h"

#include <algorithm>
#include <cstring>

#include "platform/locale_services.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

inline int Reverse(int result, bool descending) noexcept { return descending ? -result : result; }

// Field-by-field comparison for tables with a language: string values with the
// locale collation, everything else bytewise; then any bytes after the key
// fields (the record ID) bytewise, reversed when the whole key is descending.
int CompareFields(const TKeyLayout& layout, const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
  std::size_t pos = 0;
  for (const TKeyField& field : layout.Fields) {
    if (pos >= length) return 0;
    const std::size_t remaining = length - pos;
    const std::size_t indexedSize = field.IndexedSize();
    const bool descending = layout.Descending || field.Descending;
    if (field.DataType == dtString) {
      int r = CompareBytes(a + pos, b + pos, 1, descending);
      if (r != 0) return r;
      const std::size_t count = std::min(indexedSize, remaining - 1);
      if (count > 0) {
        r = OSCompareStrings(layout.LanguageID, layout.SortID, reinterpret_cast<const char*>(a + pos + 1), false,
                             count, reinterpret_cast<const char*>(b + pos + 1));
        if (r != 0) return Reverse(r, descending);
      }
      pos += count + 1;
    } else {
      const std::size_t count = std::min(indexedSize + 1, remaining);
      const int r = CompareBytes(a + pos, b + pos, count, descending);
      if (r != 0) return r;
      pos += count;
    }
  }
  if (pos < length) return CompareBytes(a + pos, b + pos, length - pos, layout.Descending);
  return 0;
}

int CompareTextKeys(const TKeyLayout& layout, const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
  std::size_t n = std::min(length, kTextKeyPrefixBytes);
  int r = CompareBytes(a, b, n, false);
  if (r != 0 || length <= kTextKeyPrefixBytes) return r;
  n = std::min(length - kTextKeyPrefixBytes, kTextKeyWordBytes);
  r = OSCompareStrings(layout.LanguageID, layout.SortID, reinterpret_cast<const char*>(a + kTextKeyPrefixBytes),
                       false, n, reinterpret_cast<const char*>(b + kTextKeyPrefixBytes));
  if (r != 0) return r;
  constexpr std::size_t kTrailStart = kTextKeyPrefixBytes + kTextKeyWordBytes;
  if (length <= kTrailStart) return 0;
  n = std::min(length - kTrailStart, kTextKeyTrailBytes);
  return CompareBytes(a + kTrailStart, b + kTrailStart, n, false);
}

}  // namespace

int CompareBytes(const void* a, const void* b, std::size_t length, bool descending) noexcept {
  if (a == nullptr) return 1;
  if (b == nullptr) return -1;  // the mirror of the rule above
  if (length == 0) return 0;
  const int r = std::memcmp(a, b, length);
  if (r == 0) return 0;
  return Reverse(r < 0 ? -1 : 1, descending);
}

int CompareChar(std::uint16_t languageID, std::uint16_t sortID, char c1, char c2) {
  if (languageID == 0) return CompareBytes(&c1, &c2, 1, false);
  return OSCompareCharNoAccent(languageID, sortID, c1, c2);
}

int CompareKeys(const TKeyLayout& layout, const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
  switch (layout.Kind) {
    case kkDeletedRecords: return CompareBytes(a, b, length, false);
    case kkText: return CompareTextKeys(layout, a, b, length);
    default: break;
  }
  if (layout.LanguageID == 0) return CompareBytes(a, b, length, layout.Descending);
  return CompareFields(layout, a, b, length);
}

int CompareSortKeys(const TKeyLayout& layout, const std::uint8_t* a, const std::uint8_t* b, bool includeRecordID) {
  const std::size_t length = layout.FieldsSize() + (includeRecordID ? 4u : 0u);
  if (layout.LanguageID == 0) return CompareBytes(a, b, length, false);
  return CompareFields(layout, a, b, length);
}

}  // namespace tarn
