// TTempDir: a directory made with mkdtemp under /tmp for one test (or one
// benchmark fixture) and removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarn::testing_support {

class TTempDir {
 public:
  // The directory is /tmp/<prefix>-XXXXXX; its path ends with '/'.
  explicit TTempDir(const std::string& prefix = "tarn-test") {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* made = mkdtemp(buffer.data());
    if (made == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = std::string(made) + "/";
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace tarn::testing_support
