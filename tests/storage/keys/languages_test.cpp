// The language and sort catalogue, character maps and language settings.
#include "storage/keys/languages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "platform/locale_services.h"
#include "storage/keys/character_maps.h"
#include "storage/keys/key_compare.h"
#include "storage/keys/language_settings.h"

namespace tarn {
namespace {

TEST(Languages, CatalogueEntriesAndLookups) {
  const TLanguageEntry* list = GetLanguageList();
  struct Case { int index; const char* name; std::uint16_t id; };
  const Case cases[] = {
      {0, "ANSI Standard", 0x0000},          {1, "Afrikaans", 0x0436},
      {16, "Arabic (U.A.E)", 0x3801},        {28, "English (USA)", 0x0409},
      {36, "English (Caribbean)", 0x2409},   {48, "German (Standard)", 0x0407},
      {52, "German (Liechtenstein)", 0x1407}, {62, "Norwegian (Bokmal)", 0x0414},
      {65, "Portuguese (Standard)", 0x0816}, {73, "Spanish (Castilian)", 0x040A},
      {75, "Spanish (Modern)", 0x0C0A},      {97, "Ukranian", 0x0422},
      {98, "Vietnamese", 0x042A},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(list[c.index].name, c.name);
    EXPECT_EQ(GetLanguageIDFromIndex(c.index), c.id) << c.name;
    EXPECT_EQ(GetIndexFromLanguageID(c.id), c.index) << c.name;
    EXPECT_EQ(GetLanguageNameFromIndex(c.index), c.name);
    EXPECT_TRUE(IsValidLanguageConstant(c.name));
    EXPECT_EQ(ConvertLanguageConstantToID(c.name), c.id);
  }
  EXPECT_TRUE(IsValidLanguageConstant("french (canadian)"));
  EXPECT_EQ(ConvertLanguageConstantToID("SWEDISH (FINLAND)"), 0x081D);
  EXPECT_FALSE(IsValidLanguageConstant("Klingon"));
  EXPECT_FALSE(IsValidLanguageConstant("English"));
  EXPECT_EQ(ConvertLanguageConstantToID("Klingon"), 0);
  EXPECT_EQ(GetLanguageIDFromIndex(99), 0);
  EXPECT_EQ(GetLanguageIDFromIndex(-1), 0);
  EXPECT_EQ(GetIndexFromLanguageID(0x0411), -1);
  // IDs are unique, and every catalogue language is a supported locale.
  std::set<std::uint16_t> ids;
  for (std::size_t i = 0; i < kLanguageCount; ++i) {
    ids.insert(list[i].languageID);
    EXPECT_TRUE(OSValidLocale(list[i].languageID, SRT_DEFAULT)) << list[i].name;
  }
  EXPECT_EQ(ids.size(), kLanguageCount);
}

TEST(Languages, SortOrders) {
  const int swiss = GetIndexFromLanguageID(0x0807);
  const int english = GetIndexFromLanguageID(0x0409);
  EXPECT_TRUE(IsValidSortConstant(0x0807, "German Phone Book Order"));
  EXPECT_TRUE(IsValidSortConstant(0x0807, "german phone book order"));
  EXPECT_TRUE(IsValidSortConstant(0x0807, "SRT_GERMAN_PHONE_BOOK"));
  EXPECT_FALSE(IsValidSortConstant(0x0409, "German Phone Book Order"));
  EXPECT_TRUE(IsValidSortConstant(0x0409, "Default Order"));
  EXPECT_FALSE(IsValidSortConstant(0x0409, "Reverse Order"));
  EXPECT_EQ(ConvertSortConstantToID(0x1407, "German Phone Book Order"), SRT_GERMAN_PHONE_BOOK);
  EXPECT_EQ(ConvertSortConstantToID(0x0409, "German Phone Book Order"), 0);
  std::vector<std::uint16_t> sorts;
  GetSortIDs(swiss, sorts);
  EXPECT_EQ(sorts, (std::vector<std::uint16_t>{SRT_DEFAULT, SRT_GERMAN_PHONE_BOOK}));
  GetSortIDs(english, sorts);
  EXPECT_EQ(sorts, (std::vector<std::uint16_t>{SRT_DEFAULT}));
  GetSortIDs(500, sorts);
  EXPECT_TRUE(sorts.empty());
  EXPECT_EQ(GetSortIDFromIndex(swiss, 1), SRT_GERMAN_PHONE_BOOK);
  EXPECT_EQ(GetIndexFromSortID(swiss, SRT_GERMAN_PHONE_BOOK), 1);
  EXPECT_EQ(GetIndexFromSortID(english, SRT_GERMAN_PHONE_BOOK), -1);
  EXPECT_EQ(GetSortIDStringFromIndex(swiss, 1), "German Phone Book Order");
  EXPECT_EQ(GetSortIDStringFromIndex(english, 0), "Default Order");
  EXPECT_EQ(GetSortIDStringFromIndex(english, 1), "");
  // Exactly the five German languages offer the phone book.
  for (std::size_t i = 0; i < kLanguageCount; ++i) {
    GetSortIDs(static_cast<int>(i), sorts);
    const bool german = i >= kFirstGermanLanguageIndex && i <= kLastGermanLanguageIndex;
    EXPECT_EQ(sorts.size(), german ? 2u : 1u) << i;
  }
}

int PositionIn(const TLanguageCharMap& map, char c) {
  return static_cast<int>(std::find(map.begin(), map.end(), static_cast<std::uint8_t>(c)) - map.begin());
}

TEST(CharacterMaps, MapsOrderBytesByCollation) {
  TLanguageCharMap ansi;
  GetLanguageCharMap(0, 0, ansi);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(ansi[i], i);

  TLanguageCharMap french;
  GetLanguageCharMap(0x040C, 0, french);
  // A permutation of all 256 bytes.
  std::vector<std::uint8_t> sorted(french.begin(), french.end());
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < 256; ++i) ASSERT_EQ(sorted[i], i);
  // Letters in alphabetical order regardless of byte value; accents beside their letter.
  EXPECT_LT(PositionIn(french, 'a'), PositionIn(french, 'B'));
  EXPECT_LT(PositionIn(french, 'B'), PositionIn(french, 'c'));
  EXPECT_LT(PositionIn(french, '\xE9'), PositionIn(french, 'f'));
  EXPECT_GT(PositionIn(french, '\xE9'), PositionIn(french, 'd'));
  // Neighbours in the map never compare in the wrong order.
  for (int i = 1; i < 256; ++i)
    EXPECT_LE(CompareChar(0x040C, 0, static_cast<char>(french[i - 1]), static_cast<char>(french[i])), 0);

