// Locale services on ICU: the supported Windows language identifiers with
// their ICU locales and ANSI code pages, shared collators, and 256-entry
// code-page tables for decoding and case mapping.
#include "platform/locale_services.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/code_page.h"

namespace tarn {

namespace {

struct TSupportedLanguage {
  std::uint16_t languageID;
  const char* icuLocale;
  unsigned codePage;
};

// Every supported language: its ICU locale and its ANSI code page.
constexpr TSupportedLanguage kSupportedLanguages[] = {
    {0x0436, "af_ZA", 1252}, {0x041C, "sq_AL", 1250}, {0x0401, "ar_SA", 1256}, {0x0801, "ar_IQ", 1256},
    {0x0C01, "ar_EG", 1256}, {0x1001, "ar_LY", 1256}, {0x1401, "ar_DZ", 1256}, {0x1801, "ar_MA", 1256},
    {0x1C01, "ar_TN", 1256}, {0x2001, "ar_OM", 1256}, {0x2401, "ar_YE", 1256}, {0x2801, "ar_SY", 1256},
    {0x2C01, "ar_JO", 1256}, {0x3001, "ar_LB", 1256}, {0x3401, "ar_KW", 1256}, {0x3801, "ar_AE", 1256},
    {0x3C01, "ar_BH", 1256}, {0x4001, "ar_QA", 1256}, {0x042D, "eu_ES", 1252}, {0x0423, "be_BY", 1251},
    {0x0402, "bg_BG", 1251}, {0x0403, "ca_ES", 1252}, {0x041A, "hr_HR", 1250}, {0x0405, "cs_CZ", 1250},
    {0x0406, "da_DK", 1252}, {0x0413, "nl_NL", 1252}, {0x0813, "nl_BE", 1252}, {0x0409, "en_US", 1252},
    {0x0809, "en_GB", 1252}, {0x0C09, "en_AU", 1252}, {0x1009, "en_CA", 1252}, {0x1409, "en_NZ", 1252},
    {0x1809, "en_IE", 1252}, {0x1C09, "en_ZA", 1252}, {0x2009, "en_JM", 1252}, {0x2409, "en_029", 1252},
    {0x2809, "en_BZ", 1252}, {0x2C09, "en_TT", 1252}, {0x0425, "et_EE", 1257}, {0x0438, "fo_FO", 1252},
    {0x0429, "fa_IR", 1256}, {0x040B, "fi_FI", 1252}, {0x040C, "fr_FR", 1252}, {0x080C, "fr_BE", 1252},
    {0x0C0C, "fr_CA", 1252}, {0x100C, "fr_CH", 1252}, {0x140C, "fr_LU", 1252}, {0x0407, "de_DE", 1252},
    {0x0807, "de_CH", 1252}, {0x0C07, "de_AT", 1252}, {0x1007, "de_LU", 1252}, {0x1407, "de_LI", 1252},
    {0x0408, "el_GR", 1253}, {0x040D, "he_IL", 1255}, {0x040E, "hu_HU", 1250}, {0x040F, "is_IS", 1252},
    {0x0421, "id_ID", 1252}, {0x0410, "it_IT", 1252}, {0x0810, "it_CH", 1252}, {0x0426, "lv_LV", 1257},
    {0x0427, "lt_LT", 1257}, {0x0414, "nb_NO", 1252}, {0x0814, "nn_NO", 1252}, {0x0415, "pl_PL", 1250},
    {0x0816, "pt_PT", 1252}, {0x0416, "pt_BR", 1252}, {0x0418, "ro_RO", 1250}, {0x0419, "ru_RU", 1251},
    {0x081A, "sr_Latn_RS", 1250}, {0x0C1A, "sr_Cyrl_RS", 1251}, {0x041B, "sk_SK", 1250}, {0x0424, "sl_SI", 1250},
    // Castilian is the traditional Spanish sort (ch and ll are letters of their own).
    {0x040A, "es_ES@collation=traditional", 1252}, {0x080A, "es_MX", 1252}, {0x0C0A, "es_ES", 1252},
    {0x100A, "es_GT", 1252}, {0x140A, "es_CR", 1252}, {0x180A, "es_PA", 1252}, {0x1C0A, "es_DO", 1252},
    {0x200A, "es_VE", 1252}, {0x240A, "es_CO", 1252}, {0x280A, "es_PE", 1252}, {0x2C0A, "es_AR", 1252},
    {0x300A, "es_EC", 1252}, {0x340A, "es_CL", 1252}, {0x380A, "es_UY", 1252}, {0x3C0A, "es_PY", 1252},
    {0x400A, "es_BO", 1252}, {0x440A, "es_SV", 1252}, {0x480A, "es_HN", 1252}, {0x4C0A, "es_NI", 1252},
    {0x500A, "es_PR", 1252}, {0x041D, "sv_SE", 1252}, {0x081D, "sv_FI", 1252}, {0x041E, "th_TH", 874},
    {0x041F, "tr_TR", 1254}, {0x0422, "uk_UA", 1251}, {0x042A, "vi_VN", 1258},
};

const TSupportedLanguage* FindSupportedLanguage(std::uint16_t languageID) noexcept {
  for (const auto& l : kSupportedLanguages)
    if (l.languageID == languageID) return &l;
  return nullptr;
}

bool SortSupported(std::uint16_t languageID, std::uint16_t sortID) noexcept {
  if (sortID == SRT_DEFAULT) return true;
  return sortID == SRT_GERMAN_PHONE_BOOK && OSPrimaryLanguage(languageID) == kLangGerman;
}

std::string LocaleName(const TSupportedLanguage& lang, std::uint16_t sortID) {
  std::string name = lang.icuLocale;
  if (sortID == SRT_GERMAN_PHONE_BOOK) name += "@collation=phonebook";
  return name;
}

// A single-byte code page decoded into code points, with byte-level case maps.
struct TCodePageTable {
  std::array<UChar, 256> toUnicode{};
  std::array<unsigned char, 256> upper{};
  std::array<unsigned char, 256> lower{};
};

struct ConverterCloser {
  void operator()(UConverter* c) const noexcept { ucnv_close(c); }
};

std::unique_ptr<TCodePageTable> BuildCodePageTable(unsigned codePage) {
  auto table = std::make_unique<TCodePageTable>();
  for (unsigned b = 0; b < 256; ++b) table->toUnicode[b] = static_cast<UChar>(b);  // Latin-1 fallback
  const std::string name = "windows-" + std::to_string(codePage);
  UErrorCode err = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterCloser> conv(ucnv_open(name.c_str(), &err));
  if (U_SUCCESS(err) && conv) {
    err = U_ZERO_ERROR;
    ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    for (unsigned b = 1; b < 256; ++b) {
      const char src = static_cast<char>(b);
      UChar dest[4];
      err = U_ZERO_ERROR;
      const int32_t n = ucnv_toUChars(conv.get(), dest, 4, &src, 1, &err);
      if (U_SUCCESS(err) && n == 1) table->toUnicode[b] = dest[0];
    }
  }
  // Byte-level case maps: a byte maps to the byte of its case partner when the
  // partner is in the code page, else to itself.
  std::map<UChar, unsigned char> fromUnicode;
  for (unsigned b = 256; b-- > 0;) fromUnicode[table->toUnicode[b]] = static_cast<unsigned char>(b);
  for (unsigned b = 0; b < 256; ++b) {
    const UChar32 cp = table->toUnicode[b];
    table->upper[b] = table->lower[b] = static_cast<unsigned char>(b);
    const auto up = fromUnicode.find(static_cast<UChar>(u_toupper(cp)));
    if (u_toupper(cp) <= 0xFFFF && up != fromUnicode.end()) table->upper[b] = up->second;
    const auto low = fromUnicode.find(static_cast<UChar>(u_tolower(cp)));
    if (u_tolower(cp) <= 0xFFFF && low != fromUnicode.end()) table->lower[b] = low->second;
  }
  return table;
}

struct CollatorCloser {
  void operator()(UCollator* c) const noexcept { ucol_close(c); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

CollatorPtr OpenCollator(const std::string& localeName, bool caseInsensitive) {
  UErrorCode err = U_ZERO_ERROR;
  CollatorPtr coll(ucol_open(localeName.c_str(), &err));
  if (U_FAILURE(err) || !coll) return nullptr;
  // Accent-blind: primary strength; case is a level of its own unless ignored.
  ucol_setAttribute(coll.get(), UCOL_STRENGTH, UCOL_PRIMARY, &err);
  ucol_setAttribute(coll.get(), UCOL_CASE_LEVEL, caseInsensitive ? UCOL_OFF : UCOL_ON, &err);
  // String sort: punctuation and symbols are ordinary characters.
  ucol_setAttribute(coll.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &err);
  ucol_setAttribute(coll.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &err);
  if (U_FAILURE(err)) return nullptr;
  return coll;
}

// Everything one supported locale needs; created once, never destroyed.
struct TLocaleEntry {
  const TCodePageTable* codePage = nullptr;
  CollatorPtr caseSensitive;
  CollatorPtr caseInsensitive;
};

class TLocaleRegistry {
 public:
  // The entry for a supported locale, or nullptr.
  const TLocaleEntry* Find(std::uint32_t localeID) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = entries_.find(localeID);
    if (it != entries_.end()) return it->second.get();
    const std::uint16_t languageID = OSLocaleLanguage(localeID);
    const std::uint16_t sortID = OSLocaleSort(localeID);
    const TSupportedLanguage* lang = FindSupportedLanguage(languageID);
    std::unique_ptr<TLocaleEntry> entry;
    if (lang && SortSupported(languageID, sortID)) {
      entry = std::make_unique<TLocaleEntry>();
      entry->codePage = CodePageLocked(lang->codePage);
      const std::string name = LocaleName(*lang, sortID);
      entry->caseSensitive = OpenCollator(name, false);
      entry->caseInsensitive = OpenCollator(name, true);
      if (!entry->caseSensitive || !entry->caseInsensitive) entry.reset();
    }
    const TLocaleEntry* result = entry.get();
    entries_.emplace(localeID, std::move(entry));  // remembers failures too
    return result;
  }

 private:
  const TCodePageTable* CodePageLocked(unsigned codePage) {
    auto& slot = codePages_[codePage];
    if (!slot) slot = BuildCodePageTable(codePage);
    return slot.get();
  }

  std::mutex lock_;
  std::map<std::uint32_t, std::unique_ptr<TLocaleEntry>> entries_;
  std::map<unsigned, std::unique_ptr<TCodePageTable>> codePages_;
};

TLocaleRegistry& Registry() {
  static TLocaleRegistry registry;  // lives to process exit: collators stay valid
  return registry;
}

// Per-thread memo of the last locale looked up, so that repeated comparisons
// under one locale take no lock.
const TLocaleEntry* FindLocale(std::uint16_t languageID, std::uint16_t sortID) {
  struct TLast {
    std::uint32_t localeID = 0xFFFFFFFFu;
    const TLocaleEntry* entry = nullptr;
  };
  thread_local TLast last;
  const std::uint32_t localeID = OSLocaleID(languageID, sortID);
  if (last.localeID != localeID) {
    last.entry = Registry().Find(localeID);
    last.localeID = localeID;
  }
  return last.entry;
}

int Sign(int v) noexcept { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// Byte order of two counted strings, optionally upper-cased with the system code page.
int CompareBytesOrder(std::string_view a, std::string_view b, bool caseInsensitive) {
  if (caseInsensitive) return Sign(AnsiCompareText(a, b));
  return Sign(AnsiCompareStr(a, b));
}

// Decodes bytes into code units with the table, into a small inline buffer.
class TDecoded {
 public:
  TDecoded(const TCodePageTable& table, std::string_view s) {
    UChar* out = s.size() <= inline_.size() ? inline_.data() : (heap_.resize(s.size()), heap_.data());
    for (std::size_t i = 0; i < s.size(); ++i) out[i] = table.toUnicode[static_cast<unsigned char>(s[i])];
    data_ = out;
    size_ = static_cast<int32_t>(s.size());
  }
  const UChar* Data() const noexcept { return data_; }
  int32_t Size() const noexcept { return size_; }

 private:
  std::array<UChar, 320> inline_;
  std::vector<UChar> heap_;
  const UChar* data_ = nullptr;
  int32_t size_ = 0;
};

int CollateCounted(const TLocaleEntry& entry, std::string_view a, std::string_view b, bool caseInsensitive) {
  const UCollator* coll = caseInsensitive ? entry.caseInsensitive.get() : entry.caseSensitive.get();
  const TDecoded da(*entry.codePage, a);
  const TDecoded db(*entry.codePage, b);
  switch (ucol_strcoll(coll, da.Data(), da.Size(), db.Data(), db.Size())) {
    case UCOL_LESS: return -1;
    case UCOL_GREATER: return 1;
    default: return 0;
  }
}

std::string_view BoundedString(const char* s, std::size_t length) noexcept {
  if (!s) return {};
  if (length == 0) return std::string_view(s);
  const void* zero = std::memchr(s, 0, length);
  return std::string_view(s, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - s) : length);
}

template <bool Upper>
void MapCounted(std::uint16_t languageID, std::uint16_t sortID, char* s, std::size_t length) {
  if (languageID == 0) {
    Upper ? AnsiUpperCaseInPlace(s, length) : AnsiLowerCaseInPlace(s, length);
    return;
  }
  const TLocaleEntry* entry = FindLocale(languageID, sortID);
  if (!entry) {
    // Unsupported locale: only ASCII letters change.
    for (std::size_t i = 0; i < length; ++i) {
      const auto c = static_cast<unsigned char>(s[i]);
      if (Upper && c >= 'a' && c <= 'z') s[i] = static_cast<char>(c - 32);
      if (!Upper && c >= 'A' && c <= 'Z') s[i] = static_cast<char>(c + 32);
    }
    return;
  }
  const auto& map = Upper ? entry->codePage->upper : entry->codePage->lower;
  for (std::size_t i = 0; i < length; ++i) s[i] = static_cast<char>(map[static_cast<unsigned char>(s[i])]);
}

}  // namespace

bool OSValidLocale(std::uint32_t localeID) {
  const std::uint16_t languageID = OSLocaleLanguage(localeID);
  const std::uint16_t sortID = OSLocaleSort(localeID);
  if (languageID == 0) return sortID == SRT_DEFAULT;
  return FindLocale(languageID, sortID) != nullptr;
}

unsigned OSAnsiCodePage(std::uint16_t languageID) {
  if (languageID == 0) return kSystemCodePage;
  const TSupportedLanguage* lang = FindSupportedLanguage(languageID);
  return lang ? lang->codePage : 0;
}

std::string OSCollationLocaleName(std::uint16_t languageID, std::uint16_t sortID) {
  const TSupportedLanguage* lang = FindSupportedLanguage(languageID);
  if (!lang || !SortSupported(languageID, sortID)) return {};
  return LocaleName(*lang, sortID);
}

int OSCompareStrings(std::uint16_t languageID, std::uint16_t sortID, const char* s1, bool caseInsensitive,
                     std::size_t length, const char* s2) {
  return OSCompareStrings(languageID, sortID, BoundedString(s1, length), BoundedString(s2, length), caseInsensitive);
}

int OSCompareStrings(std::uint16_t languageID, std::uint16_t sortID, std::string_view s1, std::string_view s2,
                     bool caseInsensitive) {
  if (languageID != 0) {
    if (const TLocaleEntry* entry = FindLocale(languageID, sortID)) return CollateCounted(*entry, s1, s2, caseInsensitive);
  }
  return CompareBytesOrder(s1, s2, caseInsensitive);
}

int OSCompareCharNoAccent(std::uint16_t languageID, std::uint16_t sortID, char c1, char c2) {
  return OSCompareStrings(languageID, sortID, std::string_view(&c1, 1), std::string_view(&c2, 1), false);
}

void OSUpperString(std::uint16_t languageID, std::uint16_t sortID, char* s) {
  if (s) MapCounted<true>(languageID, sortID, s, std::strlen(s));
}

void OSLowerString(std::uint16_t languageID, std::uint16_t sortID, char* s) {
  if (s) MapCounted<false>(languageID, sortID, s, std::strlen(s));
}

std::string OSUpperCase(std::uint16_t languageID, std::uint16_t sortID, std::string_view s) {
  std::string result(s);
  MapCounted<true>(languageID, sortID, result.data(), result.size());
  return result;
}

std::string OSLowerCase(std::uint16_t languageID, std::uint16_t sortID, std::string_view s) {
  std::string result(s);
  MapCounted<false>(languageID, sortID, result.data(), result.size());
  return result;
}

}  // namespace tarn
