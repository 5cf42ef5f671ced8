// TTableOwner: what a shared table needs from the database directory that owns it
// and from that directory's data session: where its files live, how its locks retry,
// and how it detects and publishes changes.
#pragma once

#include <cstdint>
#include <string>

namespace tarn {

// Whether a flush of a shared disk table keeps a rollback journal beside the table.
enum class TFlushJournaling : std::uint8_t {
  fjOn,  // a writer killed at any write leaves every committed row readable
  fjOff  // for bulk loads into tables nobody else uses: a killed writer may leave damage
};

// What a journaled flush survives.
enum class TFlushDurability : std::uint8_t {
  fdProcess,   // a dying process: nothing is synced, the operating system still holds the writes
  fdPowerLoss  // power loss too: the journal is synced before the files are written, the files before it goes
};

class TTableOwner {
 public:
  virtual ~TTableOwner() = default;

  // The directory path with its trailing '/' (empty for the in-memory database
  // opened without a path) and the name the database was opened with.
  virtual const std::string& DirectoryPath() const = 0;
  virtual const std::string& DatabaseName() const = 0;

  // The data session's settings.
  virtual bool StrictChangeDetection() const = 0;
  virtual bool ForceBufferFlush() const = 0;
  virtual std::uint8_t LockRetries() const = 0;
  virtual std::uint16_t LockWait() const = 0;
  virtual TFlushJournaling FlushJournaling() const { return TFlushJournaling::fjOn; }
  virtual TFlushDurability FlushDurability() const { return TFlushDurability::fdProcess; }
  // Where temporary work files (sort runs, answer tables) are made.
  virtual std::string PrivateDirectory() const = 0;
  // Whether the session knows the password (exact comparison).
  virtual bool CheckForPassword(const std::string& password) const = 0;
};

}  // namespace tarn
