// The fixed English messages the dataset, field and query components raise,
// and the small formatting helpers that fill them (no printf: texts are byte
// strings and numbers are written with std::to_chars).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {

namespace db_messages {
inline constexpr const char* kErrorCreatingHandle = "Error creating table handle.";
inline constexpr const char* kNotEditing = "Table is not in edit or insert mode.";
inline constexpr const char* kNotIndexField = "Field %s is not in the current index.";
inline constexpr const char* kFieldReadOnly = "Field %s cannot be modified.";
inline constexpr const char* kFieldNotFound = "Field '%s' not found";
inline constexpr const char* kNoSQLStatement = "No SQL statement available";
inline constexpr const char* kDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* kDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* kNoParameterValue = "No value for parameter '%s'";
inline constexpr const char* kCircularDataLink = "Circular data links are not allowed.";
inline constexpr const char* kDatabaseOpen = "Cannot perform this operation on an open database.";
inline constexpr const char* kInvalidInteger = "'%s' is not a valid integer value";
inline constexpr const char* kInvalidFloat = "'%s' is not a valid floating point value";
inline constexpr const char* kInvalidBoolean = "'%s' is not a valid boolean value";
inline constexpr const char* kFieldAccess = "Cannot access field '%s' as type %s";
inline constexpr const char* kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* kDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* kNotBrowsing = "Dataset not in browse mode";
inline constexpr const char* kParameterNotFound = "Parameter '%s' not found";
inline constexpr const char* kFieldIndexRange = "Field index out of range";
inline constexpr const char* kInvalidBookmark = "Invalid bookmark";
inline constexpr const char* kNoLocateFields = "No fields to locate";
inline constexpr const char* kLocateValueCount = "Number of values does not match the number of fields";
inline constexpr const char* kFilterNeedsOpen = "Cannot perform this operation on a closed dataset";
inline constexpr const char* kFieldValueTooLong = "Value too long for field %s";
}  // namespace db_messages

// The message with each "%s" replaced, in order, by the arguments given.
std::string FormatMessage(std::string_view pattern, std::string_view first, std::string_view second = {});
std::string IntToStr(std::int64_t value);

}  // namespace tarn
