// The process-wide registry of file objects.
#include "storage/files/file_list.h"

#include <algorithm>

#include "core/errors.h"
#include "platform/code_page.h"
#include "platform/file_names.h"
#include "platform/file_system.h"
#include "storage/files/memory_file.h"
#include "storage/files/physical_file.h"

namespace tarn {

TFileList& TFileList::Instance() {
  static TFileList list;
  return list;
}

TFileList::~TFileList() { Clear(); }

void TFileList::Clear() {
  std::lock_guard guard(lock_);
  files_.clear();
}

std::size_t TFileList::ReleaseUnused() {
  std::lock_guard guard(lock_);
  std::erase_if(files_, [](const TFilePtr& f) { return f->Pins() == 0 && f->OpenCount() == 0; });
  return files_.size();
}

std::size_t TFileList::Count() {
  std::lock_guard guard(lock_);
  return files_.size();
}

std::string TFileList::KeyName(const std::string& name, bool inMemory) {
  std::string key = NormalizeFileName(name);
  return inMemory ? key : ResolveFileName(key);
}

TAbstractFile* TFileList::Find(const std::string& key, bool inMemory) {
  for (const auto& file : files_)
    if (file->InMemory() == inMemory && AnsiSameText(file->FileName(), key)) return file.get();
  return nullptr;
}

std::vector<TFileList::TFilePtr>::iterator TFileList::FindObject(const TAbstractFile* file, bool inMemory) {
  return std::find_if(files_.begin(), files_.end(), [&](const TFilePtr& f) {
    return f.get() == file && f->InMemory() == inMemory;
  });
}

TAbstractFile* TFileList::Add(const std::string& key, bool inMemory) {
  TFilePtr file = inMemory ? TFilePtr(std::make_unique<TMemoryFile>()) : TFilePtr(std::make_unique<TPhysicalFile>());
  file->SetFileName(key);
  files_.push_back(std::move(file));
  return files_.back().get();
}

void TFileList::RemoveIfUnused(const TAbstractFile* file) {
  // With no pin left, nothing changes the open count outside the list's lock.
  if (file->Pins() == 0 && file->OpenCount() == 0) Remove(file);
}

void TFileList::Remove(const TAbstractFile* file) {
  files_.erase(std::remove_if(files_.begin(), files_.end(), [file](const TFilePtr& f) { return f.get() == file; }),
               files_.end());
}

std::int32_t TFileList::OpenFile(const std::string& name, const TFileUse& use, bool& readOnly, bool& readOnlyMedia,
                                 TAbstractFile*& file) {
  const bool inMemory = use.InMemory;
  // The name is resolved on disk before the list is locked: a directory scan
  // needs nothing of the list, and other threads' opens need not wait for it.
  const std::string key = KeyName(name, inMemory);
  file = nullptr;
  bool added = false;
  TAbstractFile* object = nullptr;
  {
    std::lock_guard guard(lock_);
    object = Find(key, inMemory);
    if (object == nullptr) {
      if (inMemory) return -TARN_OSENOENT;
      object = Add(key, false);
      added = true;
    }
    object->Pin();
  }
  // The OS open happens in the file's own section, not under the list.
  const std::int32_t handle = object->OpenShared(use.Exclusive, use.Temporary);
  if (handle >= 0) {
    readOnly = object->OpenedReadOnly();
    readOnlyMedia = object->ReadOnlyMedia();
    file = object;
  }
  std::lock_guard guard(lock_);
  object->Unpin();
  if (handle < 0 && added) RemoveIfUnused(object);
  return handle;
}

std::int32_t TFileList::CreateFile(const std::string& name, const TFileUse& use, TAbstractFile*& file) {
  const bool inMemory = use.InMemory;
  const std::string key = KeyName(name, inMemory);
  file = nullptr;
  bool added = false;
  TAbstractFile* object = nullptr;
  {
    std::lock_guard guard(lock_);
    object = Find(key, inMemory);
    if (object == nullptr) {
      object = Add(key, inMemory);
      added = true;
    }
    object->Pin();
  }
  const std::int32_t handle = object->CreateExclusive(use.Temporary);
  if (handle >= 0) file = object;
  std::lock_guard guard(lock_);
  object->Unpin();
  if (handle < 0 && (added || !inMemory)) RemoveIfUnused(object);
  return handle;
}

std::int32_t TFileList::CloseFile(TAbstractFile* file, bool inMemory, std::int32_t handle) {
  {
    std::lock_guard guard(lock_);
    const auto it = FindObject(file, inMemory);
    if (it == files_.end()) return -TARN_OSENOENT;
    file->Pin();
  }
  std::int32_t result;
  {
    std::lock_guard section(file->Section());
    result = file->OpenCount() == 0 ? -TARN_OSENOENT : file->Close(handle);
  }
  std::lock_guard guard(lock_);
  file->Unpin();
  if (result < 0) return result;
  // The marks are read only once no other operation is in progress on the file.
  if (file->Pins() == 0 && (!inMemory || file->Temporary())) RemoveIfUnused(file);
  return 0;
}

std::int32_t TFileList::DeleteFile(const std::string& name, bool inMemory) {
  const std::string key = KeyName(name, inMemory);
  std::lock_guard guard(lock_);
  TAbstractFile* object = Find(key, inMemory);
  if (object != nullptr) {
    {
      std::lock_guard section(object->Section());
      if (object->OpenCount() > 0 || object->Pins() > 0) return -TARN_OSEACCES;
      const std::int32_t result = object->Delete();
      if (result < 0) return result;
    }
    Remove(object);
    return 0;
  }
  if (inMemory) return -TARN_OSENOENT;
  TPhysicalFile transient;
  transient.SetFileName(key);
  return transient.Delete();
}

std::int32_t TFileList::RenameFile(const std::string& name, bool inMemory, const std::string& newName) {
  const std::string key = KeyName(name, inMemory);
  std::lock_guard guard(lock_);
  TAbstractFile* object = Find(key, inMemory);
  if (object != nullptr) {
    std::lock_guard section(object->Section());
    if (object->OpenCount() > 0 || object->Pins() > 0) return -TARN_OSEACCES;
    if (inMemory) {
      const std::string newKey = KeyName(newName, true);
      TAbstractFile* other = Find(newKey, true);
      if (other != nullptr && other != object) return -TARN_TABLEEXISTS;
      return object->Rename(newKey);
    }
    return object->Rename(newName);
  }
  if (inMemory) return -TARN_OSENOENT;
  TPhysicalFile transient;
  transient.SetFileName(key);
  return transient.Rename(newName);
}

bool TFileList::FileExists(const std::string& name, bool inMemory) {
  const std::string key = KeyName(name, inMemory);
  {
    std::lock_guard guard(lock_);
    if (Find(key, inMemory) != nullptr) return true;
  }
  // Files on disk are asked about without holding the list.
  return !inMemory && CurrentFileSystem().Exists(key);
}

std::int32_t TFileList::GetFileNames(bool inMemory, const std::string& pattern, bool withExtension,
                                     std::vector<std::string>& names) {
  std::lock_guard guard(lock_);
  names.clear();
  std::string directory, filePattern;
  SplitFileName(NormalizeFileName(pattern), directory, filePattern);
  if (filePattern.empty()) filePattern.push_back('*');
  if (inMemory) {
    for (const auto& file : files_) {
      if (!file->InMemory()) continue;
      std::string fileDirectory, bare;
      SplitFileName(file->FileName(), fileDirectory, bare);
      if (!AnsiSameText(fileDirectory, directory) || !MatchesWildcard(bare, filePattern)) continue;
      names.push_back(bare);
    }
  } else {
    const int e = ListDirectory(directory, filePattern, names);
    if (e != 0) return -TARN_OSENOENT;
  }
  if (!withExtension)
    for (auto& n : names) n.resize(RemoveFileExtension(n).size());
  return 0;
}

std::int32_t TFileList::CopyData(TAbstractFile& source, std::int32_t sourceHandle, TAbstractFile& dest,
                                 std::int32_t destHandle, int progressStep, const TCopyProgress& progress) {
  const std::int64_t size = source.GetSize();
  if (size < 0) return static_cast<std::int32_t>(size);
  std::int64_t position = 0;
  if (std::int32_t r = source.Seek(sourceHandle, 0, 0, position); r < 0) return r;
  if (std::int32_t r = dest.Seek(destHandle, 0, 0, position); r < 0) return r;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(CopyChunkSize));
  std::int64_t copied = 0;
  int lastReported = 0;
  for (;;) {
    const std::int64_t n = source.Read(sourceHandle, buffer.data(), CopyChunkSize);
    if (n < 0) return static_cast<std::int32_t>(n);
    if (n > 0) {
      const std::int64_t written = dest.Write(destHandle, buffer.data(), n);
      if (written < 0) return static_cast<std::int32_t>(written);
      if (written != n) return -TARN_WRITEERR;
      copied += n;
    }
    if (progress && size > 0) {
      const int percent = static_cast<int>(std::min<std::int64_t>(copied * 100 / size, 100));
      if (percent - lastReported >= std::max(progressStep, 1)) {
        progress(percent);
        lastReported = percent;
      }
    }
    if (n < CopyChunkSize) break;
  }
  return 0;
}

