// TDataCursor key search and ranges in the current index: Find on whole keys
// and on prefixes (leading key fields, then a number of characters of the
// next), and ranges with explicit open ends, their ordinals counted from the
// key counts of the index pages.
#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "cursor/cursor_operation.h"
#include "cursor/data_cursor.h"
#include "cursor/key_ranges.h"

namespace tarn {

std::vector<std::uint8_t> TDataCursor::SearchKey(const std::uint8_t* data, bool isKey) const {
  std::vector<std::uint8_t> key(keySize_, 0);
  if (isKey) {
    std::memcpy(key.data(), data, keySize_);
  } else {
    GetKeyValues(data, key.data());
  }
  return key;
}

std::size_t TDataCursor::PrefixLength(std::int32_t fieldCount, std::uint8_t partialLength) const {
  const std::size_t fields = keyLayout_.Fields.size();
  const std::size_t count =
      fieldCount <= 0 ? (partialLength > 0 ? 0 : fields) : std::min<std::size_t>(fieldCount, fields);
  std::size_t length = 0;
  for (std::size_t i = 0; i < count; ++i) length += keyLayout_.Fields[i].IndexedSize() + 1u;
  if (partialLength > 0 && count < fields)
    length += std::min<std::size_t>(partialLength, keyLayout_.Fields[count].IndexedSize()) + 1u;
  return std::min<std::size_t>(length, keySize_);
}

bool TDataCursor::Find(const std::uint8_t* data, const TFindOptions& options, std::uint8_t* recordOut) {
  if (GetIsPhysicalNavigation() || data == nullptr) return false;
  TCursorOperation operation(*this);
  std::vector<std::uint8_t> key = SearchKey(data, options.IsKey);
  const std::int32_t keyFields = static_cast<std::int32_t>(keyLayout_.Fields.size());
  const bool unique = indexDefinition_.Unique != 0;
  const bool prefix = (options.FieldCount > 0 && options.FieldCount < keyFields) || !unique ||
                      (options.FieldCount == 0 && options.PartialLength > 0);
  bool found = false;
  if (prefix) {
    // The smallest key with the prefix, in the index's own order.
    const std::size_t length = PrefixLength(options.FieldCount, options.PartialLength);
    const TKeyRangeIndex index{keyLayout_, keySize_, charMap_};
    if (keyLayout_.Descending) {
      SetHighBytes(index, key.data(), length);
    } else {
      SetLowBytes(index, key.data(), length);
    }
    FindIndexKey(key.data(), true, false);
    found = !(bof_ && eof_) && !eof_ && currentPage_ != 0 && length > 0 &&
            CompareKeys(currentKey_.data(), key.data(), length) == 0;
  } else {
    found = FindIndexKey(key.data(), options.Nearest, false);
  }
  if (eof_ && !bof_) GotoLastIndexPosition();
  RefreshCurrentRecord(kReadAheadForward);
  if (recordOut != nullptr) std::memcpy(recordOut, currentRecord_.data(), recordBufferSize_);
  return found;
}

void TDataCursor::SetBeginIndexRange(const std::uint8_t* key) {
  rangeBegin_.fill(0);
  rangeHasBegin_ = key != nullptr;
  if (key != nullptr) std::memcpy(rangeBegin_.data(), key, keySize_);
}

void TDataCursor::SetEndIndexRange(const std::uint8_t* key) {
  rangeEnd_.fill(0xFF);
  rangeHasEnd_ = key != nullptr;
  if (key != nullptr) std::memcpy(rangeEnd_.data(), key, keySize_);
}

void TDataCursor::ActivateRange() {
  if (!GetIsPhysicalNavigation()) rangeActive_ = true;
}

void TDataCursor::SetRange(const TRangeBound& begin, const TRangeBound& end) {
  if (GetIsPhysicalNavigation()) return;
  TCursorOperation operation(*this);
  const std::int32_t keyFields = static_cast<std::int32_t>(keyLayout_.Fields.size());
  const bool unique = indexDefinition_.Unique != 0;
  const TKeyRangeIndex index{keyLayout_, keySize_, charMap_};
  // A bound on some leading fields (or on a non-unique index, whose keys end
  // in the record ID) is filled out to the first or last key with its prefix.
  auto bound = [&](const TRangeBound& b, bool low) {
    std::vector<std::uint8_t> key = SearchKey(b.Data, b.IsKey);
    if ((b.FieldCount > 0 && b.FieldCount < keyFields) || !unique) {
      const std::size_t from = PrefixLength(b.FieldCount, 0);
      if (low != keyLayout_.Descending) {
        SetLowBytes(index, key.data(), from);
      } else {
        SetHighBytes(index, key.data(), from);
      }
    }
    return key;
  };
  if (begin.Data != nullptr) {
    SetBeginIndexRange(bound(begin, true).data());
  } else {
    SetBeginIndexRange(nullptr);
  }
  if (end.Data != nullptr) {
    SetEndIndexRange(bound(end, false).data());
  } else {
    SetEndIndexRange(nullptr);
  }
  ActivateRange();
  RefreshRangeAndFilters();
  RepositionCurrentRecord();
}

void TDataCursor::ResetRange() {
  if (GetIsPhysicalNavigation()) return;
  TCursorOperation operation(*this);
  CancelRange();
  RefreshRangeAndFilters();
  RepositionCurrentRecord();
}

}  // namespace tarn
