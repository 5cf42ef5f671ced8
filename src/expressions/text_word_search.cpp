// Splitting texts into words and matching search words against them.
#include "expressions/text_word_search.h"

#include <algorithm>

#include "platform/code_page.h"
#include "platform/locale_services.h"
#include "expressions/expression_layer.h"

namespace tarn {

namespace {

int CompareWords(std::string_view a, std::string_view b, std::uint16_t languageID, std::uint16_t sortID) {
  if (languageID == 0) {
    const int c = AnsiCompareStr(a, b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  return OSCompareStrings(languageID, sortID, a, b, false);
}

std::string UpperWord(const std::string& word, std::uint16_t languageID, std::uint16_t sortID) {
  return languageID == 0 ? AnsiUpperCase(word) : OSUpperCase(languageID, sortID, word);
}

bool IsStopWord(const std::string& word, const TTextIndexParams& params, std::uint16_t languageID,
                std::uint16_t sortID) {
  return std::any_of(params.StopWords.begin(), params.StopWords.end(), [&](const std::string& stop) {
    return CompareWords(stop, word, languageID, sortID) == 0;
  });
}

bool HasPrefix(std::string_view word, std::string_view prefix, std::uint16_t languageID, std::uint16_t sortID) {
  if (word.size() < prefix.size()) return false;
  return CompareWords(word.substr(0, prefix.size()), prefix, languageID, sortID) == 0;
}

}  // namespace

const TTextIndexParams& TTextIndexParams::Defaults() {
  static const TTextIndexParams defaults = [] {
    TTextIndexParams p;
    p.StopWords = {"A",  "AN",   "AND", "BE",   "FOR",  "HOW",  "IN",   "IS",    "IT",  "OF",  "ON",
                   "OR", "THAT", "THE", "THIS", "TO",   "WAS",  "WHAT", "WHEN", "WHICH", "WHY", "WILL"};
    for (int c = 1; c <= 32; ++c) p.SpaceChars.set(static_cast<std::size_t>(c));
    for (const char c : std::string_view("*+,-./:;<=>\\`")) p.SpaceChars.set(static_cast<unsigned char>(c));
    for (int c = 'A'; c <= 'Z'; ++c) p.IncludeChars.set(static_cast<std::size_t>(c));
    for (int c = 'a'; c <= 'z'; ++c) p.IncludeChars.set(static_cast<std::size_t>(c));
    for (int c = '0'; c <= '9'; ++c) p.IncludeChars.set(static_cast<std::size_t>(c));
    p.IncludeChars.set('_');
    for (int c = 128; c <= 254; ++c) p.IncludeChars.set(static_cast<std::size_t>(c));
    return p;
  }();
  return defaults;
}

std::vector<TTextWord> CreateWordsList(std::string_view text, bool allowWildcard, const TTextIndexParams& params,
                                       std::uint16_t languageID, std::uint16_t sortID) {
  std::vector<TTextWord> words;
  std::string word;
  auto addWord = [&] {
    if (word.empty()) return;
    std::string upper = UpperWord(word, languageID, sortID);
    word.clear();
    auto at = std::lower_bound(words.begin(), words.end(), upper, [&](const TTextWord& w, const std::string& u) {
      return CompareWords(w.Word, u, languageID, sortID) < 0;
    });
    if (at != words.end() && CompareWords(at->Word, upper, languageID, sortID) == 0) {
      ++at->Count;
      return;
    }
    words.insert(at, TTextWord{std::move(upper), 1});
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '*' && allowWildcard && i + 1 == text.size()) {
      if (word.size() < kMaxTextWordLength) word += '*';
      continue;
    }
    if (params.SpaceChars.test(c)) {
      addWord();
      continue;
    }
    if (params.IncludeChars.test(c) && word.size() < kMaxTextWordLength) word += static_cast<char>(c);
  }
  addWord();
  return words;
}

namespace {

// Occurrences of one search word in the field's word list; -1 for a stop word.
std::int32_t CountWord(const TTextWord& search, const std::vector<TTextWord>& field, const TTextIndexParams& params,
                       std::uint16_t languageID, std::uint16_t sortID) {
  const std::string& w = search.Word;
  if (!w.empty() && w.back() == '*') {
    const std::string_view prefix(w.data(), w.size() - 1);
    std::int32_t count = 0;
    for (const auto& f : field)
      if (HasPrefix(f.Word, prefix, languageID, sortID)) count += f.Count;
    return count;
  }
  if (IsStopWord(w, params, languageID, sortID)) return -1;
  for (const auto& f : field)
    if (CompareWords(f.Word, w, languageID, sortID) == 0) return f.Count;
  return 0;
}

}  // namespace

bool TextSearch(std::string_view search, std::string_view fieldText, const TTextIndexParams& params,
                std::uint16_t languageID, std::uint16_t sortID) {
  const auto searchWords = CreateWordsList(search, true, params, languageID, sortID);
  const auto fieldWords = CreateWordsList(fieldText, false, params, languageID, sortID);
  return std::all_of(searchWords.begin(), searchWords.end(), [&](const TTextWord& w) {
    return CountWord(w, fieldWords, params, languageID, sortID) != 0;
  });
}

std::int32_t TextOccurs(std::string_view search, std::string_view fieldText, const TTextIndexParams& params,
                        std::uint16_t languageID, std::uint16_t sortID) {
  const auto searchWords = CreateWordsList(search, true, params, languageID, sortID);
  const auto fieldWords = CreateWordsList(fieldText, false, params, languageID, sortID);
  std::int64_t total = 0;
  for (const auto& w : searchWords) {
    const std::int32_t n = CountWord(w, fieldWords, params, languageID, sortID);
    if (n > 0) total += n;
  }
  return static_cast<std::int32_t>(std::min<std::int64_t>(total, INT32_MAX));
}

}  // namespace tarn
