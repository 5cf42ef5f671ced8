// TPageKeyComparator: how the page scans compare index keys. The cursor
// answers for its current index; TLayoutKeyComparator answers from an index's
// key layout (language, descending flags, key fields).
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/keys/key_compare.h"
#include "storage/keys/key_layout.h"

namespace tarn {

class TPageKeyComparator {
 public:
  virtual ~TPageKeyComparator() = default;
  // -1, 0 or 1 over the first length bytes of two keys.
  virtual int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) const = 0;
};

class TLayoutKeyComparator final : public TPageKeyComparator {
 public:
  explicit TLayoutKeyComparator(TKeyLayout layout) : layout_(std::move(layout)) {}
  int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) const override {
    return tarn::CompareKeys(layout_, a, b, length);
  }
  const TKeyLayout& Layout() const noexcept { return layout_; }

 private:
  TKeyLayout layout_;
};

}  // namespace tarn
