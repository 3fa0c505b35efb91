// Object allocation through the allocation library, so that the host and the
// plug-in can free each other's objects. The code base allocates through these
// wrappers only.
#ifndef TERVO_COMMON_ASALLOC_H_
#define TERVO_COMMON_ASALLOC_H_

#include <stddef.h>

#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/morvel/morvel.h"

namespace ascommon {

// The system's non-throwing tag: 8 zero bytes.
inline constexpr as_nothrow_tag kNoThrow{};

// Constructs a T in memory from the non-throwing allocation; null when the
// memory cannot be had. A constructor that throws frees the memory again.
template <class T, class... Args>
T* NewNoThrow(Args&&... args) {
  void* p = as_new_nt_2_9(sizeof(T), &kNoThrow);
  if (p == nullptr) return nullptr;
  try {
    return new (p) T(std::forward<Args>(args)...);
  } catch (...) {
    as_delete_nt_2_9(p, &kNoThrow);
    throw;
  }
}

// As NewNoThrow, with the throwing allocation (std::bad_alloc on failure).
template <class T, class... Args>
T* New(Args&&... args) {
  void* p = as_new_2_9(sizeof(T));
  try {
    return new (p) T(std::forward<Args>(args)...);
  } catch (...) {
    as_delete_2_9(p);
    throw;
  }
}

// Destroys and frees an object from New or NewNoThrow; null is ignored.
template <class T>
void Delete(T* p) {
  if (p == nullptr) return;
  p->~T();
  as_delete_2_9(p);
}

// Deletes through Delete: the deleter of unique pointers to objects made by
// New or NewNoThrow.
struct Deleter {
  template <class T>
  void operator()(T* p) const { Delete(p); }
};
template <class T>
using UniquePtr = std::unique_ptr<T, Deleter>;

// A standard-library allocator over the throwing allocation: containers of
// the engines take their memory where the rest of the system does.
// std::bad_alloc on failure, as std::allocator.
template <class T>
struct Allocator {
  typedef T value_type;
  Allocator() = default;
  template <class U>
  Allocator(const Allocator<U>&) {}  // NOLINT: rebinding is implicit
  T* allocate(size_t n) {
    if (n > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(as_new_2_9(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) { as_delete_2_9(p); }
  template <class U>
  bool operator==(const Allocator<U>&) const { return true; }
};

template <class T>
using Vector = std::vector<T, Allocator<T>>;
template <class K, class V, class Less = std::less<K>>
using Map = std::map<K, V, Less, Allocator<std::pair<const K, V>>>;
template <class K, class V, class Less = std::less<K>>
using MultiMap = std::multimap<K, V, Less, Allocator<std::pair<const K, V>>>;
using String = std::basic_string<char, std::char_traits<char>, Allocator<char>>;

}  // namespace ascommon

#endif  // TERVO_COMMON_ASALLOC_H_
