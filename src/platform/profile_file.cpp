// Profile-file lookup and value reading.
#include "platform/profile_file.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tarn {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

std::string DirectoryOfThisLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DirectoryOfThisLibrary), &info) == 0 || !info.dli_fname)
    return "./";
  std::string path = info.dli_fname;
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

}  // namespace

std::string ProfileFilePath(std::string_view fileName) {
  std::string dir;
  if (const char* env = std::getenv("VANTREL_CONFIG_DIR"); env && *env) {
    dir = env;
    if (dir.back() != '/') dir += '/';
  } else {
    dir = DirectoryOfThisLibrary();
  }
  return dir + std::string(fileName);
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string(defaultValue);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  bool inSection = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      auto close = line.find(']');
      std::string_view name = close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1);
      // Only the first section of that name counts.
      if (inSection) break;
      inSection = EqualsIgnoringAsciiCase(Trim(name), section);
      continue;
    }
    if (!inSection) continue;
    auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (!EqualsIgnoringAsciiCase(Trim(line.substr(0, eq)), key)) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                              (value.front() == '\'' && value.back() == '\''))) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, kProfileValueMax));
  }
  return std::string(defaultValue.substr(0, kProfileValueMax));
}

std::string GetTempPath() {
  std::string dir;
  if (const char* env = std::getenv("TMPDIR"); env && *env) dir = env;
  else dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace tarn
