// TDataSession: one engine session's settings (private directory, lock retries and
// wait, lock protocol, change detection, buffer flushing, progress steps), the table
// passwords it knows and the database directories it has opened.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/tables/table_owner.h"

namespace tarn {

class TDataDirectory;

enum TLockProtocol : std::uint8_t { lpPessimistic = 0, lpOptimistic = 1 };

class TDataSession {
 public:
  // Hooks a hosting database server may install; none are installed in this system,
  // and without them the Do... calls leave the caller's preset values alone.
  using TGetProcessIDCallback = std::function<void(std::string& processID)>;
  using TGetPathCallback = std::function<void(const std::string& databaseName, std::string& path)>;
  using TGetRightsCallback = std::function<void(const std::string& databaseName, std::uint8_t& rights)>;
  using TCheckRightsCallback = std::function<void(TDataDirectory& directory, int rightCode)>;

  explicit TDataSession(bool server = false);
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  bool Server() const { return server_; }

  // An empty text is ignored: a private directory once set stays set.
  void SetPrivateDirectory(const std::string& directory);
  // The private directory set, or else the process's own private directory
  // (made on first use under $TMPDIR or /tmp, mode 0700); raises the mapped
  // OS error when that cannot be made.
  std::string GetPrivateDirectory() const;
  const std::string& DefaultDirectory() const { return defaultDirectory_; }

  void SetProgress(std::uint16_t steps) { progressSteps_ = steps; }
  std::uint16_t ProgressSteps() const { return progressSteps_; }
  // Percentage between two progress reports: 100 div steps, 100 for 0 steps.
  int GetProgressPercent() const { return progressSteps_ == 0 ? 100 : 100 / progressSteps_; }
  void SetForceBufferFlush(bool value) { forceBufferFlush_ = value; }
  bool ForceBufferFlush() const { return forceBufferFlush_; }
  // Whether flushes keep a rollback journal (on by default), and what they survive.
  void SetFlushJournaling(TFlushJournaling value) { flushJournaling_ = value; }
  TFlushJournaling FlushJournaling() const { return flushJournaling_; }
  void SetFlushDurability(TFlushDurability value) { flushDurability_ = value; }
  TFlushDurability FlushDurability() const { return flushDurability_; }
  void SetStrictChangeDetection(bool value) { strictChangeDetection_ = value; }
  bool StrictChangeDetection() const { return strictChangeDetection_; }
  void SetLockRetries(std::uint8_t count) { lockRetries_ = count; }
  std::uint8_t LockRetries() const { return lockRetries_; }
  void SetLockWait(std::uint16_t milliseconds) { lockWait_ = milliseconds; }
  std::uint16_t LockWait() const { return lockWait_; }
  void SetLockProtocol(TLockProtocol protocol) { lockProtocol_ = protocol; }
  TLockProtocol LockProtocol() const { return lockProtocol_; }

  // Passwords compare exactly, letter case included; empty ones are ignored.
  void AddPassword(const std::string& password);
  void DeletePassword(const std::string& password);
  void DeleteAllPasswords() { passwords_.clear(); }
  bool CheckForPassword(const std::string& password) const;
  const std::vector<std::string>& Passwords() const { return passwords_; }

  // Opens (or shares, by path) a database directory; "Memory" names the in-memory
  // database. The flag matters only for remote sessions.
  TDataDirectory& OpenDataDirectory(const std::string& name, const std::string& path, bool flag = false);
  void CloseDataDirectory(TDataDirectory& directory, bool flag = false);
  bool GetHasOpenDirectories() const { return !directories_.empty(); }
  const std::vector<std::unique_ptr<TDataDirectory>>& Directories() const { return directories_; }

  void SetGetProcessIDCallback(TGetProcessIDCallback hook) { getProcessID_ = std::move(hook); }
  void SetGetPathCallback(TGetPathCallback hook) { getPath_ = std::move(hook); }
  void SetGetRightsCallback(TGetRightsCallback hook) { getRights_ = std::move(hook); }
  void SetCheckRightsCallback(TCheckRightsCallback hook) { checkRights_ = std::move(hook); }
  void DoGetProcessID(std::string& processID) const;
  void DoGetPath(const std::string& databaseName, std::string& path) const;
  void DoGetRights(const std::string& databaseName, std::uint8_t& rights) const;
  void DoCheckRights(TDataDirectory& directory, int rightCode) const;

 private:
  bool server_;
  std::vector<std::unique_ptr<TDataDirectory>> directories_;
  std::string defaultDirectory_;
  std::string privateDirectory_;
  std::vector<std::string> passwords_;
  std::uint16_t progressSteps_ = 20;
  bool forceBufferFlush_ = false;
  TFlushJournaling flushJournaling_ = TFlushJournaling::fjOn;
  TFlushDurability flushDurability_ = TFlushDurability::fdProcess;
  bool strictChangeDetection_ = false;
  std::uint8_t lockRetries_ = 15;
  std::uint16_t lockWait_ = 100;
  TLockProtocol lockProtocol_ = lpPessimistic;
  TGetProcessIDCallback getProcessID_;
  TGetPathCallback getPath_;
  TGetRightsCallback getRights_;
  TCheckRightsCallback checkRights_;
};

// How many data sessions exist in the process (the engine's default one included).
int LiveDataSessions() noexcept;

// A directory path as the engine keeps it: trimmed, '\' read as '/', with a
// trailing '/' (empty stays empty), cut to 255 bytes.
std::string NormalizeDirectoryPath(const std::string& path);

}  // namespace tarn
