// The disk side of the buffer caches, shared by data records, BLOB blocks and
// index pages: merging buffers read from disk into a cache, and writing dirty
// buffers in runs of consecutive numbers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <vector>

#include "storage/files/buffer_cache.h"
#include "storage/files/file_handler.h"
#include "storage/files/resize_buffer.h"

namespace tarn {

// Grows a work buffer of the file handlers to hold bytes; bad_alloc when it
// cannot.
inline std::uint8_t* GrowFileBuffer(TBufferPtr& buffer, std::int64_t& capacity, std::int64_t bytes) {
  if (!ResizeBuffer(bytes, FileBufferGranularity, buffer, capacity)) throw std::bad_alloc();
  return buffer.get();
}

// Keeps buffers pinned (in use) until it goes out of scope.
template <class T>
class TPinnedBuffers {
 public:
  TPinnedBuffers() = default;
  TPinnedBuffers(const TPinnedBuffers&) = delete;
  TPinnedBuffers& operator=(const TPinnedBuffers&) = delete;
  ~TPinnedBuffers() {
    for (T* buffer : pinned_) buffer->DecUseCount();
  }
  void Pin(T* buffer) {
    buffer->IncUseCount();
    pinned_.push_back(buffer);
  }

 private:
  std::vector<T*> pinned_;
};

// Merges count buffer images read from disk (size bytes each, numbered from
// first on) into the cache: a cached clean unused buffer is refreshed, a
// dirty or in-use one keeps its contents, a missing one gets a new buffer
// from acquire(number). The buffers stay pinned until the merge ends, so a
// later one never evicts an earlier one.
template <class T, class TAcquire>
void MergeReadBuffers(TBufferCache<T>& cache, std::int32_t first, std::int32_t count, const std::uint8_t* images,
                      std::size_t size, TAcquire&& acquire) {
  TPinnedBuffers<T> pinned;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t number = first + i;
    const std::uint8_t* disk = images + static_cast<std::size_t>(i) * size;
    T* cached = cache.Peek(number);
    if (cached != nullptr) {
      if (!cached->Dirty() && !cached->InUse()) cached->Read(disk);
    } else {
      cached = acquire(number);
      cached->Read(disk);
    }
    pinned.Pin(cached);
  }
}

// The cache's dirty unused buffers in number order, leaving out those of the
// range being read, [readFirst, readFirst + readCount).
template <class T>
std::vector<T*> DirtyUnusedOutside(const TBufferCache<T>& cache, std::int32_t readFirst, std::int32_t readCount) {
  std::vector<T*> dirty = cache.DirtyUnused();
  if (readCount > 0) {
    std::erase_if(dirty, [&](const T* buffer) {
      return buffer->Number() >= readFirst && buffer->Number() < readFirst + readCount;
    });
  }
  return dirty;
}

// What WriteBufferRuns needs to know about a file.
template <class T>
struct TRunWriting {
  std::size_t Size = 0;                                  // bytes per buffer on disk
  std::function<std::uint8_t*(std::int64_t)> Area;       // a work area of at least that many bytes
  std::function<void(T&, std::uint8_t*)> Encode;         // writes the buffer's disk image there
  std::function<std::int64_t(std::int32_t)> Position;    // the file offset of buffer n
  std::function<void()> RunWritten;                      // counts the write, marks the table changed
};

// Writes buffers sorted by number in runs of consecutive numbers: each run is
// encoded into one area and written with one seek and one write under the
// file lock. Answers whether anything was written.
template <class T>
bool WriteBufferRuns(TFileHandler& file, const std::vector<T*>& sorted, const TRunWriting<T>& how) {
  if (sorted.empty()) return false;
  std::size_t start = 0;
  while (start < sorted.size()) {
    std::size_t end = start + 1;
    while (end < sorted.size() && sorted[end]->Number() == sorted[end - 1]->Number() + 1) ++end;
    const std::size_t run = end - start;
    const std::int64_t bytes = static_cast<std::int64_t>(run * how.Size);
    std::uint8_t* area = how.Area(bytes);
    for (std::size_t i = 0; i < run; ++i) how.Encode(*sorted[start + i], area + i * how.Size);
    {
      TFileHandlerLock lock(file);
      file.Seek(0, how.Position(sorted[start]->Number()));
      file.Write(area, bytes);
    }
    how.RunWritten();
    start = end;
  }
  return true;
}

}  // namespace tarn
