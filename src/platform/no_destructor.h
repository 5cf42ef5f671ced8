// TNoDestructor<T>: a process-wide object that is built on first use and never
// destroyed. Objects that others may still reach while static objects are
// being destroyed at exit (the session list, which module objects stop their
// sessions through) are kept this way, so the order of static destruction can
// never hand out a destroyed one. The operating system reclaims them at exit.
#pragma once

#include <new>
#include <utility>

namespace tarn {

template <typename T>
class TNoDestructor {
 public:
  template <typename... Args>
  explicit TNoDestructor(Args&&... args) {
    ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
  }
  TNoDestructor(const TNoDestructor&) = delete;
  TNoDestructor& operator=(const TNoDestructor&) = delete;

  T* get() noexcept { return std::launder(reinterpret_cast<T*>(storage_)); }
  T& operator*() noexcept { return *get(); }
  T* operator->() noexcept { return get(); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace tarn
