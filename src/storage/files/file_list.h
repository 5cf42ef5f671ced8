// TFileList: the process-wide registry of file objects, keyed by kind (memory
// or disk) and name, so that every name is opened once per process and shared
// by all tables, cursors and sessions. Every operation runs under the list's
// critical section (taken before any file section, never after) and answers
// a handle number >= 1 or 0 on success, or the negative of an engine code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "storage/files/file_object.h"

namespace tarn {

// Copy progress: the percentage done, reported each time it has advanced by
// at least the progress step.
using TCopyProgress = std::function<void(int percentDone)>;

inline constexpr std::int64_t CopyChunkSize = 65536;

class TFileList {
 public:
  // The single instance of the process.
  static TFileList& Instance();

  TFileList() = default;
  ~TFileList();
  TFileList(const TFileList&) = delete;
  TFileList& operator=(const TFileList&) = delete;

  // How a file is used: a memory file or a disk file, deleted at its last close
  // (temporary), held by one handle only (exclusive; a created file always is).
  struct TFileUse {
    bool InMemory = false;
    bool Temporary = false;
    bool Exclusive = false;
  };
  // Opens the named file, sharing the object already registered for it.
  // Refused with -TARN_OSEACCES when either side asks for exclusive use.
  std::int32_t OpenFile(const std::string& name, const TFileUse& use, bool& readOnly, bool& readOnlyMedia,
                        TAbstractFile*& file);
  // Creates (or empties) the named file, held exclusively.
  std::int32_t CreateFile(const std::string& name, const TFileUse& use, TAbstractFile*& file);
  // Closes one handle; the last close of a disk file frees its object, of a
  // temporary memory file deletes it; other memory files keep their contents.
  std::int32_t CloseFile(TAbstractFile* file, bool inMemory, std::int32_t handle);
  std::int32_t DeleteFile(const std::string& name, bool inMemory);
  std::int32_t RenameFile(const std::string& name, bool inMemory, const std::string& newName);
  bool FileExists(const std::string& name, bool inMemory);
  // Bare names (with or without extension) of the files matching the pattern
  // (a path whose last part may hold '*' and '?').
  std::int32_t GetFileNames(bool inMemory, const std::string& pattern, bool withExtension,
                            std::vector<std::string>& names);
  // Copies the whole open source file into a new (or emptied) destination.
  std::int32_t CopyToFile(TAbstractFile* source, std::int32_t sourceHandle, int progressStep,
                          const TCopyProgress& progress, const std::string& destName, bool destInMemory);
  // Copies the whole named source file (opened exclusively) into the open
  // destination, from its position 0.
  std::int32_t CopyFromFile(TAbstractFile* dest, std::int32_t destHandle, int progressStep,
                            const TCopyProgress& progress, const std::string& sourceName, bool sourceInMemory);

  void LockFileList() { lock_.lock(); }
  void UnlockFileList() { lock_.unlock(); }

  // Frees every file object (destruction of the list).
  void Clear();
  // Frees the file objects no handle holds (engine shutdown while other
  // sessions may still use their files); answers how many objects stay.
  std::size_t ReleaseUnused();
  // Number of registered objects.
  std::size_t Count();

 private:
  using TFilePtr = std::unique_ptr<TAbstractFile>;

  // Registry key of a name: trimmed, '\' read as '/'; disk names resolved to
  // the file on disk without regard to case.
  static std::string KeyName(const std::string& name, bool inMemory);
  TAbstractFile* Find(const std::string& key, bool inMemory);
  std::vector<TFilePtr>::iterator FindObject(const TAbstractFile* file, bool inMemory);
  TAbstractFile* Add(const std::string& key, bool inMemory);
  void Remove(const TAbstractFile* file);
  // Removes the object when no operation is in progress on it and no handle is open.
  void RemoveIfUnused(const TAbstractFile* file);
  static std::int32_t CopyData(TAbstractFile& source, std::int32_t sourceHandle, TAbstractFile& dest,
                               std::int32_t destHandle, int progressStep, const TCopyProgress& progress);

  std::recursive_mutex lock_;
  std::vector<TFilePtr> files_;
};

}  // namespace tarn
