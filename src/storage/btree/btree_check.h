// The structural check of one index slot's B-tree: key order within and
// across pages, leaves at one depth, sibling chains level by level, the lower
// counts of branch entries, branch keys equal to their child's first key, fill
// limits, and the slot's free-page list (free pages only, in range, no cycle,
// none also in the tree). It reports findings instead of raising, and answers
// what it saw so that callers can compare it with what they expect.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "storage/btree/index_file.h"
#include "storage/btree/page_key_comparator.h"

namespace tarn {

struct TTreeCheckReport {
  int Levels = 0;
  std::int64_t Keys = 0;
  std::vector<std::vector<std::int32_t>> PagesByLevel;                    // level 1 = root
  std::vector<std::pair<std::vector<std::uint8_t>, std::int32_t>> Entries;  // in index order
  std::set<std::int32_t> FreePages;
  std::vector<std::string> Findings;  // empty: the tree is sound
};

// Walks the slot's tree and free list through the index file's page cache
// (the caller holds whatever lock keeps the file still). A page that cannot be
// read, or a read that reports changes, is a finding too.
TTreeCheckReport CheckIndexTree(TIndexFile& file, TCacheClient* cursor, std::size_t slot,
                                const TPageKeyComparator& comparator);

}  // namespace tarn
