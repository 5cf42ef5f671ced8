// What the write-fault and journal kill tests share: rows keyed by ID, the notes
// written into the BLOB field, and the base-row count after which the next key
// splits a leaf below the root.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "storage/tables/quota_table.h"

namespace tarn::testing {

using TRows = std::map<std::int32_t, QuotaRow>;
using TNotes = std::map<std::int32_t, std::string>;

// A note long enough to need several BLOB blocks.
inline std::string NoteText(std::int32_t id) { return std::string(700 + id * 150, static_cast<char>('a' + id)); }

inline TRows RowsById(QuotaOps& ops) {
  TRows rows;
  for (const auto& [number, row] : ops.LiveRecords()) rows[row.Id] = row;
  return rows;
}

// The number of base rows after which the next key splits a leaf below a root
// branch (the tree has a root and at least two leaves already).
inline std::int32_t RowsFillingALeafBelowTheRoot() {
  static const std::int32_t rows = [] {
    TempDirectory dir;
    CreateQuotaTable(dir.Path(), "quota");
    SessionOn s(dir.Path());
    TDataTable& table = s.Open("quota");
    QuotaOps ops(table);
    std::int32_t pages = 0;
    for (std::int32_t id = 1;; ++id) {
      ops.Append({id, "base" + std::to_string(id), id});
      const std::int32_t now = table.IndexFile().GetPhysicalPagesUsed();
      if (now > pages && pages >= 3) return id - 1;
      pages = now;
    }
  }();
  return rows;
}

}  // namespace tarn::testing
