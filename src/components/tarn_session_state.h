// The private state of a session component, shared by the files that make up
// TTarnSession (start and stop, settings, databases, automatic names).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "components/tarn_database.h"
#include "components/tarn_session.h"

namespace tarn {

struct TTarnSession::State {
  // The data session while active; the default session's is the engine's own
  // and is not owned here.
  TDataSession* handle = nullptr;
  std::unique_ptr<TDataSession> ownedHandle;
  std::vector<TTarnDatabase*> databases;
  // Databases the session made on demand; it owns them.
  std::vector<std::unique_ptr<TTarnDatabase>> temporaries;
  bool streamedActive = false;
  bool isDefault = false;
  int autoNumber = -1;
  bool updatingAutoName = false;
  bool stopping = false;
  int lockDepth = 0;

  bool autoSessionName = false;
  std::string sessionName;
  bool forceBufferFlush = false;
  bool keepConnections = true;
  std::uint8_t lockRetryCount = 15;
  std::uint16_t lockWaitTime = 100;
  TLockProtocol lockProtocol = lpPessimistic;
  std::string privateDir;
  std::uint16_t progressSteps = 20;
  bool strictChangeDetection = false;
  TSessionType sessionType = stLocal;

  // Lent directories: how many borrowers use each, and how many closes its
  // opener(s) made while borrowers were left.
  struct TBorrow {
    int borrowers = 0;
    int pendingCloses = 0;
  };
  std::map<TDataDirectory*, TBorrow> borrows;
};

}  // namespace tarn
