// Word matching of TEXTSEARCH and TEXTOCCURS for one record: the text-index
// parameters (stop words, space and include characters), the splitting of a
// text into upper-cased words with their counts, and the two record-level
// tests. A cursor with a text index supplies its own parameters; without
// them the defaults apply.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

inline constexpr std::size_t kMaxTextWordLength = 61;

struct TTextIndexParams {
  std::vector<std::string> StopWords;  // upper case
  std::bitset<256> SpaceChars;
  std::bitset<256> IncludeChars;

  // The 22 default stop words, the default space set (codes 1..32 and
  // * + , - . / : ; < = > \ `) and include set (A-Z, a-z, 0-9, _, 128..254).
  static const TTextIndexParams& Defaults();
};

struct TTextWord {
  std::string Word;  // upper case, at most 61 bytes
  std::int32_t Count = 0;
};

// The words of text, sorted (language 0: byte order; otherwise the locale
// comparison of the language and sort), without duplicates, with their
// number of occurrences. With allowWildcard a '*' ending the text stays on
// the last word.
std::vector<TTextWord> CreateWordsList(std::string_view text, bool allowWildcard, const TTextIndexParams& params,
                                       std::uint16_t languageID, std::uint16_t sortID);

// True when every search word that is not a stop word is found in the field
// text (a word ending in '*' by prefix).
bool TextSearch(std::string_view search, std::string_view fieldText, const TTextIndexParams& params,
                std::uint16_t languageID, std::uint16_t sortID);
// Sum over the search words of their occurrences in the field text.
std::int32_t TextOccurs(std::string_view search, std::string_view fieldText, const TTextIndexParams& params,
                        std::uint16_t languageID, std::uint16_t sortID);

}  // namespace tarn
