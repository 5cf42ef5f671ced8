// TPage entries: the fixed-size entry slots in memory and the operations that
// insert, replace, delete, split, balance and merge them.
#include "storage/btree/page.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/errors.h"

namespace tarn {

namespace {
constexpr std::size_t kEntryBufferStep = 4096;
}

void TPage::SetPageType(std::uint8_t type) noexcept {
  pageType_ = type;
  SetDirty(true);
}

void TPage::SetLeftPageNumber(std::int32_t n) noexcept {
  leftPage_ = n;
  SetDirty(true);
}

void TPage::SetRightPageNumber(std::int32_t n) noexcept {
  rightPage_ = n;
  SetDirty(true);
}

void TPage::Reserve(std::size_t bytes) {
  if (bytes > entries_.capacity()) {
    entries_.reserve((bytes + kEntryBufferStep - 1) / kEntryBufferStep * kEntryBufferStep);
  }
}

void TPage::SetNumberOfKeyEntries(int n) {
  if (n < 0) n = 0;
  const std::size_t bytes = static_cast<std::size_t>(n) * EntrySize();
  Reserve(bytes);
  entries_.resize(bytes, 0);
  entryCount_ = n;
  SetDirty(true);
}

void TPage::Initialize() {
  pageType_ = ptRootBranch;
  free_ = false;
  leftPage_ = 0;
  rightPage_ = 0;
  entryCount_ = 0;
  compressedSize_ = 0;
  storedEntryCount_ = 0;
  entries_.clear();
  SetDirty(false);
}

void TPage::Reset(std::int32_t n) {
  Initialize();
  ClearUseCount();
  SetNumberValue(n);
}

void TPage::Swap(TPage& other) noexcept {
  std::swap(settings_, other.settings_);
  std::swap(pageType_, other.pageType_);
  std::swap(free_, other.free_);
  std::swap(leftPage_, other.leftPage_);
  std::swap(rightPage_, other.rightPage_);
  std::swap(entryCount_, other.entryCount_);
  std::swap(compressedSize_, other.compressedSize_);
  std::swap(storedEntryCount_, other.storedEntryCount_);
  entries_.swap(other.entries_);
}

void TPage::Copy(const TPage& other) {
  settings_ = other.settings_;
  pageType_ = other.pageType_;
  free_ = other.free_;
  leftPage_ = other.leftPage_;
  rightPage_ = other.rightPage_;
  entryCount_ = other.entryCount_;
  compressedSize_ = other.compressedSize_;
  Reserve(other.entries_.size());
  entries_ = other.entries_;
  SetDirty(true);
}

int TPage::GetMaximumKeyEntries() const noexcept {
  const std::size_t ks = settings_.KeySize;
  if (IsBranch()) {
    return static_cast<int>(kPageDataSize / (ks + (settings_.Slot == 32 ? 4 : 8)));
  }
  return static_cast<int>(kPageDataSize / (ks + 4));
}

std::int32_t TPage::GetRecordNumber(int pos) const noexcept {
  std::int32_t v;
  std::memcpy(&v, GetKeyEntryPtr(pos) + settings_.KeySize, 4);
  return v;
}

void TPage::SetRecordNumber(int pos, std::int32_t value) noexcept {
  std::memcpy(GetKeyEntryPtr(pos) + settings_.KeySize, &value, 4);
  SetDirty(true);
}

std::int32_t TPage::GetLowerKeyEntryCount(int pos) const noexcept {
  if (!IsBranch()) return 1;
  std::int32_t v;
  std::memcpy(&v, GetKeyEntryPtr(pos) + settings_.KeySize + 4, 4);
  return v;
}

void TPage::SetLowerKeyEntryCount(int pos, std::int32_t count) noexcept {
  std::memcpy(GetKeyEntryPtr(pos) + settings_.KeySize + 4, &count, 4);
  SetDirty(true);
}

std::int64_t TPage::GetTotalLowerKeyEntryCount() const noexcept { return GetPageKeyCount(entryCount_ + 1); }

std::int64_t TPage::GetPageKeyCount(int pos) const noexcept {
  if (pos <= 1) return 0;
  const int last = std::min(pos - 1, entryCount_);
  if (!IsBranch()) return last;
  std::int64_t sum = 0;
  for (int i = 1; i <= last; ++i) sum += GetLowerKeyEntryCount(i);
  return sum;
}

std::uint8_t* TPage::GetPageDataPtr() {
  if (entries_.size() < kPageDataSize) {
    Reserve(kPageDataSize);
    entries_.resize(kPageDataSize, 0);
  }
  return entries_.data();
}

bool TPage::PageDataOverflowed() const noexcept {
  if (IsCompressedLeaf()) return compressedSize_ > kPageDataSize;
  return entryCount_ > GetMaximumKeyEntries();
}

void TPage::InsertKeyEntry(int pos, const std::uint8_t* key, std::int32_t value, std::int32_t lowerCount) {
  if (pos < 1 || pos > entryCount_ + 1) RaiseError(TARN_INDEXCORRUPT);
  const std::size_t es = EntrySize();
  Reserve((entryCount_ + 1) * es);
  const auto at = entries_.begin() + static_cast<std::ptrdiff_t>((pos - 1) * es);
  entries_.insert(at, es, 0);
  ++entryCount_;
  std::uint8_t* entry = GetKeyEntryPtr(pos);
  std::memcpy(entry, key, settings_.KeySize);
  std::memcpy(entry + settings_.KeySize, &value, 4);
  std::memcpy(entry + settings_.KeySize + 4, &lowerCount, 4);
  SetDirty(true);
  CalculateCompressedSize();
}

void TPage::UpdateKeyEntry(int pos, const std::uint8_t* key) {
  if (pos < 1 || pos > entryCount_) RaiseError(TARN_INDEXCORRUPT);
  std::memmove(GetKeyEntryPtr(pos), key, settings_.KeySize);
  SetDirty(true);
  CalculateCompressedSize();
}

void TPage::DeleteKeyEntry(int pos) {
  if (pos < 1 || pos > entryCount_) RaiseError(TARN_INDEXCORRUPT);
  const std::size_t es = EntrySize();
  const auto at = entries_.begin() + static_cast<std::ptrdiff_t>((pos - 1) * es);
  entries_.erase(at, at + static_cast<std::ptrdiff_t>(es));
  --entryCount_;
  SetDirty(true);
  CalculateCompressedSize();
}

void TPage::TakeEntries(TPage& src, int srcPos, int n, int dstPos) {
  if (n <= 0) return;
  const std::size_t es = EntrySize();
  const auto from = src.entries_.begin() + static_cast<std::ptrdiff_t>((srcPos - 1) * es);
  const auto to = from + static_cast<std::ptrdiff_t>(n * es);
  Reserve((entryCount_ + n) * es);
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>((dstPos - 1) * es), from, to);
  entryCount_ += n;
  src.entries_.erase(from, to);
  src.entryCount_ -= n;
  SetDirty(true);
  src.SetDirty(true);
}

