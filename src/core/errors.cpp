// Raising engine errors: the per-thread error-information record, message
// templates filled from it, and the ETarnEngineError exception.
#include "core/errors.h"

#include <cerrno>
#include <charconv>
#include <mutex>

#include "core/error_table.h"
#include "platform/code_page.h"

namespace tarn {
namespace {

constexpr std::string_view kUnknownError = "An unknown error occurred";
constexpr std::size_t kMessageLength = 254;
constexpr std::size_t kTextLength = 255;

// The error-information record. It is kept per thread: an error raised on one
// thread can never lend its context to an exception built on another.
struct TErrorInformation {
  TarnErrorCode errorCode = 0;
  std::int32_t errorOSCode = 0;
  std::int32_t errorSocketCode = 0;
  std::string texts[7];
};

thread_local TErrorInformation tErrorInformation;
thread_local std::int32_t tLastSocketError = 0;

std::recursive_mutex& ErrorInformationLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::string NumberText(std::int32_t value) {
  char buffer[16];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::int32_t TextNumber(const std::string& text) {
  std::int32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

ETarnEngineError::ETarnEngineError(TarnErrorCode code) : EDatabaseError(std::string()) {
  errorCode_ = code;
  const std::string message = GetErrorString(code);
  errorRemoteLocation_ = GetErrorContext(esRemote);
  errorUserName_ = GetErrorContext(esUser);
  errorDatabaseName_ = GetErrorContext(esDatabase);
  errorTableName_ = GetErrorContext(esTable);
  errorFieldName_ = GetErrorContext(esField);
  errorIndexName_ = GetErrorContext(esIndex);
  errorText_ = GetErrorContext(esText);
  errorOSCode_ = TextNumber(GetErrorContext(esOSCode));
  errorSocketCode_ = TextNumber(GetErrorContext(esSocketCode));
  SetMessage("Tarn Engine Error # " + NumberText(code) + " " + message);
}

void RaiseError(TarnErrorCode code, std::string_view remoteLocation, std::string_view userName,
                std::string_view databaseName, std::string_view tableName, std::string_view fieldName,
                std::string_view indexName, std::string_view extraText) {
  const std::int32_t osCode = errno;
  const std::int32_t socketCode = GetLastSocketError();
  ClearErrorContexts();
  AssignErrorContexts(code, osCode, socketCode, remoteLocation, userName, databaseName, tableName, fieldName,
                      indexName, extraText);
  DbiError(code);
}

void DbiError(TarnErrorCode code) { throw ETarnEngineError(code); }

TarnErrorCode Check(TarnErrorCode code) {
  if (code != 0) DbiError(code);
  return 0;
}

void AssignErrorContexts(TarnErrorCode code, std::int32_t osCode, std::int32_t socketCode,
                         std::string_view remoteLocation, std::string_view userName, std::string_view databaseName,
                         std::string_view tableName, std::string_view fieldName, std::string_view indexName,
                         std::string_view extraText) {
  std::lock_guard guard(ErrorInformationLock());
  TErrorInformation& info = tErrorInformation;
  info.errorCode = code;
  info.errorOSCode = osCode;
  info.errorSocketCode = socketCode;
  const std::string_view texts[7] = {remoteLocation, userName, databaseName, tableName, fieldName, indexName, extraText};
  for (int i = 0; i < 7; ++i) info.texts[i] = CutToLength(texts[i], kTextLength);
}

void ClearErrorContexts() {
  std::lock_guard guard(ErrorInformationLock());
  TErrorInformation& info = tErrorInformation;
  info.errorCode = 0;
  info.errorOSCode = 0;
  info.errorSocketCode = 0;
  for (auto& text : info.texts) text.clear();
}

std::string GetErrorContext(int slot) {
  std::lock_guard guard(ErrorInformationLock());
  const TErrorInformation& info = tErrorInformation;
  if (slot >= esRemote && slot <= esText) return info.texts[slot];
  if (slot == esOSCode) return NumberText(info.errorOSCode);
  if (slot == esSocketCode) return NumberText(info.errorSocketCode);
  return {};
}

TarnErrorCode GetLastErrorNumber() {
  std::lock_guard guard(ErrorInformationLock());
  return tErrorInformation.errorCode;
}

std::string GetErrorString(TarnErrorCode code) {
  std::lock_guard guard(ErrorInformationLock());
  const TErrorEntry* entry = FindErrorEntry(code);
  if (entry == nullptr || entry->messageTemplate == nullptr) return std::string(kUnknownError);
  // Placeholders are replaced left to right as plain text; values beyond the
  // placeholders are ignored, and placeholders beyond the values stay empty.
  std::string result;
  std::string_view rest = entry->messageTemplate;
  int next = 0;
  for (;;) {
    const auto pos = rest.find("%s");
    if (pos == std::string_view::npos) {
      result.append(rest);
      break;
    }
    result.append(rest.substr(0, pos));
    if (next < entry->slotCount) result.append(tErrorInformation.texts[entry->slots[next]]);
    ++next;
    rest.remove_prefix(pos + 2);
  }
  return CutToLength(result, kMessageLength);
}

std::string TranslateErrorConstant(TarnErrorCode code) {
  const TErrorEntry* entry = FindErrorEntry(code);
  return entry == nullptr ? std::string() : std::string(entry->constantName);
}

void LockErrorInformation() { ErrorInformationLock().lock(); }
void UnlockErrorInformation() { ErrorInformationLock().unlock(); }

void SetLastSocketError(std::int32_t code) noexcept { tLastSocketError = code; }
std::int32_t GetLastSocketError() noexcept { return tLastSocketError; }

}  // namespace tarn
