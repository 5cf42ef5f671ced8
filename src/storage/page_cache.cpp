// The per-slot page cache and the pool of spare pages.
#include "storage/page_cache.h"

#include <algorithm>

#include "engine/errors.h"

namespace tarn {

std::unique_ptr<TPage> TPageStack::GetNewPageInstance() {
  if (spares_.empty()) return std::make_unique<TPage>();
  std::unique_ptr<TPage> page = std::move(spares_.back());
  spares_.pop_back();
  return page;
}

void TPageStack::ReturnPageInstance(std::unique_ptr<TPage> page) {
  if (!page) return;
  if (spares_.size() >= kMaxSparePages) return;  // destroyed here
  page->Initialize();
  page->ClearUseCount();
  page->SetPageNumber(0);
  page->Newer = page->Older = nullptr;
  spares_.push_back(std::move(page));
}

std::size_t TPageCache::IndexOf(std::int32_t n) const noexcept {
  const auto it = std::lower_bound(sorted_.begin(), sorted_.end(), n,
                                   [](const std::unique_ptr<TPage>& p, std::int32_t v) { return p->PageNumber() < v; });
  return static_cast<std::size_t>(it - sorted_.begin());
}

void TPageCache::Unlink(TPage* page) noexcept {
  if (page->Newer != nullptr) {
    page->Newer->Older = page->Older;
  } else {
    newest_ = page->Older;
  }
  if (page->Older != nullptr) {
    page->Older->Newer = page->Newer;
  } else {
    oldest_ = page->Newer;
  }
  page->Newer = page->Older = nullptr;
}

void TPageCache::PushFront(TPage* page) noexcept {
  page->Newer = nullptr;
  page->Older = newest_;
  if (newest_ != nullptr) newest_->Newer = page;
  newest_ = page;
  if (oldest_ == nullptr) oldest_ = page;
}

TPage* TPageCache::Find(std::int32_t n, bool& quickHit) {
  quickHit = false;
  TPage* page = newest_;
  for (int i = 0; i < kQuickHitPages && page != nullptr; ++i, page = page->Older) {
    if (page->PageNumber() == n) {
      quickHit = true;
      Unlink(page);
      PushFront(page);
      return page;
    }
  }
  const std::size_t at = IndexOf(n);
  if (at >= sorted_.size() || sorted_[at]->PageNumber() != n) return nullptr;
  page = sorted_[at].get();
  Unlink(page);
  PushFront(page);
  return page;
}

TPage* TPageCache::Insert(std::unique_ptr<TPage> page) {
  TPage* raw = page.get();
  const std::size_t at = IndexOf(raw->PageNumber());
  sorted_.insert(sorted_.begin() + static_cast<std::ptrdiff_t>(at), std::move(page));
  PushFront(raw);
  return raw;
}

TPage* TPageCache::FindVictim() const noexcept {
  for (TPage* page = oldest_; page != nullptr; page = page->Newer) {
    if (!page->Dirty() && !page->InUse()) return page;
  }
  return nullptr;
}

std::unique_ptr<TPage> TPageCache::Remove(TPage* page) {
  const std::size_t at = IndexOf(page->PageNumber());
  if (at >= sorted_.size() || sorted_[at].get() != page) RaiseError(TARN_INDEXCORRUPT);
  Unlink(page);
  std::unique_ptr<TPage> owned = std::move(sorted_[at]);
  sorted_.erase(sorted_.begin() + static_cast<std::ptrdiff_t>(at));
  return owned;
}

void TPageCache::Renumber(TPage* page, std::int32_t n) {
  std::unique_ptr<TPage> owned = Remove(page);
  owned->SetPageNumber(n);
  Insert(std::move(owned));
}

void TPageCache::Clear(TPageStack& pool) {
  newest_ = oldest_ = nullptr;
  for (auto& page : sorted_) pool.ReturnPageInstance(std::move(page));
  sorted_.clear();
}

}  // namespace tarn
