// libmorvel: the allocation and error-state library shared by the host and
// every plug-in, so that memory allocated on one side can be freed on the other
// and both see one error state.
//
// The error state is kept per thread: as_set_err records into the calling
// thread's state, and as_get_err answers that thread's state object.
#ifndef TERVO_PLATFORM_MORVEL_MORVEL_H_
#define TERVO_PLATFORM_MORVEL_MORVEL_H_

#include <stddef.h>
#include <stdint.h>

// The tag passed to the non-throwing calls: 8 zero bytes owned by the caller.
struct as_nothrow_tag {
  uint64_t reserved;
};

#ifdef __cplusplus

// One recorded error: a code and its formatted message.
class IASErrorRecord {
 public:
  virtual ~IASErrorRecord() = default;
  // The code given to the last as_set_err (0 when none or after Clear).
  virtual int32_t Code() const = 0;
  // Forgets the record: code 0, empty message. The host calls this after a
  // session is released, so a stale error does not outlive its session.
  virtual void Clear() = 0;
  // The formatted message; never null, "" when there is none. Valid until the
  // next as_set_err or Clear on the same thread.
  virtual const char* Message() const = 0;
};

// The calling thread's error state.
class IASErrorState {
 public:
  virtual ~IASErrorState() = default;
  // Answers the thread's current error record. `which` must be 0 (the most
  // recent record; the state keeps no history). The record stays owned by the
  // state.
  virtual IASErrorRecord* Current(int32_t which) = 0;
};

extern "C" {
#endif

// Allocates `size` bytes; throws std::bad_alloc when that fails.
void* as_new_2_9(size_t size);
// Allocates `size` bytes; answers null when that fails, never throws.
void* as_new_nt_2_9(size_t size, const struct as_nothrow_tag* tag);
// Frees memory from either allocation; null is ignored.
void as_delete_2_9(void* p);
void as_delete_nt_2_9(void* p, const struct as_nothrow_tag* tag);

// Records `code` and the message formatted from `format` (may be null) as the
// calling thread's current error, and answers `code`. as_set_err(0, NULL)
// records success. Messages longer than 1023 bytes are cut.
int32_t as_set_err(int32_t code, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

#ifdef __cplusplus
// The calling thread's error-state object; never null, owned by the library.
IASErrorState* as_get_err(void);
}  // extern "C"

// Reads back what as_set_err last recorded on this thread.
inline int32_t as_last_err_code() { return as_get_err()->Current(0)->Code(); }
inline const char* as_last_err_message() {
  return as_get_err()->Current(0)->Message();
}
#endif

#endif  // TERVO_PLATFORM_MORVEL_MORVEL_H_
