// The file handler base of the table files.
#include "storage/files/file_handler.h"

#include "core/errors.h"
#include "platform/code_page.h"

namespace tarn {

TFileHandler::~TFileHandler() {
  if (handle_ != 0 && file_ != nullptr) (void)TFileList::Instance().CloseFile(file_, inMemory_, handle_);
}

void TFileHandler::Raise(TarnErrorCode code) const { RaiseError(code, "", "", "", fileName_); }

void TFileHandler::CheckResult(std::int64_t result) const {
  if (result < 0) Raise(static_cast<TarnErrorCode>(-result));
}

void TFileHandler::OpenFile() {
  if (isOpen_) return;
  TFileList& list = TFileList::Instance();
  if (!list.FileExists(fileName_, inMemory_)) Raise(TARN_OSENOENT);
  TAbstractFile* file = nullptr;
  bool readOnly = false, readOnlyMedia = false;
  const std::int32_t result = list.OpenFile(fileName_, inMemory_, temporary_, exclusive_, readOnly, readOnlyMedia, file);
  CheckResult(result);
  file_ = file;
  handle_ = result;
  openedReadOnly_ = readOnly;
  readOnlyMedia_ = readOnlyMedia;
  isOpen_ = true;
}

void TFileHandler::CloseFile() {
  if (handle_ != 0 && file_ != nullptr) {
    TAbstractFile* file = file_;
    const std::int32_t handle = handle_;
    file_ = nullptr;
    handle_ = 0;
    (void)TFileList::Instance().CloseFile(file, inMemory_, handle);
  }
  isOpen_ = false;
}

void TFileHandler::CreateFile() {
  CloseFile();
  TAbstractFile* file = nullptr;
  const std::int32_t result = TFileList::Instance().CreateFile(fileName_, inMemory_, temporary_, file);
  CheckResult(result);
  file_ = file;
  handle_ = result;
  openedReadOnly_ = false;
  readOnlyMedia_ = false;
  isOpen_ = true;
}

void TFileHandler::DeleteFile() { CheckResult(TFileList::Instance().DeleteFile(fileName_, inMemory_)); }

void TFileHandler::RenameFile(const std::string& newName) {
  CheckResult(TFileList::Instance().RenameFile(fileName_, inMemory_, newName));
  fileName_ = CutToLength(newName, 255);
}

void TFileHandler::CopyToFile(const std::string& destName, bool destInMemory, int progressStep,
                              const TCopyProgress& progress) {
  if (file_ == nullptr) Raise(TARN_OSEBADF);
  CheckResult(TFileList::Instance().CopyToFile(file_, handle_, progressStep, progress, destName, destInMemory));
}

void TFileHandler::CopyFromFile(const std::string& sourceName, bool sourceInMemory, int progressStep,
                                const TCopyProgress& progress) {
  if (file_ == nullptr) Raise(TARN_OSEBADF);
  CheckResult(TFileList::Instance().CopyFromFile(file_, handle_, progressStep, progress, sourceName, sourceInMemory));
}

std::int64_t TFileHandler::Read(void* buffer, std::int64_t count, bool allowShort) {
  if (file_ == nullptr) {
    if (allowShort) return 0;
    Raise(TARN_READERR);
  }
  const std::int64_t n = file_->Read(handle_, buffer, count);
  if (n < 0 || n < count) {
    if (allowShort) return n < 0 ? 0 : n;
    Raise(TARN_READERR);
  }
  return n;
}

void TFileHandler::Write(const void* buffer, std::int64_t count) {
  if (file_ == nullptr) Raise(TARN_WRITEERR);
  const std::int64_t n = file_->Write(handle_, buffer, count);
  if (n != count) Raise(TARN_WRITEERR);
}

void TFileHandler::Flush() {
  if (file_ == nullptr) return;
  if (file_->Flush() < 0) Raise(TARN_WRITEERR);
}

std::int64_t TFileHandler::Seek(int origin, std::int64_t offset) {
  if (file_ == nullptr) return 0;
  std::int64_t position = 0;
  CheckResult(file_->Seek(handle_, origin, offset, position));
  return position;
}

std::int64_t TFileHandler::GetPos() {
  if (file_ == nullptr) return 0;
  return file_->HandlePosition(handle_);
}

std::int64_t TFileHandler::GetSize() {
  if (file_ == nullptr) return 0;
  const std::int64_t size = file_->GetSize();
  CheckResult(size);
  return size;
}

TLockResult TFileHandler::TryLockRegion(std::int64_t offset, std::int64_t length, TLockKind kind) {
  if (file_ == nullptr) return TLockResult::lrFailed;
  return file_->Lock(offset, length, kind);
}

bool TFileHandler::LockRegion(bool lock, std::int64_t offset, std::int64_t length, TLockKind kind) {
  if (file_ == nullptr) return false;
  return lock ? file_->Lock(offset, length, kind) == TLockResult::lrLocked : file_->Unlock(offset, length);
}

void TFileHandler::LockFileHandler() {
  if (file_ != nullptr) file_->LockSection();
}

void TFileHandler::UnlockFileHandler() {
  if (file_ != nullptr) file_->UnlockSection();
}

void TFileHandler::SetIsOpen(bool open) {
  if (open)
    OpenFile();
  else
    CloseFile();
}

bool TFileHandler::Exists() const { return TFileList::Instance().FileExists(fileName_, inMemory_); }

}  // namespace tarn
