// File-name handling for table files.
#include "platform/file_names.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "platform/code_page.h"
#include "platform/os_process.h"

namespace tarn {

std::string NormalizeFileName(std::string_view name) {
  std::size_t first = 0;
  std::size_t last = name.size();
  while (first < last && (name[first] == ' ' || name[first] == '\t')) ++first;
  while (last > first && (name[last - 1] == ' ' || name[last - 1] == '\t')) --last;
  name = name.substr(first, last - first);
  std::string result(name);
  for (std::size_t pos = 0; pos < result.size();) {
    const std::size_t width = CharLength(result, pos);
    if (width == 1 && result[pos] == '\\') result[pos] = '/';
    pos += width == 0 ? 1 : width;
  }
  return result;
}

void SplitFileName(std::string_view path, std::string& directory, std::string& name) {
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    directory.clear();
    name = std::string(path);
  } else {
    directory = std::string(path.substr(0, slash + 1));
    name = std::string(path.substr(slash + 1));
  }
}

std::string RemoveFileExtension(std::string_view name) {
  const auto slash = name.rfind('/');
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::string(name);
  return std::string(name.substr(0, dot));
}

namespace {

struct TDirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MatchFrom(std::string_view name, std::size_t n, std::string_view pattern, std::size_t p) {
  while (p < pattern.size()) {
    const char c = pattern[p];
    if (c == '*') {
      while (p < pattern.size() && pattern[p] == '*') ++p;
      if (p == pattern.size()) return true;
      for (std::size_t start = n; start <= name.size(); start = NextCharPos(name, start)) {
        if (MatchFrom(name, start, pattern, p)) return true;
        if (start == name.size()) break;
      }
      return false;
    }
    if (n >= name.size()) return false;
    const std::size_t pw = CharLength(pattern, p);
    const std::size_t nw = CharLength(name, n);
    if (!(pw == 1 && c == '?')) {
      if (pw != nw || name.compare(n, nw, pattern.substr(p, pw)) != 0) return false;
    }
    n += nw;
    p += pw;
  }
  return n == name.size();
}

}  // namespace

std::string ResolveFileName(const std::string& path) {
  if (PathExists(path)) return path;
  std::string directory, name;
  SplitFileName(path, directory, name);
  if (name.empty()) return path;
  // Every name in the process's private directory was made here, in the case
  // the engine writes it: no other spelling can exist, so the directory is not
  // scanned. (Result tables come and go there with every statement, and scans
  // would queue behind their creation on the directory's lock.)
  if (OSIsProcessPrivateDirectory(directory)) return path;
  std::unique_ptr<DIR, TDirCloser> dir(::opendir(directory.empty() ? "." : directory.c_str()));
  if (!dir) return path;
  std::string match;
  int matches = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (AnsiSameText(entry->d_name, name)) {
      match = entry->d_name;
      if (++matches > 1) return path;
    }
  }
  return matches == 1 ? directory + match : path;
}

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
  const std::string upperName = AnsiUpperCase(name);
  const std::string upperPattern = AnsiUpperCase(pattern);
  return MatchFrom(upperName, 0, upperPattern, 0);
}

int ListDirectory(const std::string& directory, std::string_view pattern, std::vector<std::string>& names) {
  names.clear();
  std::unique_ptr<DIR, TDirCloser> dir(::opendir(directory.empty() ? "." : directory.c_str()));
  if (!dir) return errno;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    if (!MatchesWildcard(entryName, pattern)) continue;
    if (!IsRegularFile(directory + std::string(entryName))) continue;
    names.emplace_back(entryName);
  }
  return 0;
}

}  // namespace tarn
