// Sorting all records of a data file in place by a list of fields, with
// duplicate removal, grouping callbacks and a limit: how SQL result tables are
// ordered, made distinct and grouped. Files whose records are all cached are
// sorted in memory; others are sorted in runs written to temporary files in
// the session's private directory and merged.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "storage/formats/field_definition.h"

namespace tarn {

class TDataFile;

// The grouping callbacks (the SQL layer supplies them). Group(open, a, b):
// open a group with (record, record) for the first record and
// (groupRecord, newRecord) for a later one; fold with (record, groupRecord).
struct TSortCallbacks {
  std::function<void(bool open, std::uint8_t* a, std::uint8_t* b)> Group;
  std::function<void(std::uint8_t* groupRecord)> Average;
  std::function<bool(std::uint8_t* groupRecord)> Having;
};

struct TSortOptions {
  bool Distinct = false;         // records equal in every sort field are written once
  bool CaseInsensitive = false;  // text sort fields compare without regard to case
};

// Sorts the file. maxRecords < 0 means no limit. Deleted records are left
// out. Answers the number of records written.
std::int32_t SortDataFile(TDataFile& file, std::span<const TFieldDefinition> sortFields, std::int64_t maxRecords,
                          const TSortCallbacks& callbacks, const TSortOptions& options = {});

}  // namespace tarn