std::int32_t TFileList::CopyToFile(TAbstractFile* source, std::int32_t sourceHandle, int progressStep,
                                   const TCopyProgress& progress, const std::string& destName, bool destInMemory) {
  std::lock_guard guard(lock_);
  if (source == nullptr || source->GetHandlePos(sourceHandle) < 0) return -TARN_OSEBADF;
  TAbstractFile* dest = nullptr;
  const std::int32_t destHandle = CreateFile(destName, {.InMemory = destInMemory}, dest);
  if (destHandle < 0) return destHandle;
  const std::int32_t result = CopyData(*source, sourceHandle, *dest, destHandle, progressStep, progress);
  const std::int32_t closed = CloseFile(dest, destInMemory, destHandle);
  return result < 0 ? result : closed;
}

std::int32_t TFileList::CopyFromFile(TAbstractFile* dest, std::int32_t destHandle, int progressStep,
                                     const TCopyProgress& progress, const std::string& sourceName,
                                     bool sourceInMemory) {
  std::lock_guard guard(lock_);
  if (dest == nullptr || dest->GetHandlePos(destHandle) < 0) return -TARN_OSEBADF;
  bool readOnly = false, readOnlyMedia = false;
  TAbstractFile* source = nullptr;
  const std::int32_t sourceHandle =
      OpenFile(sourceName, {.InMemory = sourceInMemory, .Exclusive = true}, readOnly, readOnlyMedia, source);
  if (sourceHandle < 0) return sourceHandle;
  if (source == dest) {
    (void)CloseFile(source, sourceInMemory, sourceHandle);
    return -TARN_OSEACCES;
  }
  std::int32_t result = CopyData(*source, sourceHandle, *dest, destHandle, progressStep, progress);
  // The destination ends where the copy ends.
  if (result >= 0) {
    const std::int64_t truncated = dest->Write(destHandle, nullptr, 0);
    if (truncated < 0) result = static_cast<std::int32_t>(truncated);
  }
  const std::int32_t closed = CloseFile(source, sourceInMemory, sourceHandle);
  return result < 0 ? result : closed;
}

}  // namespace tarn
