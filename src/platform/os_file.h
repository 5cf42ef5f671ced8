// Operating-system file calls: open, create, positioned read and write,
// truncate, flush, size, delete, rename without replacing, attributes.
// Every call answers 0 (or a byte count) on success and reports failures as
// errno values; the storage layer maps them to engine codes.
#pragma once

#include <cstdint>
#include <string>

namespace tarn {

// An owned file descriptor, closed on destruction.
class TUniqueFd {
 public:
  TUniqueFd() = default;
  explicit TUniqueFd(int fd) noexcept : fd_(fd) {}
  TUniqueFd(TUniqueFd&& other) noexcept : fd_(other.Release()) {}
  TUniqueFd& operator=(TUniqueFd&& other) noexcept;
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;
  ~TUniqueFd() { Reset(); }

  int Get() const noexcept { return fd_; }
  bool Valid() const noexcept { return fd_ >= 0; }
  int Release() noexcept;
  void Reset(int fd = -1) noexcept;

 private:
  int fd_ = -1;
};

// Attributes of an existing path.
struct TOSFileAttributes {
  bool exists = false;
  bool isDirectory = false;
  bool readOnly = false;  // no write bits, or on a read-only mount
  std::int64_t size = 0;
};

// Reads the attributes; answers 0 or errno (ENOENT when missing).
int OSFileAttributes(const std::string& path, TOSFileAttributes& attributes);

// True when the path names an existing regular file (directories do not count).
bool OSFileExists(const std::string& path);

// Opens an existing file for reading, or for reading and writing.
int OSFileOpen(const std::string& path, bool writable, TUniqueFd& fd);

// Creates a file for reading and writing. With exclusiveNew the name must not
// exist yet (EEXIST otherwise); without it an existing file is opened as it is
// (the caller truncates once it holds the file exclusively).
int OSFileCreate(const std::string& path, bool exclusiveNew, TUniqueFd& fd);

// Positioned read/write of the whole count (short only at end of file).
// Answers the byte count, or -errno.
std::int64_t OSFileRead(int fd, void* buffer, std::int64_t count, std::int64_t position);
std::int64_t OSFileWrite(int fd, const void* buffer, std::int64_t count, std::int64_t position);

int OSFileTruncate(int fd, std::int64_t size);
int OSFileFlush(int fd);
int OSFileSize(int fd, std::int64_t& size);
// Sequential-access hint; failures are ignored.
void OSFileAdviseSequential(int fd);

int OSFileDelete(const std::string& path);

// Renames without ever replacing an existing file (EEXIST). Across file
// systems the file is copied, synced and the original unlinked.
int OSFileRename(const std::string& oldPath, const std::string& newPath);

}  // namespace tarn
