// The database-error messages of the session and database components, and the
// helper that raises them with a name filled in.
#pragma once

#include <string>
#include <string_view>

namespace tarn {

inline constexpr std::string_view kInvalidSessionName = "Session name %s is not valid.";
inline constexpr std::string_view kSessionActive = "Cannot perform this operation on an active session.";
inline constexpr std::string_view kAutoSessionActive = "Cannot perform this operation on the active auto-session.";
inline constexpr std::string_view kDuplicateSessionName = "Session name %s already exists.";
inline constexpr std::string_view kSessionNameMissing = "Session name is missing.";
inline constexpr std::string_view kAutoSessionOnlyOne = "The active auto-session can be the only active session.";
inline constexpr std::string_view kAutoSessionExists = "This auto-session already exists.";
inline constexpr std::string_view kDatabaseClosed = "Cannot perform this operation on a closed database.";
inline constexpr std::string_view kDatabaseOpen = "Cannot perform this operation on an open database.";
inline constexpr std::string_view kDatabaseNameMissing = "Database name is missing.";
inline constexpr std::string_view kInvalidDatabaseName = "Database name %s is not valid.";
inline constexpr std::string_view kDuplicateDatabaseName = "Database name %s already exists.";
inline constexpr std::string_view kInTransaction = "Database %s already has an active transaction.";
inline constexpr std::string_view kNotInTransaction = "Database %s has no active transaction.";
inline constexpr std::string_view kHandleOtherSession = "Database handle owned by a different session";
// Sessions of the remote type need the client/server protocol, which this
// system does not have.
inline constexpr std::string_view kRemoteNotSupported =
    "Remote sessions are not supported: set SessionType to stLocal.";

// Raises EDatabaseError with the message; its "%s" (if any) replaced by the argument.
[[noreturn]] void DatabaseError(std::string_view message, std::string_view argument = {});

}  // namespace tarn
