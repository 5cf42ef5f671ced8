// The in-memory stand-in for the session and database components.
#include "web/stand_in_data_access.h"

#include <bitset>

#include "platform/exception.h"

namespace dovecrest {
namespace {

std::mutex gAutoSessionLock;
std::bitset<1024> gAutoSessionNumbers;

}  // namespace

TStandInDataAccess::TStandInDataAccess() {
  std::lock_guard lock(gAutoSessionLock);
  std::size_t n = 0;
  while (n < gAutoSessionNumbers.size() && gAutoSessionNumbers.test(n)) ++n;
  if (n == gAutoSessionNumbers.size()) throw tarn::Exception("This auto-session already exists.");
  gAutoSessionNumbers.set(n);
  sessionName_ = "MySession_" + std::to_string(n + 1);
}

void TStandInDataAccess::SetSessionActive(bool active) {
  // Stopping the session closes its databases.
  if (!active) databaseConnected_ = false;
  sessionActive_ = active;
}

void TStandInDataAccess::SetDatabaseConnected(bool connected) {
  // Opening the database starts the session; like the engine, opening a directory does
  // not check that it exists.
  if (connected) sessionActive_ = true;
  databaseConnected_ = connected;
}

}  // namespace dovecrest
