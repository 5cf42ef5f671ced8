// Engine start-up state: started flag, default session, current session per thread.
#include "engine/engine_state.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "engine/data_session.h"
#include "core/errors.h"
#include "platform/os_process.h"
#include "storage/keys/character_maps.h"
#include "storage/records/records_bitmap.h"
#include "storage/files/file_list.h"

namespace tarn {
namespace {

std::mutex gEngineLock;
bool gStarted = false;
std::unique_ptr<TDataSession> gDefaultSession;
std::vector<std::function<void()>>& ShutdownHooks() {
  static std::vector<std::function<void()>> hooks;
  return hooks;
}
// Made on first use, so layers may register while static objects are initialised.
std::vector<TEngineStartup>& StartupHooks() {
  static std::vector<TEngineStartup> hooks;
  return hooks;
}
thread_local TDataSession* tCurrentSession = nullptr;

}  // namespace

void InitializeTarn() {
  std::lock_guard lock(gEngineLock);
  if (gStarted) return;
  InitializeCharMaps();
  CreateRecordsBitmapPool();
  for (const TEngineStartup start : StartupHooks()) start();
  gDefaultSession = std::make_unique<TDataSession>(false);
  gStarted = true;
}

void ExitTarn() {
  std::lock_guard lock(gEngineLock);
  if (!gStarted) return;
  if (tCurrentSession == gDefaultSession.get()) tCurrentSession = nullptr;
  gDefaultSession.reset();
  for (auto& release : ShutdownHooks()) release();
  // Sessions other than the default one live on independently of the engine
  // and may still hold files: only the file objects nobody holds are freed.
  TFileList::Instance().ReleaseUnused();
  // The process's private directory goes once no session can use it any more.
  if (LiveDataSessions() == 0) OSRemoveProcessPrivateDirectory();
  FreeRecordsBitmapPool();
  FinalizeCharMaps();
  gStarted = false;
}

bool TarnStarted() {
  std::lock_guard lock(gEngineLock);
  return gStarted;
}

TDataSession& GetCurrentDataSession() {
  if (tCurrentSession) return *tCurrentSession;
  std::lock_guard lock(gEngineLock);
  if (!gStarted) RaiseError(TARN_NOTINITIALIZED);
  return *gDefaultSession;
}

void SetCurrentDataSession(TDataSession* session) { tCurrentSession = session; }

std::unique_ptr<TDataSession> StartDataSession(bool server) { return std::make_unique<TDataSession>(server); }

void CloseDataSession(std::unique_ptr<TDataSession>& session) {
  if (session && tCurrentSession == session.get()) tCurrentSession = nullptr;
  session.reset();
}

void RegisterEngineStartup(TEngineStartup start) {
  if (start == nullptr) return;
  std::lock_guard lock(gEngineLock);
  auto& hooks = StartupHooks();
  if (std::find(hooks.begin(), hooks.end(), start) != hooks.end()) return;
  hooks.push_back(start);
  if (gStarted) start();
}

void RegisterEngineShutdown(std::function<void()> release) {
  std::lock_guard lock(gEngineLock);
  ShutdownHooks().push_back(std::move(release));
}

}  // namespace tarn
