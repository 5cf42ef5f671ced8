// TTarnSessionList: the process-wide list of session components (`Sessions`)
// with the default session `Session` ("Default"), the automatic session
// numbers and the one re-entrant session lock that serialises session start
// and stop, numbering, and every LockSession section.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarn {

class TTarnSession;

class TTarnSessionList {
 public:
  TTarnSessionList();
  ~TTarnSessionList();
  TTarnSessionList(const TTarnSessionList&) = delete;
  TTarnSessionList& operator=(const TTarnSessionList&) = delete;

  void AddSession(TTarnSession& session);
  void RemoveSession(TTarnSession& session);
  // Destroys every session the list holds (those OpenSession created and the
  // default session), last first.
  void CloseAll();

  int Count() const;
  TTarnSession* Sessions(int index) const;
  // An empty name gives the default session; names compare without regard to case.
  TTarnSession* FindSession(const std::string& name) const;
  // Raises "Session name %s is not valid." when there is none.
  TTarnSession& GetSessionByName(const std::string& name) const;
  void GetSessionNames(std::vector<std::string>& list) const;
  // The session of that name, created without an owner when missing, made active.
  TTarnSession& OpenSession(const std::string& name);
  // The session whose data session is the calling thread's current one, or none.
  TTarnSession* CurrentSession() const;
  void SetCurrentSession(TTarnSession& session);

  // The default session "Default", created when the list has none (first use,
  // or after CloseAll destroyed it).
  TTarnSession& DefaultSession() const;
  void EnsureDefaultSession();

  // Automatic session numbers: the lowest free one (1-based), and giving one back.
  int TakeAutoSessionNumber();
  void ReleaseAutoSessionNumber(int number);

  std::recursive_mutex& SessionLock() noexcept { return sessionLock_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::recursive_mutex sessionLock_;
};

// The process's session list, created with its default session on first use.
TTarnSessionList& Sessions();
// The default session "Default".
TTarnSession& Session();
// True once the process's list has been destroyed (at process exit): sessions
// that outlive it do not sign off from it.
bool SessionListDestroyed() noexcept;

}  // namespace tarn
