// Object allocation through the allocation library, so that the host and the
// plug-in can free each other's objects. The code base allocates through these
// wrappers only.
#ifndef TERVO_COMMON_ASALLOC_H_
#define TERVO_COMMON_ASALLOC_H_

#include <new>
#include <utility>

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

}  // namespace ascommon

#endif  // TERVO_COMMON_ASALLOC_H_
