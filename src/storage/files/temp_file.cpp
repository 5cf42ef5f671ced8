// Temporary file names and creation.
#include "storage/files/temp_file.h"

#include <charconv>

#include "core/errors.h"
#include "platform/os_process.h"
#include "storage/files/file_list.h"

namespace tarn {
namespace {

std::string NumberText(unsigned long long value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string WithSeparator(const std::string& directory) {
  if (directory.empty() || directory.back() == '/' || directory.back() == '\\') return directory;
  return directory + "/";
}

}  // namespace

std::string ThreadDigits() {
  std::int64_t id = OSCurrentThreadId();
  if (id < 0) id = -id;
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, id);
  std::string digits(buffer, result.ptr);
  if (digits.size() > 5) digits.resize(5);
  return digits;
}

bool FileNameExists(const std::string& name, bool inMemory) { return TFileList::Instance().FileExists(name, inMemory); }

std::string GetTempFileName(const std::string& directory, const std::string& extension, bool inMemory) {
  const std::string base = WithSeparator(directory) + ThreadDigits();
  for (unsigned long long counter = 0;; ++counter) {
    std::string name = base + NumberText(counter) + extension;
    if (!FileNameExists(name, inMemory)) return name;
  }
}

std::string CreateTempFile(TFileHandler& handler, const std::string& directory, const std::string& extension) {
  handler.SetTemporary(true);
  constexpr int kAttempts = 1000;
  for (int attempt = 0;; ++attempt) {
    const std::string name = GetTempFileName(directory, extension, handler.InMemory());
    handler.SetFileName(name);
    try {
      handler.CreateFile();
      return name;
    } catch (const ETarnEngineError& e) {
      if (e.ErrorCode() != TARN_TABLEEXISTS || attempt + 1 >= kAttempts) throw;
    }
  }
}

}  // namespace tarn
