// The component framework: owner lists, names, loading and notifications.
#include "components/component.h"

#include <algorithm>

#include "platform/code_page.h"

namespace tarn {

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(*this, /*notify=*/false);
}

TComponent::~TComponent() {
  destroying_ = true;
  // Components still listed lose their owner; they are held elsewhere.
  for (TComponent* component : components_) component->owner_ = nullptr;
  components_.clear();
  if (owner_) owner_->RemoveComponent(*this);
}

void TComponent::BeginDestroying() {
  destroying_ = true;
  if (owner_) owner_->RemoveComponent(*this);
}

void TComponent::ChangeOwner(TComponent* owner) {
  if (owner == owner_) return;
  if (owner_) owner_->RemoveComponent(*this);
  if (owner) owner->InsertComponent(*this, /*notify=*/true);
}

void TComponent::SetName(const std::string& name) { name_ = name; }

TComponent* TComponent::FindComponent(const std::string& name) const {
  for (TComponent* component : components_)
    if (AnsiSameText(component->Name(), name)) return component;
  return nullptr;
}

void TComponent::BeginLoading() {
  loading_ = true;
  for (TComponent* component : components_) component->loading_ = true;
}

void TComponent::EndLoading() {
  // A component's Loaded may add or remove siblings: walk a copy.
  std::vector<TComponent*> loaded = components_;
  for (TComponent* component : loaded) component->loading_ = false;
  loading_ = false;
  for (TComponent* component : loaded)
    if (std::find(components_.begin(), components_.end(), component) != components_.end()) component->Loaded();
  Loaded();
}

void TComponent::Notification(TComponent&, TOperation) {}

void TComponent::InsertComponent(TComponent& component, bool notify) {
  component.owner_ = this;
  components_.push_back(&component);
  if (notify) NotifySiblings(component, opInsert);
}

void TComponent::RemoveComponent(TComponent& component) {
  auto it = std::find(components_.begin(), components_.end(), &component);
  if (it == components_.end()) return;
  components_.erase(it);
  component.owner_ = nullptr;
  NotifySiblings(component, opRemove);
}

void TComponent::NotifySiblings(TComponent& component, TOperation operation) {
  if (destroying_) return;
  std::vector<TComponent*> siblings = components_;
  for (TComponent* sibling : siblings)
    if (sibling != &component) sibling->Notification(component, operation);
  Notification(component, operation);
}

}  // namespace tarn
