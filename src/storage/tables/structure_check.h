// The structural check of a table's files: the data file (record count against
// the file size, deleted flags, the free-record chain), the BLOB file (block
// count against the file size, every record's block chain, the free-block list,
// no block in two places), and every index slot's B-tree (btree_check.h) with
// its entries against the live records. Each check answers a list of findings;
// an empty list means the structure is sound. Tests, fuzzers and table verify
// use it; the per-file parts work alone.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "storage/blobs/blob_file.h"
#include "storage/records/data_file.h"

namespace tarn {

class TDataTable;

using TFindings = std::vector<std::string>;

// What the data-file check saw.
struct TDataCheckReport {
  std::set<std::int32_t> LiveRecords;
  std::set<std::int32_t> FreeRecords;  // the free-record chain
  TFindings Findings;
};

// Checks the data file through its record cache; the caller holds what keeps
// the file still (a read lock, or exclusive use). cursor may be null.
TDataCheckReport CheckDataFileStructure(TDataFile& data, TCacheClient* cursor);

// Checks the BLOB file: its size against the header, the free-block list, and
// the chain of every BLOB field of the given live records of the data file.
TFindings CheckBlobFileStructure(TBlobFile& blob, TDataFile& data, TCacheClient* cursor,
                                 const std::set<std::int32_t>& liveRecords);

// Checks the whole table under its read lock: data file, BLOB file, every
// defined index slot, record count of the index header and index entries
// against the live records.
TFindings CheckTableStructure(TDataTable& table);

}  // namespace tarn