void TPage::SplitIntoPage(TPage& target) {
  if (&target == this) RaiseError(TARN_INDEXCORRUPT);
  const int c = entryCount_;
  const int moving = c / 2;
  target.SetNumberOfKeyEntries(0);
  target.TakeEntries(*this, c - moving + 1, moving, 1);
  const std::uint8_t type = IsBranch() ? ptBranch : ptLeaf;
  SetPageType(type);
  target.SetPageType(type);
  target.SetLeftPageNumber(PageNumber());
  target.SetRightPageNumber(rightPage_);
  SetRightPageNumber(target.PageNumber());
  CalculateCompressedSize();
  target.CalculateCompressedSize();
  if (!IsCompressedLeaf()) return;
  // Compression makes entry sizes depend on their neighbours: shift entries
  // over the cut until both halves fit.
  for (int guard = 0; guard <= c; ++guard) {
    const bool leftOver = PageDataOverflowed();
    const bool rightOver = target.PageDataOverflowed();
    if (!leftOver && !rightOver) return;
    if (leftOver && rightOver) break;
    if (leftOver) {
      if (entryCount_ <= 1) break;
      target.TakeEntries(*this, entryCount_, 1, 1);
    } else {
      if (target.entryCount_ <= 1) break;
      TakeEntries(target, 1, 1, entryCount_ + 1);
    }
    CalculateCompressedSize();
    target.CalculateCompressedSize();
  }
  RaiseError(TARN_INDEXCORRUPT);
}

void TPage::BalanceWithLeftPage(TPage& left) {
  if (&left == this) RaiseError(TARN_INDEXCORRUPT);
  const int total = left.entryCount_ + entryCount_;
  const int leftKeeps = (total + 1) / 2;
  if (left.entryCount_ > leftKeeps) {
    TakeEntries(left, leftKeeps + 1, left.entryCount_ - leftKeeps, 1);
  } else if (left.entryCount_ < leftKeeps) {
    left.TakeEntries(*this, 1, leftKeeps - left.entryCount_, left.entryCount_ + 1);
  }
  CalculateCompressedSize();
  left.CalculateCompressedSize();
}

void TPage::BalanceWithRightPage(TPage& right) {
  if (&right == this) RaiseError(TARN_INDEXCORRUPT);
  const int total = right.entryCount_ + entryCount_;
  const int keeps = total / 2;
  if (entryCount_ > keeps) {
    right.TakeEntries(*this, keeps + 1, entryCount_ - keeps, 1);
  } else if (entryCount_ < keeps) {
    TakeEntries(right, 1, keeps - entryCount_, entryCount_ + 1);
  }
  CalculateCompressedSize();
  right.CalculateCompressedSize();
}

void TPage::MergeWithLeftPage(TPage& left) {
  if (&left == this) RaiseError(TARN_INDEXCORRUPT);
  left.TakeEntries(*this, 1, entryCount_, left.entryCount_ + 1);
  left.SetRightPageNumber(rightPage_);
  SetLeftPageNumber(0);
  SetRightPageNumber(0);
  CalculateCompressedSize();
  left.CalculateCompressedSize();
}

void TPage::MergeWithRightPage(TPage& right) {
  if (&right == this) RaiseError(TARN_INDEXCORRUPT);
  right.TakeEntries(*this, 1, entryCount_, 1);
  right.SetLeftPageNumber(leftPage_);
  SetLeftPageNumber(0);
  SetRightPageNumber(0);
  CalculateCompressedSize();
  right.CalculateCompressedSize();
}

}  // namespace tarn