  TLanguageCharMap swedish;
  GetLanguageCharMap(0x041D, 0, swedish);
  EXPECT_GT(PositionIn(swedish, '\xE4'), PositionIn(swedish, 'z'));  // a-umlaut after z
}

TEST(CharacterMaps, ListBuildsEachPairOnceAcrossThreads) {
  TLanguageCharMapsList list;
  std::vector<std::thread> threads;
  std::vector<TLanguageCharMap> results(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&list, &results, t] {
      for (int i = 0; i < 10; ++i) list.GetMap(0x0407, static_cast<std::uint16_t>(i % 2), results[t]);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(list.Count(), 2u);
  for (int t = 1; t < 4; ++t) EXPECT_EQ(results[t], results[0]);
  EXPECT_EQ(results[0], BuildLanguageCharMap(0x0407, SRT_GERMAN_PHONE_BOOK));
}

TEST(LanguageSettings, AnsiStandardDefaults) {
  TLanguageSettings s;
  GetDefaultLanguageSettings(0, 0, s);
  EXPECT_EQ(s.CurrencyString, "");
  EXPECT_EQ(s.ThousandSeparator, ',');
  EXPECT_EQ(s.DecimalSeparator, '.');
  EXPECT_EQ(s.CurrencyDecimals, 2);
  EXPECT_EQ(s.DateSeparator, '-');
  EXPECT_EQ(s.ShortDateFormat, "yyyy-mm-dd");
  EXPECT_EQ(s.LongDateFormat, "dddd, mmmm dd, yyyy");
  EXPECT_EQ(s.TimeSeparator, ':');
  EXPECT_EQ(s.TimeAMString, "AM");
  EXPECT_EQ(s.ShortTimeFormat, "hh:mm");
  EXPECT_EQ(s.LongTimeFormat, "hh:mm:ss");
  EXPECT_EQ(s.LongMonthNames[8], "September");
  EXPECT_EQ(s.ShortDayNames[0], "Sun");
}

TEST(LanguageSettings, LocaleDefaultsComeFromTheLocale) {
  TLanguageSettings de;
  GetDefaultLanguageSettings(0x0407, 0, de);
  EXPECT_EQ(de.DecimalSeparator, ',');
  EXPECT_EQ(de.ThousandSeparator, '.');
  EXPECT_EQ(de.LongMonthNames[0], "Januar");
  EXPECT_EQ(de.LongMonthNames[2], "M\xE4rz");  // in code page 1252
  EXPECT_EQ(de.LongDayNames[1], "Montag");
  EXPECT_EQ(de.DateSeparator, '.');
  EXPECT_EQ(de.CurrencyString, "\x80");  // the euro sign in code page 1252
  TLanguageSettings us;
  GetDefaultLanguageSettings(0x0409, 0, us);
  EXPECT_EQ(us.CurrencyString, "$");
  EXPECT_EQ(us.CurrencyFormat, 0);
  EXPECT_EQ(us.DateSeparator, '/');
  EXPECT_EQ(us.ShortTimeFormat, "h:mm AMPM");  // narrow no-break space read as a space
  // Unknown languages keep the usual defaults.
  TLanguageSettings unknown, ansi;
  GetDefaultLanguageSettings(0x0411, 0, unknown);
  GetDefaultLanguageSettings(0, 0, ansi);
  EXPECT_EQ(unknown, ansi);
}

TEST(LanguageSettings, SwapUnderTheLock) {
  TLanguageSettings original, german, seen;
  GetLanguageSettings(original);
  GetDefaultLanguageSettings(0x0407, 0, german);
  {
    TLanguageSettingsLock lock;
    SetLanguageSettings(german);
    GetLanguageSettings(seen);
    EXPECT_EQ(seen, german);
    SetLanguageSettings(original);
  }
  GetLanguageSettings(seen);
  EXPECT_EQ(seen, original);
}

}  // namespace
}  // namespace tarn
