// Character stepping, comparison and casing in a table's code page.
#include "expressions/text_code_page.h"

#include <algorithm>
#include <string>

#include "platform/code_page.h"
#include "platform/locale_services.h"
#include "expressions/expression_layer.h"

namespace tarn {

namespace {

// The ANSI code pages of Windows that are double-byte (Japanese, simplified
// Chinese, Korean, traditional Chinese, Korean Johab).
bool IsDoubleByteCodePage(unsigned codePage) noexcept {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 || codePage == 1361;
}

int Sign(int v) noexcept { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

TTextCodePage::TTextCodePage(std::uint16_t languageID, std::uint16_t sortID)
    : languageID_(languageID), sortID_(sortID) {
  // A language without a known code page keeps the system code page, whose
  // byte order its comparisons fall back to.
  const unsigned codePage = languageID == 0 ? kSystemCodePage : OSAnsiCodePage(languageID);
  doubleByte_ = codePage == 0 || IsDoubleByteCodePage(codePage);
}

std::size_t TTextCodePage::CharLength(std::string_view text, std::size_t pos) const noexcept {
  if (doubleByte_) return tarn::CharLength(text, pos);
  return pos < text.size() ? 1 : 0;
}

std::size_t TTextCodePage::NextCharPos(std::string_view text, std::size_t pos) const noexcept {
  if (doubleByte_) return tarn::NextCharPos(text, pos);
  return pos < text.size() ? pos + 1 : text.size();
}

bool TTextCodePage::IsTrailBytePosition(std::string_view text, std::size_t pos) const noexcept {
  return doubleByte_ && tarn::IsTrailBytePosition(text, pos);
}

std::size_t TTextCodePage::CutLength(std::string_view text, std::size_t maxBytes) const noexcept {
  if (doubleByte_) return tarn::CutLength(text, maxBytes);
  return std::min(text.size(), maxBytes);
}

int TTextCodePage::Compare(std::string_view a, std::string_view b, bool caseInsensitive) const {
  if (languageID_ == 0) return Sign(caseInsensitive ? AnsiCompareText(a, b) : AnsiCompareStr(a, b));
  return OSCompareStrings(languageID_, sortID_, a, b, caseInsensitive);
}

bool TTextCodePage::SameChar(std::string_view a, std::string_view b) const {
  // A double-byte character has no single-byte locale form: its bytes decide.
  if (languageID_ == 0 || a.size() != 1 || b.size() != 1) return a == b;
  return OSCompareCharNoAccent(languageID_, sortID_, a[0], b[0]) == 0;
}

void TTextCodePage::UpperCase(char* text, std::size_t length) const {
  if (doubleByte_) {
    AnsiUpperCaseInPlace(text, length);
    return;
  }
  const std::string mapped = OSUpperCase(languageID_, sortID_, std::string_view(text, length));
  std::copy(mapped.begin(), mapped.end(), text);
}

void TTextCodePage::LowerCase(char* text, std::size_t length) const {
  if (doubleByte_) {
    AnsiLowerCaseInPlace(text, length);
    return;
  }
  const std::string mapped = OSLowerCase(languageID_, sortID_, std::string_view(text, length));
  std::copy(mapped.begin(), mapped.end(), text);
}

}  // namespace tarn
