// The file handler base of the table files.
#include "storage/files/file_handler.h"

#include <algorithm>
#include <mutex>

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
  const std::int32_t result =
      list.OpenFile(fileName_, {.InMemory = inMemory_, .Temporary = temporary_, .Exclusive = exclusive_}, readOnly,
                    readOnlyMedia, file);
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
  const std::int32_t result =
      TFileList::Instance().CreateFile(fileName_, {.InMemory = inMemory_, .Temporary = temporary_}, file);
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
  if (staging_) {
    std::lock_guard guard(file_->Section());
    const std::int64_t position = file_->HandlePosition(handle_);
    if (position < 0 || count < 0) Raise(TARN_WRITEERR);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    staged_.push_back(TStagedWrite{position, std::vector<std::uint8_t>(bytes, bytes + count), count == 0});
    std::int64_t moved = 0;
    CheckResult(file_->Seek(handle_, 1, count, moved));
    return;
  }
  if (journalOpen_) JournalWrite(count);
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

void TFileHandler::BeginJournal() {
  journal_.clear();
  journalSize_ = -1;
  journalOpen_ = file_ != nullptr;
}

void TFileHandler::EndJournal() noexcept {
  journalOpen_ = false;
  journalSize_ = -1;
  journal_.clear();
}

void TFileHandler::JournalWrite(std::int64_t count) {
  std::lock_guard guard(file_->Section());
  const std::int64_t position = file_->HandlePosition(handle_);
  const std::int64_t size = file_->GetSize();
  if (size < 0 || position < 0) Raise(TARN_WRITEERR);
  if (journalSize_ < 0) journalSize_ = size;
  // A truncation (count 0) overwrites everything after the position.
  const std::int64_t overwritten = std::min(count == 0 ? size - position : count, size - position);
  if (overwritten <= 0) return;
  TUndoEntry entry{position, std::vector<std::uint8_t>(static_cast<std::size_t>(overwritten))};
  const std::int64_t n = file_->Read(handle_, entry.before.data(), overwritten);
  std::int64_t back = 0;
  const std::int32_t sought = file_->Seek(handle_, 0, position, back);
  // Without the old bytes the write could not be undone: it does not happen.
  if (n != overwritten || sought < 0) Raise(TARN_WRITEERR);
  journal_.push_back(std::move(entry));
}

bool TFileHandler::RollbackJournal() noexcept {
  if (!journalOpen_) return true;
  journalOpen_ = false;
  bool restored = true;
  if (file_ != nullptr && (journalSize_ >= 0 || !journal_.empty())) {
    std::lock_guard guard(file_->Section());
    std::int64_t position = 0;
    for (auto it = journal_.rbegin(); it != journal_.rend(); ++it) {
      const auto count = static_cast<std::int64_t>(it->before.size());
      if (file_->Seek(handle_, 0, it->position, position) < 0 ||
          file_->Write(handle_, it->before.data(), count) != count)
        restored = false;
    }
    // Bytes appended past the old end are cut off again; a shared file that
    // another process holds open keeps them, which readers ignore as the
    // remains of an append that never published its header.
    const std::int64_t size = file_->GetSize();
    if (journalSize_ >= 0 && size > journalSize_ && file_->Seek(handle_, 0, journalSize_, position) >= 0)
      (void)file_->Write(handle_, nullptr, 0);
  }
  journalSize_ = -1;
  journal_.clear();
  return restored;
}

void TFileHandler::BeginStaging() noexcept {
  staged_.clear();
  staging_ = file_ != nullptr;
}

void TFileHandler::EndStaging() noexcept {
  staging_ = false;
  staged_.clear();
}

std::int64_t TFileHandler::CollectBeforeImages(std::vector<TJournalRegion>& regions) {
  if (file_ == nullptr) return -1;
  std::lock_guard guard(file_->Section());
  const std::int64_t size = file_->GetSize();
  if (size < 0) Raise(TARN_WRITEERR);
  for (const TStagedWrite& write : staged_) {
    // Only bytes inside the old size are overwritten: what lies past it goes
    // when the file is cut back to that size.
    const std::int64_t end =
        write.truncate ? size : std::min(size, write.position + static_cast<std::int64_t>(write.bytes.size()));
    if (end <= write.position) continue;
    TJournalRegion region{write.position, std::vector<std::uint8_t>(static_cast<std::size_t>(end - write.position))};
    std::int64_t moved = 0;
    if (file_->Seek(handle_, 0, write.position, moved) < 0 ||
        file_->Read(handle_, region.before.data(), end - write.position) != end - write.position)
      Raise(TARN_READERR);
    regions.push_back(std::move(region));
  }
  return size;
}

void TFileHandler::ApplyStaged(TStagedPart part, std::int64_t originalSize,
                               const std::vector<TJournalRegion>& regions) {
  if (file_ == nullptr || staged_.empty()) {
    if (part == TStagedPart::spRest) EndStaging();
    return;
  }
  if (part == TStagedPart::spHeader && journalOpen_) {
    if (journalSize_ < 0) journalSize_ = originalSize;
    journal_.insert(journal_.end(), regions.begin(), regions.end());
  }
  std::lock_guard guard(file_->Section());
  for (const TStagedWrite& write : staged_) {
    if ((write.position == 0) != (part == TStagedPart::spHeader)) continue;
    const auto count = static_cast<std::int64_t>(write.bytes.size());
    std::int64_t moved = 0;
    CheckResult(file_->Seek(handle_, 0, write.position, moved));
    if (file_->Write(handle_, write.bytes.data(), count) != count) Raise(TARN_WRITEERR);
  }
  if (part == TStagedPart::spRest) EndStaging();
}

bool TFileHandler::RestoreRegions(std::int64_t originalSize, const std::vector<TJournalRegion>& regions) noexcept {
  if (file_ == nullptr) return regions.empty();
  bool restored = true;
  std::lock_guard guard(file_->Section());
  std::int64_t position = 0;
  for (auto it = regions.rbegin(); it != regions.rend(); ++it) {
    const auto count = static_cast<std::int64_t>(it->before.size());
    if (file_->Seek(handle_, 0, it->position, position) < 0 ||
        file_->Write(handle_, it->before.data(), count) != count)
      restored = false;
  }
  const std::int64_t size = file_->GetSize();
  if (originalSize >= 0 && size > originalSize && file_->Seek(handle_, 0, originalSize, position) >= 0)
    (void)file_->Write(handle_, nullptr, 0);
  return restored;
}

bool TFileHandler::Exists() const { return TFileList::Instance().FileExists(fileName_, inMemory_); }

}  // namespace tarn
