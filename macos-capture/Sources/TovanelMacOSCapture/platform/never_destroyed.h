// Storage for a process-wide object that is constructed once and never destroyed, so threads
// still running while the process exits never touch a destroyed object.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace tovanel::platform {

template <class T>
class NeverDestroyed {
  public:
    template <class... Args>
    explicit NeverDestroyed(Args&&... args) {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;

    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

  private:
    alignas(T) std::byte storage_[sizeof(T)];
};

} // namespace tovanel::platform
