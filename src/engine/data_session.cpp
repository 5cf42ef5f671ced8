// Data session settings, passwords and the opening and closing of directories.
#include "engine/data_session.h"

#include <algorithm>
#include <atomic>

#include "core/errors.h"
#include "engine/data_directory.h"
#include "platform/code_page.h"
#include "platform/file_names.h"
#include "platform/os_process.h"
#include "platform/profile_file.h"
#include "storage/files/file_errors.h"

namespace tarn {
namespace {

constexpr std::size_t kMaxText = 255;

std::atomic<int> gLiveSessions{0};

}  // namespace

int LiveDataSessions() noexcept { return gLiveSessions.load(); }

std::string NormalizeDirectoryPath(const std::string& path) {
  std::string result = NormalizeFileName(path);
  if (!result.empty() && result.back() != '/') result += '/';
  return CutToLength(result, kMaxText);
}

TDataSession::TDataSession(bool server)
    : server_(server), defaultDirectory_(NormalizeDirectoryPath(OSCurrentDirectory())) {
  ++gLiveSessions;
}

TDataSession::~TDataSession() {
  --gLiveSessions;
  DeleteAllPasswords();
  // Directories go last-opened first; each rolls back its transaction and frees its tables.
  while (!directories_.empty()) directories_.pop_back();
}

void TDataSession::SetPrivateDirectory(const std::string& directory) {
  if (directory.empty()) return;
  std::string path = NormalizeDirectoryPath(directory);
  if (path != privateDirectory_) privateDirectory_ = path;
}

std::string TDataSession::GetPrivateDirectory() const {
  if (!privateDirectory_.empty()) return privateDirectory_;
  std::string path;
  if (int e = OSProcessPrivateDirectory(path); e != 0) RaiseError(OSLastNativeError(e), {}, {}, GetTempPath());
  return NormalizeDirectoryPath(path);
}

void TDataSession::AddPassword(const std::string& password) {
  if (password.empty() || CheckForPassword(password)) return;
  passwords_.push_back(CutToLength(password, kMaxText));
}

void TDataSession::DeletePassword(const std::string& password) {
  auto it = std::find(passwords_.begin(), passwords_.end(), password);
  if (it != passwords_.end()) passwords_.erase(it);
}

bool TDataSession::CheckForPassword(const std::string& password) const {
  return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}

TDataDirectory& TDataSession::OpenDataDirectory(const std::string& name, const std::string& path, bool) {
  std::string dirPath = NormalizeDirectoryPath(path);
  if (!IsMemoryDatabaseName(name) && dirPath.empty()) dirPath = defaultDirectory_;
  for (auto& directory : directories_) {
    if (AnsiSameText(directory->Path(), dirPath)) {
      directory->IncUseCount();
      return *directory;
    }
  }
  directories_.push_back(std::make_unique<TDataDirectory>(*this, CutToLength(name, kMaxText), dirPath));
  directories_.back()->IncUseCount();
  return *directories_.back();
}

void TDataSession::CloseDataDirectory(TDataDirectory& directory, bool) {
  auto it = std::find_if(directories_.begin(), directories_.end(),
                         [&directory](const auto& d) { return d.get() == &directory; });
  if (it == directories_.end()) return;
  if ((*it)->UseCount() > 0) (*it)->DecUseCount();
  if ((*it)->UseCount() == 0) directories_.erase(it);
}

void TDataSession::DoGetProcessID(std::string& processID) const {
  if (getProcessID_) getProcessID_(processID);
}

void TDataSession::DoGetPath(const std::string& databaseName, std::string& path) const {
  if (getPath_) getPath_(databaseName, path);
}

void TDataSession::DoGetRights(const std::string& databaseName, std::uint8_t& rights) const {
  if (getRights_) getRights_(databaseName, rights);
}

void TDataSession::DoCheckRights(TDataDirectory& directory, int rightCode) const {
  if (checkRights_) checkRights_(directory, rightCode);
}

}  // namespace tarn
