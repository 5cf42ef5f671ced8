// Reading of Windows-style profile files ("Vantrel.ini"): where the file is looked
// up, and GetPrivateProfileString semantics for one value.
#pragma once

#include <string>
#include <string_view>

namespace tarn {

// Longest value GetPrivateProfileString hands back (the caller's buffer is 2048 bytes).
inline constexpr std::size_t kProfileValueMax = 2047;

// Where a profile file given without a directory is looked up: the directory named
// by $VANTREL_CONFIG_DIR, else the directory of the library holding this code.
std::string ProfileFilePath(std::string_view fileName);

// The value of `key` in `[section]` of the file at `path`, or `defaultValue` when the
// file, the section or the key is missing. Sections and keys compare without regard
// to ASCII case; the first match wins; values are trimmed and lose one pair of outer
// quotes; lines starting with ';' are comments; CR LF line ends are accepted; the
// answer is cut to kProfileValueMax bytes.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string& path);

// The system temporary directory with a trailing '/': $TMPDIR when set, else /tmp/.
std::string GetTempPath();

}  // namespace tarn
