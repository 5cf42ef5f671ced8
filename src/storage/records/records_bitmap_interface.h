// TRecordsBitmapInterface: what the index filter scans need of a records
// bitmap (a bit per physical record number). TRecordsBitmap (records_bitmap.h)
// implements it.
#pragma once

#include <cstdint>

namespace tarn {

class TRecordsBitmapInterface {
 public:
  virtual ~TRecordsBitmapInterface() = default;
  // Record numbers are 1-based; numbers outside the bitmap answer false / are ignored.
  virtual bool GetBit(std::int32_t recordNumber) const = 0;
  virtual void SetBit(std::int32_t recordNumber) = 0;
};

}  // namespace tarn
