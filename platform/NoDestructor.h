// A process-wide object built in place on first use and never destroyed:
// threads that still run while the process exits (or the library unloads)
// may use it, and it takes no heap memory that would be reported lost when
// the library is unloaded.
//
//   Registry& TheRegistry() {
//     static tev::NoDestructor<Registry> registry;
//     return *registry;
//   }
#ifndef TEV_PLATFORM_NODESTRUCTOR_H_
#define TEV_PLATFORM_NODESTRUCTOR_H_

#include <new>
#include <utility>

namespace tev {

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T& operator*() { return *get(); }
  T* operator->() { return get(); }
  T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace tev

#endif  // TEV_PLATFORM_NODESTRUCTOR_H_
