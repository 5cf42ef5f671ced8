// TComponent: the small host framework the session, database and dataset
// components live in. A component has a name, an optional owner that lists it,
// a loading state (properties being read from the stored form: setters only
// store), a destroying flag, and notifications of siblings added or removed.
//
// Ownership of memory is separate from the owner relation: whoever creates a
// component holds it (a std::unique_ptr member of a module, the session list,
// a session's temporary databases). The owner relation only lists components
// for name look-ups and notifications; a component leaving (destroyed or
// re-owned) is removed from its owner's list, and an owner that goes first
// leaves its components without an owner.
//
// Notifications name a complete component: a constructor joins its owner's
// list silently (a new component looks for the siblings it needs itself), and
// a derived destructor calls BeginDestroying first, which leaves the owner and
// sends the removal while the component is still whole.
#pragma once

#include <string>
#include <vector>

namespace tarn {

enum TOperation { opInsert, opRemove };

class TComponent {
 public:
  explicit TComponent(TComponent* owner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const noexcept { return name_; }
  // Renaming is a notification to the component itself (auto-named sessions
  // follow their component name).
  virtual void SetName(const std::string& name);

  TComponent* Owner() const noexcept { return owner_; }
  // Moves the component to another owner (or none), notifying the old owner's
  // components of the removal and the new owner's of the insertion.
  void ChangeOwner(TComponent* owner);
  int ComponentCount() const noexcept { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<std::size_t>(index)); }
  TComponent* FindComponent(const std::string& name) const;

  bool Loading() const noexcept { return loading_; }
  bool Destroying() const noexcept { return destroying_; }

  // Reading the stored form: BeginLoading on the owner sets the loading flag on it
  // and its components; EndLoading clears the flags and calls Loaded on each
  // component (in list order), then on the owner.
  void BeginLoading();
  void EndLoading();

  // Components that name a session (databases and datasets) answer their name
  // and take a new one; an auto-named session hands its name out through these.
  virtual bool UsesSessionName() const { return false; }
  virtual std::string AssignedSessionName() const { return {}; }
  virtual void AssignSessionName(const std::string& /*name*/) {}

 protected:
  // Called once the stored form is read.
  virtual void Loaded() {}
  // A component was added to or removed from this component's owner (delivered
  // to every sibling and to the owner), or this component's own owner is going.
  virtual void Notification(TComponent& component, TOperation operation);
  // Marks the component as being destroyed and leaves its owner; the most
  // derived destructor calls it first, so that siblings are told while the
  // component is whole and its own teardown sees the flag.
  void BeginDestroying();

 private:
  void InsertComponent(TComponent& component, bool notify);
  void RemoveComponent(TComponent& component);
  void NotifySiblings(TComponent& component, TOperation operation);

  std::string name_;
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  bool loading_ = false;
  bool destroying_ = false;
};

}  // namespace tarn
