// System code page (936, GBK) scanning, cutting and case mapping. The case
// tables for double-byte characters are built once, on first use, by decoding
// every lead/trail pair with ICU, mapping the code point with the simple
// Unicode case mapping and encoding it back.
#include "platform/code_page.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

namespace tarn {

namespace {

constexpr unsigned kLeadFirst = 0x81;
constexpr unsigned kLeadCount = 0xFE - 0x81 + 1;    // 126
constexpr unsigned kTrailFirst = 0x40;
constexpr unsigned kTrailCount = 0xFE - 0x40 + 1;   // 191 (0x7F is never used)

// Mapped double-byte characters as (lead << 8 | trail); an unchanged character
// maps to itself.
struct TCaseTables {
  std::array<std::uint16_t, kLeadCount * kTrailCount> upper{};
  std::array<std::uint16_t, kLeadCount * kTrailCount> lower{};
};

struct ConverterCloser {
  void operator()(UConverter* c) const noexcept { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr OpenSystemConverter() {
  for (const char* name : {"windows-936", "GBK"}) {
    UErrorCode err = U_ZERO_ERROR;
    ConverterPtr conv(ucnv_open(name, &err));
    if (U_FAILURE(err) || !conv) continue;
    err = U_ZERO_ERROR;
    ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    if (U_FAILURE(err)) continue;
    ucnv_setFallback(conv.get(), false);
    return conv;
  }
  return nullptr;
}

// Decodes one double-byte character; answers -1 when it is not a valid character.
UChar32 DecodePair(UConverter* conv, unsigned char lead, unsigned char trail) {
  const char src[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  UChar dest[4];
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(conv, dest, 4, src, 2, &err);
  if (U_FAILURE(err) || n <= 0) return -1;
  UChar32 cp;
  int32_t i = 0;
  U16_NEXT(dest, i, n, cp);
  if (i != n) return -1;  // more than one code point
  return cp;
}

// Encodes a code point; answers the double-byte form, or 0 when it does not
// encode to exactly two bytes that form a double-byte character.
std::uint16_t EncodeDouble(UConverter* conv, UChar32 cp) {
  UChar src[2];
  int32_t len = 0;
  UBool error = false;
  U16_APPEND(src, len, 2, cp, error);
  if (error) return 0;
  char dest[8];
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(conv, dest, sizeof dest, src, len, &err);
  if (U_FAILURE(err) || n != 2) return 0;
  const auto lead = static_cast<unsigned char>(dest[0]);
  const auto trail = static_cast<unsigned char>(dest[1]);
  if (!IsLeadByte(lead) || !IsTrailByte(trail)) return 0;
  // The mapped form must decode back to the mapped code point.
  if (DecodePair(conv, lead, trail) != cp) return 0;
  return static_cast<std::uint16_t>(lead << 8 | trail);
}

std::unique_ptr<TCaseTables> BuildCaseTables() {
  auto tables = std::make_unique<TCaseTables>();
  for (unsigned l = 0; l < kLeadCount; ++l)
    for (unsigned t = 0; t < kTrailCount; ++t) {
      const auto self = static_cast<std::uint16_t>((kLeadFirst + l) << 8 | (kTrailFirst + t));
      tables->upper[l * kTrailCount + t] = self;
      tables->lower[l * kTrailCount + t] = self;
    }
  ConverterPtr conv = OpenSystemConverter();
  if (!conv) return tables;  // no converter: double-byte characters stay as they are
  for (unsigned l = 0; l < kLeadCount; ++l) {
    for (unsigned t = 0; t < kTrailCount; ++t) {
      const auto lead = static_cast<unsigned char>(kLeadFirst + l);
      const auto trail = static_cast<unsigned char>(kTrailFirst + t);
      if (!IsTrailByte(trail)) continue;
      const UChar32 cp = DecodePair(conv.get(), lead, trail);
      if (cp < 0) continue;
      const UChar32 up = u_toupper(cp);
      if (up != cp) {
        if (std::uint16_t enc = EncodeDouble(conv.get(), up)) tables->upper[l * kTrailCount + t] = enc;
      }
      const UChar32 low = u_tolower(cp);
      if (low != cp) {
        if (std::uint16_t enc = EncodeDouble(conv.get(), low)) tables->lower[l * kTrailCount + t] = enc;
      }
    }
  }
  return tables;
}

const TCaseTables& CaseTables() {
  static const std::unique_ptr<TCaseTables> tables = BuildCaseTables();
  return *tables;
}

constexpr unsigned char AsciiUpper(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
constexpr unsigned char AsciiLower(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

inline std::size_t CharLengthAt(const unsigned char* p, std::size_t remaining) noexcept {
  if (remaining == 0) return 0;
  if (remaining >= 2 && IsLeadByte(p[0]) && IsTrailByte(p[1])) return 2;
  return 1;
}

template <bool Upper>
void MapInPlace(char* text, std::size_t length) noexcept {
  auto* p = reinterpret_cast<unsigned char*>(text);
  std::size_t pos = 0;
  const TCaseTables* tables = nullptr;
  while (pos < length) {
    const std::size_t n = CharLengthAt(p + pos, length - pos);
    if (n == 1) {
      p[pos] = Upper ? AsciiUpper(p[pos]) : AsciiLower(p[pos]);
    } else {
      if (!tables) tables = &CaseTables();
      const std::size_t idx = (p[pos] - kLeadFirst) * kTrailCount + (p[pos + 1] - kTrailFirst);
      const std::uint16_t mapped = Upper ? tables->upper[idx] : tables->lower[idx];
      p[pos] = static_cast<unsigned char>(mapped >> 8);
      p[pos + 1] = static_cast<unsigned char>(mapped & 0xFF);
    }
    pos += n;
  }
}

// Yields the upper-cased bytes of a text one at a time, character-wise.
class TUpperByteStream {
 public:
  explicit TUpperByteStream(std::string_view text) noexcept
      : p_(reinterpret_cast<const unsigned char*>(text.data())), size_(text.size()) {}
  bool AtEnd() const noexcept { return pending_ < 0 && pos_ >= size_; }
  unsigned char Next() noexcept {
    if (pending_ >= 0) {
      auto b = static_cast<unsigned char>(pending_);
      pending_ = -1;
      return b;
    }
    const std::size_t n = CharLengthAt(p_ + pos_, size_ - pos_);
    if (n == 1) return AsciiUpper(p_[pos_++]);
    const std::size_t idx = (p_[pos_] - kLeadFirst) * kTrailCount + (p_[pos_ + 1] - kTrailFirst);
    const std::uint16_t mapped = CaseTables().upper[idx];
    pos_ += 2;
    pending_ = mapped & 0xFF;
    return static_cast<unsigned char>(mapped >> 8);
  }

 private:
  const unsigned char* p_;
  std::size_t size_;
  std::size_t pos_ = 0;
  int pending_ = -1;
};

}  // namespace

std::size_t CharLength(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size()) return 0;
  return CharLengthAt(reinterpret_cast<const unsigned char*>(text.data()) + pos, text.size() - pos);
}

std::size_t NextCharPos(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size()) return text.size();
  return pos + CharLength(text, pos);
}

bool IsTrailBytePosition(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size()) return false;
  std::size_t i = 0;
  while (i < pos) {
    const std::size_t n = CharLength(text, i);
    if (i + n > pos) return true;  // pos falls inside the character at i
    i += n;
  }
  return false;
}

std::size_t CharCount(std::string_view text) noexcept {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) ++count;
  return count;
}

std::size_t CutLength(std::string_view text, std::size_t maxBytes) noexcept {
  if (text.size() <= maxBytes) return text.size();
  std::size_t i = 0;
  while (i < maxBytes) {
    const std::size_t n = CharLength(text, i);
    if (i + n > maxBytes) break;
    i += n;
  }
  return i;
}

std::string CutToLength(std::string_view text, std::size_t maxBytes) {
  return std::string(text.substr(0, CutLength(text, maxBytes)));
}

void AnsiUpperCaseInPlace(char* text, std::size_t length) noexcept { MapInPlace<true>(text, length); }
void AnsiLowerCaseInPlace(char* text, std::size_t length) noexcept { MapInPlace<false>(text, length); }

std::string AnsiUpperCase(std::string_view text) {
  std::string result(text);
  AnsiUpperCaseInPlace(result.data(), result.size());
  return result;
}

std::string AnsiLowerCase(std::string_view text) {
  std::string result(text);
  AnsiLowerCaseInPlace(result.data(), result.size());
  return result;
}

int AnsiCompareText(std::string_view a, std::string_view b) noexcept {
  TUpperByteStream sa(a), sb(b);
  while (!sa.AtEnd() && !sb.AtEnd()) {
    const unsigned char ca = sa.Next();
    const unsigned char cb = sb.Next();
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (sa.AtEnd() && sb.AtEnd()) return 0;
  return sa.AtEnd() ? -1 : 1;
}

bool AnsiSameText(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && AnsiCompareText(a, b) == 0;
}

int AnsiCompareStr(std::string_view a, std::string_view b) noexcept {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  if (n > 0) {
    const int r = std::memcmp(a.data(), b.data(), n);
    if (r != 0) return r < 0 ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace tarn
