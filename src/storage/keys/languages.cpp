// The language and sort catalogue and its look-ups.
#include "storage/keys/languages.h"

#include <array>
#include <utility>

#include "platform/code_page.h"

namespace tarn {

namespace {

constexpr std::array<TLanguageEntry, kLanguageCount> kLanguages{{
    {"ANSI Standard", 0x0000},  // 0
    {"Afrikaans", 0x0436},  // 1
    {"Albanian", 0x041C},  // 2
    {"Arabic (Saudi Arabia)", 0x0401},  // 3
    {"Arabic (Iraq)", 0x0801},  // 4
    {"Arabic (Egypt)", 0x0C01},  // 5
    {"Arabic (Libya)", 0x1001},  // 6
    {"Arabic (Algeria)", 0x1401},  // 7
    {"Arabic (Morocco)", 0x1801},  // 8
    {"Arabic (Tunisia)", 0x1C01},  // 9
    {"Arabic (Oman)", 0x2001},  // 10
    {"Arabic (Yemen)", 0x2401},  // 11
    {"Arabic (Syria)", 0x2801},  // 12
    {"Arabic (Jordan)", 0x2C01},  // 13
    {"Arabic (Lebanon)", 0x3001},  // 14
    {"Arabic (Kuwait)", 0x3401},  // 15
    {"Arabic (U.A.E)", 0x3801},  // 16
    {"Arabic (Bahrain)", 0x3C01},  // 17
    {"Arabic (Qatar)", 0x4001},  // 18
    {"Basque", 0x042D},  // 19
    {"Belarusian", 0x0423},  // 20
    {"Bulgarian", 0x0402},  // 21
    {"Catalan", 0x0403},  // 22
    {"Croatian", 0x041A},  // 23
    {"Czech", 0x0405},  // 24
    {"Danish", 0x0406},  // 25
    {"Dutch (Standard)", 0x0413},  // 26
    {"Dutch (Belgian)", 0x0813},  // 27
    {"English (USA)", 0x0409},  // 28
    {"English (UK)", 0x0809},  // 29
    {"English (Australian)", 0x0C09},  // 30
    {"English (Canadian)", 0x1009},  // 31
    {"English (New Zealand)", 0x1409},  // 32
    {"English (Irish)", 0x1809},  // 33
    {"English (South Africa)", 0x1C09},  // 34
    {"English (Jamaica)", 0x2009},  // 35
    {"English (Caribbean)", 0x2409},  // 36
    {"English (Belize)", 0x2809},  // 37
    {"English (Trinidad)", 0x2C09},  // 38
    {"Estonian", 0x0425},  // 39
    {"Faeroese", 0x0438},  // 40
    {"Farsi", 0x0429},  // 41
    {"Finnish", 0x040B},  // 42
    {"French (Standard)", 0x040C},  // 43
    {"French (Belgian)", 0x080C},  // 44
    {"French (Canadian)", 0x0C0C},  // 45
    {"French (Swiss)", 0x100C},  // 46
    {"French (Luxembourg)", 0x140C},  // 47
    {"German (Standard)", 0x0407},  // 48
    {"German (Swiss)", 0x0807},  // 49
    {"German (Austrian)", 0x0C07},  // 50
    {"German (Luxembourg)", 0x1007},  // 51
    {"German (Liechtenstein)", 0x1407},  // 52
    {"Greek", 0x0408},  // 53
    {"Hebrew", 0x040D},  // 54
    {"Hungarian", 0x040E},  // 55
    {"Icelandic", 0x040F},  // 56
    {"Indonesian", 0x0421},  // 57
    {"Italian (Standard)", 0x0410},  // 58
    {"Italian (Swiss)", 0x0810},  // 59
    {"Latvian", 0x0426},  // 60
    {"Lithuanian", 0x0427},  // 61
    {"Norwegian (Bokmal)", 0x0414},  // 62
    {"Norwegian (Nynorsk)", 0x0814},  // 63
    {"Polish", 0x0415},  // 64
    {"Portuguese (Standard)", 0x0816},  // 65
    {"Portuguese (Brazilian)", 0x0416},  // 66
    {"Romanian", 0x0418},  // 67
    {"Russian", 0x0419},  // 68
    {"Serbian (Latin)", 0x081A},  // 69
    {"Serbian (Cyrillic)", 0x0C1A},  // 70
    {"Slovak", 0x041B},  // 71
    {"Slovenian", 0x0424},  // 72
    {"Spanish (Castilian)", 0x040A},  // 73
    {"Spanish (Mexican)", 0x080A},  // 74
    {"Spanish (Modern)", 0x0C0A},  // 75
    {"Spanish (Guatemala)", 0x100A},  // 76
    {"Spanish (Costa Rica)", 0x140A},  // 77
    {"Spanish (Panama)", 0x180A},  // 78
    {"Spanish (Dominican Republic)", 0x1C0A},  // 79
    {"Spanish (Venezuela)", 0x200A},  // 80
    {"Spanish (Colombia)", 0x240A},  // 81
    {"Spanish (Peru)", 0x280A},  // 82
    {"Spanish (Argentina)", 0x2C0A},  // 83
    {"Spanish (Ecuador)", 0x300A},  // 84
    {"Spanish (Chile)", 0x340A},  // 85
    {"Spanish (Uruguay)", 0x380A},  // 86
    {"Spanish (Paraguay)", 0x3C0A},  // 87
    {"Spanish (Bolivia)", 0x400A},  // 88
    {"Spanish (El Salvador)", 0x440A},  // 89
    {"Spanish (Honduras)", 0x480A},  // 90
    {"Spanish (Nicaragua)", 0x4C0A},  // 91
    {"Spanish (Puerto Rico)", 0x500A},  // 92
    {"Swedish (Standard)", 0x041D},  // 93
    {"Swedish (Finland)", 0x081D},  // 94
    {"Thai", 0x041E},  // 95
    {"Turkish", 0x041F},  // 96
    {"Ukranian", 0x0422},  // 97
    {"Vietnamese", 0x042A},  // 98
}};

constexpr TSortEntry kDefaultSort{"Default Order", "SRT_DEFAULT", SRT_DEFAULT};
constexpr TSortEntry kGermanSorts[] = {
    kDefaultSort,
    {"German Phone Book Order", "SRT_GERMAN_PHONE_BOOK", SRT_GERMAN_PHONE_BOOK},
};

bool ValidLanguageIndex(int index) noexcept { return index >= 0 && static_cast<std::size_t>(index) < kLanguageCount; }

bool IsGermanIndex(int index) noexcept {
  return index >= kFirstGermanLanguageIndex && index <= kLastGermanLanguageIndex;
}

// The sort orders of a language index (empty for an invalid index).
std::pair<const TSortEntry*, int> SortsOf(int languageIndex) noexcept {
  if (!ValidLanguageIndex(languageIndex)) return {nullptr, 0};
  if (IsGermanIndex(languageIndex)) return {kGermanSorts, 2};
  return {&kDefaultSort, 1};
}

const TSortEntry* FindSort(std::uint16_t languageID, std::string_view name) {
  const auto [sorts, count] = SortsOf(GetIndexFromLanguageID(languageID));
  for (int i = 0; i < count; ++i)
    if (AnsiSameText(name, sorts[i].name) || AnsiSameText(name, sorts[i].constantName)) return &sorts[i];
  return nullptr;
}

}  // namespace

static_assert(kLanguages[0].languageID == 0 && kLanguages[kFirstGermanLanguageIndex].languageID == 0x0407 &&
              kLanguages[kLastGermanLanguageIndex].languageID == 0x1407);

const TLanguageEntry* GetLanguageList() noexcept { return kLanguages.data(); }

bool IsValidLanguageConstant(std::string_view name) {
  for (const auto& l : kLanguages)
    if (AnsiSameText(name, l.name)) return true;
  return false;
}

std::uint16_t ConvertLanguageConstantToID(std::string_view name) {
  for (const auto& l : kLanguages)
    if (AnsiSameText(name, l.name)) return l.languageID;
  return 0;
}

std::uint16_t GetLanguageIDFromIndex(int languageIndex) {
  return ValidLanguageIndex(languageIndex) ? kLanguages[static_cast<std::size_t>(languageIndex)].languageID : 0;
}

int GetIndexFromLanguageID(std::uint16_t languageID) {
  for (std::size_t i = 0; i < kLanguageCount; ++i)
    if (kLanguages[i].languageID == languageID) return static_cast<int>(i);
  return -1;
}

std::string GetLanguageNameFromIndex(int languageIndex) {
  return ValidLanguageIndex(languageIndex) ? kLanguages[static_cast<std::size_t>(languageIndex)].name : std::string();
}

bool IsValidSortConstant(std::uint16_t languageID, std::string_view name) { return FindSort(languageID, name) != nullptr; }

std::uint16_t ConvertSortConstantToID(std::uint16_t languageID, std::string_view name) {
  const TSortEntry* sort = FindSort(languageID, name);
  return sort ? sort->sortID : 0;
}

void GetSortIDs(int languageIndex, std::vector<std::uint16_t>& list) {
  list.clear();
  const auto [sorts, count] = SortsOf(languageIndex);
  for (int i = 0; i < count; ++i) list.push_back(sorts[i].sortID);
}

std::uint16_t GetSortIDFromIndex(int languageIndex, int sortIndex) {
  const auto [sorts, count] = SortsOf(languageIndex);
  return sortIndex >= 0 && sortIndex < count ? sorts[sortIndex].sortID : 0;
}

int GetIndexFromSortID(int languageIndex, std::uint16_t sortID) {
  const auto [sorts, count] = SortsOf(languageIndex);
  for (int i = 0; i < count; ++i)
    if (sorts[i].sortID == sortID) return i;
  return -1;
}

std::string GetSortIDStringFromIndex(int languageIndex, int sortIndex) {
  const auto [sorts, count] = SortsOf(languageIndex);
  return sortIndex >= 0 && sortIndex < count ? sorts[sortIndex].name : std::string();
}

}  // namespace tarn
