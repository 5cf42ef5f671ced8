// Helpers for the file layer tests: a scratch directory and small files made
// through the file layer itself.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/errors.h"
#include "storage/files/file_handler.h"
#include "support/raised_code.h"

namespace tarn::testing_support {

class TScratchDir {
 public:
  TScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarn-files-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) != nullptr) path_ = std::string(buffer.data()) + "/";
  }
  ~TScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// Creates a file with the given bytes through a file handler and closes it.
inline void MakeFile(const std::string& name, const std::string& bytes, bool inMemory = false) {
  TFileHandler handler;
  handler.SetFileName(name);
  handler.SetInMemory(inMemory);
  handler.CreateFile();
  handler.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  handler.CloseFile();
}

// Reads a whole file through a file handler.
inline std::string ReadAll(const std::string& name, bool inMemory = false) {
  TFileHandler handler;
  handler.SetFileName(name);
  handler.SetInMemory(inMemory);
  handler.OpenFile();
  std::string bytes(static_cast<std::size_t>(handler.GetSize()), '\0');
  handler.Read(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

using test_support::RaisedCode;

}  // namespace tarn::testing_support
