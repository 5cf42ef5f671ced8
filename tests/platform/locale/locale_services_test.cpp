// Locale collation and case mapping: byte order for language 0, accent-blind
// string-sort collation for table languages, per-language sort orders.
#include "platform/locale_services.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace tarn {
namespace {

constexpr std::uint16_t kAnsi = 0x0000;
constexpr std::uint16_t kEnglishUS = 0x0409;
constexpr std::uint16_t kFrench = 0x040C;
constexpr std::uint16_t kGerman = 0x0407;
constexpr std::uint16_t kGermanSwiss = 0x0807;
constexpr std::uint16_t kCastilian = 0x040A;
constexpr std::uint16_t kModernSpanish = 0x0C0A;
constexpr std::uint16_t kSwedish = 0x041D;
constexpr std::uint16_t kRussian = 0x0419;

int Cmp(std::uint16_t lang, std::uint16_t sort, const char* a, const char* b, bool ci = false) {
  return OSCompareStrings(lang, sort, a, ci, 0, b);
}

TEST(LocaleServices, LocaleIdentifiers) {
  EXPECT_EQ(OSLanguageID(0x07, 2), 0x0807);
  EXPECT_EQ(OSLocaleID(0x0407, 1), 0x10407u);
  EXPECT_EQ(OSPrimaryLanguage(0x0C0A), 0x0A);
  EXPECT_EQ(OSSubLanguage(0x0C0A), 3);
}

TEST(LocaleServices, ValidLocales) {
  EXPECT_TRUE(OSValidLocale(kAnsi, SRT_DEFAULT));
  EXPECT_FALSE(OSValidLocale(kAnsi, SRT_GERMAN_PHONE_BOOK));
  EXPECT_TRUE(OSValidLocale(kEnglishUS, SRT_DEFAULT));
  EXPECT_TRUE(OSValidLocale(kGermanSwiss, SRT_GERMAN_PHONE_BOOK));
  EXPECT_FALSE(OSValidLocale(kEnglishUS, SRT_GERMAN_PHONE_BOOK));
  EXPECT_FALSE(OSValidLocale(kGerman, 2));
  EXPECT_FALSE(OSValidLocale(0x0411, SRT_DEFAULT));  // not a table language here
  EXPECT_FALSE(OSValidLocale(0xFFFF, SRT_DEFAULT));
  EXPECT_EQ(OSCollationLocaleName(kGerman, SRT_GERMAN_PHONE_BOOK), "de_DE@collation=phonebook");
  EXPECT_EQ(OSAnsiCodePage(kAnsi), 936u);
  EXPECT_EQ(OSAnsiCodePage(kRussian), 1251u);
}

struct CollationCase {
  std::uint16_t lang;
  std::uint16_t sort;
  const char* a;
  const char* b;
  bool caseInsensitive;
  int expect;
};

TEST(LocaleServices, CollationTable) {
  const CollationCase cases[] = {
      // Language 0: plain unsigned byte order.
      {kAnsi, 0, "B", "a", false, -1},
      {kAnsi, 0, "abc", "abd", false, -1},
      {kAnsi, 0, "c\xF4te", "cote", false, 1},  // accented byte sorts high
      {kAnsi, 0, "ABC", "abc", true, 0},
      {kAnsi, 0, "ab", "abc", false, -1},
      // English: alphabetical, case significant unless ignored.
      {kEnglishUS, 0, "B", "a", false, 1},
      {kEnglishUS, 0, "apple", "Apple", false, -1},
      {kEnglishUS, 0, "apple", "APPLE", true, 0},
      // French: accents are ignored, case is not.
      {kFrench, 0, "c\xF4te", "cote", false, 0},         // côte = cote
      {kFrench, 0, "\xE9l\xE8ve", "eleve", false, 0},    // élève = eleve
      {kFrench, 0, "\xC9l\xE8ve", "eleve", false, 1},    // Élève: case differs
      {kFrench, 0, "\xC9l\xE8ve", "eleve", true, 0},
      {kFrench, 0, "c\xF4te", "cotf", false, -1},
      // String sort: punctuation is significant and sorts before letters.
      {kEnglishUS, 0, "co-op", "coop", false, -1},
      {kEnglishUS, 0, "coop", "co-op", false, 1},
      {kEnglishUS, 0, "a b", "ab", false, -1},
      {kEnglishUS, 0, "it's", "its", false, -1},
      // Castilian (traditional) sorts ch after c and ll after l; modern Spanish does not.
      {kCastilian, 0, "chico", "cuna", false, 1},
      {kModernSpanish, 0, "chico", "cuna", false, -1},
      {kCastilian, 0, "llama", "luz", false, 1},
      {kModernSpanish, 0, "llama", "luz", false, -1},
      // n with tilde is a letter of its own in Spanish, even accent-blind.
      {kModernSpanish, 0, "pi\xF1" "a", "pinza", false, 1},
      // German: umlauts fold to the base letter; the phone book spells them out.
      {kGerman, 0, "M\xFCller", "Muller", false, 0},
      {kGerman, 0, "M\xFCller", "Muffler", false, 1},
      {kGerman, SRT_GERMAN_PHONE_BOOK, "M\xFCller", "Mueller", false, 0},
      {kGerman, SRT_GERMAN_PHONE_BOOK, "M\xFCller", "Muffler", false, -1},
      {kGermanSwiss, SRT_GERMAN_PHONE_BOOK, "M\xFCller", "Muffler", false, -1},
      // Swedish: a-ring, a-umlaut and o-umlaut are letters after z.
      {kSwedish, 0, "\xE4rlig", "zebra", false, 1},
      {kGerman, 0, "\xE4rlig", "zebra", false, -1},
      {kSwedish, 0, "\xE5", "\xE4", false, -1},
      {kSwedish, 0, "\xE4", "\xF6", false, -1},
      // Russian in code page 1251: Cyrillic order, not byte order.
      {kRussian, 0, "\xE1", "\xE0", false, 1},
      {kRussian, 0, "\xB8", "\xE6", false, -1},  // yo sorts with e, before zhe
  };
  for (const CollationCase& c : cases) {
    EXPECT_EQ(Cmp(c.lang, c.sort, c.a, c.b, c.caseInsensitive), c.expect)
        << std::hex << c.lang << " sort " << c.sort << ": '" << c.a << "' vs '" << c.b << "'";
    // The comparison is antisymmetric.
    EXPECT_EQ(Cmp(c.lang, c.sort, c.b, c.a, c.caseInsensitive), -c.expect);
  }
}

TEST(LocaleServices, CountedLengthComparesPrefixes) {
  // With a length, only that many bytes of each take part; a zero byte ends a string.
  EXPECT_EQ(OSCompareStrings(kEnglishUS, 0, "abcX", false, 3, "abcY"), 0);
  EXPECT_EQ(OSCompareStrings(kEnglishUS, 0, "abcX", false, 4, "abcY"), -1);
  EXPECT_EQ(OSCompareStrings(kAnsi, 0, "abcX", false, 3, "abcY"), 0);
  const char padded[8] = {'a', 'b', 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(OSCompareStrings(kFrench, 0, padded, false, 8, "ab\0zzzzz"), 0);
}

TEST(LocaleServices, CharacterComparisonIsAccentBlind) {
  EXPECT_EQ(OSCompareCharNoAccent(kFrench, 0, '\xE9', 'e'), 0);
  EXPECT_EQ(OSCompareCharNoAccent(kFrench, 0, 'a', 'b'), -1);
  EXPECT_EQ(OSCompareCharNoAccent(kFrench, 0, 'A', 'a'), 1);
  EXPECT_EQ(OSCompareCharNoAccent(kAnsi, 0, '\xE9', 'e'), 1);
}

TEST(LocaleServices, CaseMapping) {
  struct Case { std::uint16_t lang; const char* in; const char* upper; const char* lower; };
  const Case cases[] = {
      {kAnsi, "abc\xD5\xC5z", "ABC\xD5\xC5Z", "abc\xD5\xC5z"},
      {kAnsi, "\xB0\x61", "\xB0\x61", "\xB0\x61"},  // GBK trail byte 'a' stays
      {kFrench, "\xE9l\xE8ve", "\xC9L\xC8VE", "\xE9l\xE8ve"},
      {kFrench, "\xFF", "\x9F", "\xFF"},              // y-diaeresis <-> Y-diaeresis in 1252
      {kFrench, "\xDF", "\xDF", "\xDF"},              // sharp s has no one-byte capital
      {kRussian, "\xE0\xE1\xE2", "\xC0\xC1\xC2", "\xE0\xE1\xE2"},
  };
  for (const Case& c : cases) {
    std::string buf = c.in;
    OSUpperString(c.lang, 0, buf.data());
    EXPECT_EQ(buf, c.upper) << c.in;
    OSLowerString(c.lang, 0, buf.data());
    EXPECT_EQ(buf, c.lower) << c.in;
    EXPECT_EQ(OSUpperCase(c.lang, 0, c.in), c.upper);
  }
}

TEST(LocaleServices, SharedCollatorsFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 500; ++i) {
        if (Cmp(kFrench, 0, "c\xF4te", "cote") != 0) ++failures[t];
        if (Cmp(kCastilian, 0, "chico", "cuna") != 1) ++failures[t];
      }
    });
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
}  // namespace tarn
