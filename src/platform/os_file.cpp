// Operating-system file calls on Linux.
#include "platform/os_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace tarn {

TUniqueFd& TUniqueFd::operator=(TUniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int TUniqueFd::Release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void TUniqueFd::Reset(int fd) noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

int OSFileAttributes(const std::string& path, TOSFileAttributes& attributes) {
  attributes = {};
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  attributes.exists = true;
  attributes.isDirectory = S_ISDIR(st.st_mode);
  attributes.size = st.st_size;
  attributes.readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  struct statvfs vfs {};
  if (!attributes.readOnly && ::statvfs(path.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0)
    attributes.readOnly = true;
  return 0;
}

bool OSFileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

namespace {

// Opens without access-time updates where the caller may ask for that (its own
// files): a table's reads follow its writes, and with relatime every such read
// would otherwise dirty the inode. Files of other owners open without it.
int OpenRetrying(const std::string& path, int flags, mode_t mode) {
  int noAtime = O_NOATIME;
  for (;;) {
    const int result = ::open(path.c_str(), flags | noAtime, mode);
    if (result >= 0) return result;
    if (errno == EINTR) continue;
    if (errno == EPERM && noAtime != 0) {
      noAtime = 0;
      continue;
    }
    return result;
  }
}

}  // namespace

int OSFileOpen(const std::string& path, bool writable, TUniqueFd& fd) {
  const int result = OpenRetrying(path, (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0);
  if (result < 0) return errno;
  struct stat st {};
  if (::fstat(result, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(result);
    return EISDIR;
  }
  fd.Reset(result);
  return 0;
}

int OSFileCreate(const std::string& path, bool exclusiveNew, TUniqueFd& fd) {
  const int result = OpenRetrying(path, O_RDWR | O_CREAT | O_CLOEXEC | (exclusiveNew ? O_EXCL : 0), 0666);
  if (result < 0) return errno;
  fd.Reset(result);
  return 0;
}

std::int64_t OSFileRead(int fd, void* buffer, std::int64_t count, std::int64_t position) {
  if (count < 0 || position < 0) return -EINVAL;
  auto* out = static_cast<char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, out + done, static_cast<std::size_t>(count - done), position + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t OSFileWrite(int fd, const void* buffer, std::int64_t count, std::int64_t position) {
  if (count < 0 || position < 0) return -EINVAL;
  const auto* in = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pwrite(fd, in + done, static_cast<std::size_t>(count - done), position + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (n == 0) return -EIO;
    done += n;
  }
  return done;
}

int OSFileTruncate(int fd, std::int64_t size) {
  if (size < 0) return EINVAL;
  return ::ftruncate(fd, size) == 0 ? 0 : errno;
}

int OSFileFlush(int fd) { return ::fdatasync(fd) == 0 ? 0 : errno; }

int OSFileSize(int fd, std::int64_t& size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  size = st.st_size;
  return 0;
}

void OSFileAdviseSequential(int fd) { (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }

int OSFileDelete(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

namespace {

// Copies a file to a new name on another file system, syncs it, and unlinks
// the original. The new name must not exist.
int CopyAcrossFileSystems(const std::string& oldPath, const std::string& newPath) {
  TUniqueFd source;
  if (int e = OSFileOpen(oldPath, false, source); e != 0) return e;
  TUniqueFd dest;
  if (int e = OSFileCreate(newPath, true, dest); e != 0) return e;
  std::vector<char> buffer(65536);
  std::int64_t position = 0;
  for (;;) {
    const std::int64_t n = OSFileRead(source.Get(), buffer.data(), static_cast<std::int64_t>(buffer.size()), position);
    if (n < 0 || (n > 0 && OSFileWrite(dest.Get(), buffer.data(), n, position) != n)) {
      const int e = n < 0 ? static_cast<int>(-n) : EIO;
      dest.Reset();
      ::unlink(newPath.c_str());
      return e;
    }
    if (n == 0) break;
    position += n;
  }
  if (::fsync(dest.Get()) != 0) {
    const int e = errno;
    dest.Reset();
    ::unlink(newPath.c_str());
    return e;
  }
  dest.Reset();
  if (::unlink(oldPath.c_str()) != 0) {
    const int e = errno;
    ::unlink(newPath.c_str());
    return e;
  }
  return 0;
}

}  // namespace

int OSFileRename(const std::string& oldPath, const std::string& newPath) {
  if (::renameat2(AT_FDCWD, oldPath.c_str(), AT_FDCWD, newPath.c_str(), RENAME_NOREPLACE) == 0) return 0;
  const int e = errno;
  if (e == EXDEV) return CopyAcrossFileSystems(oldPath, newPath);
  return e;
}

}  // namespace tarn
