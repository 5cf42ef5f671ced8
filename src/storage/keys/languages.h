// The catalogue of table languages and sort orders: language names with their
// language IDs (the position in the list is the language index) and the sort
// orders each language offers. Names compare without regard to case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locale_services.h"

namespace tarn {

struct TLanguageEntry {
  const char* name;
  std::uint16_t languageID;
};

struct TSortEntry {
  const char* name;          // "Default Order", "German Phone Book Order"
  const char* constantName;  // "SRT_DEFAULT", "SRT_GERMAN_PHONE_BOOK"
  std::uint16_t sortID;
};

inline constexpr std::size_t kLanguageCount = 99;

// The whole catalogue, in language-index order.
const TLanguageEntry* GetLanguageList() noexcept;

// Language index of the five German languages with the phone-book sort.
inline constexpr int kFirstGermanLanguageIndex = 48;
inline constexpr int kLastGermanLanguageIndex = 52;

// True when name (ignoring case) is a language name of the catalogue.
bool IsValidLanguageConstant(std::string_view name);
// The language ID of a language name; 0 when unknown.
std::uint16_t ConvertLanguageConstantToID(std::string_view name);
// The language ID at an index; 0 when the index is out of range.
std::uint16_t GetLanguageIDFromIndex(int languageIndex);
// The index of a language ID; -1 when not in the catalogue.
int GetIndexFromLanguageID(std::uint16_t languageID);
// The name at an index; empty when out of range.
std::string GetLanguageNameFromIndex(int languageIndex);

// True when name (a sort name or its constant name, ignoring case) is a sort
// order the language offers.
bool IsValidSortConstant(std::uint16_t languageID, std::string_view name);
// The sort ID of a sort name for the language; 0 when unknown.
std::uint16_t ConvertSortConstantToID(std::uint16_t languageID, std::string_view name);
// The sort IDs a language (by index) offers, in sort-index order.
void GetSortIDs(int languageIndex, std::vector<std::uint16_t>& list);
// The sort ID at a sort index of a language; 0 when out of range.
std::uint16_t GetSortIDFromIndex(int languageIndex, int sortIndex);
// The sort index of a sort ID within a language; -1 when not offered.
int GetIndexFromSortID(int languageIndex, std::uint16_t sortID);
// The sort name at a sort index of a language; empty when out of range.
std::string GetSortIDStringFromIndex(int languageIndex, int sortIndex);

}  // namespace tarn
