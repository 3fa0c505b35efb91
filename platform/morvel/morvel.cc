#include "platform/morvel/morvel.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <new>

namespace {

class ErrorRecord final : public IASErrorRecord {
 public:
  int32_t Code() const override { return code_; }
  void Clear() override {
    code_ = 0;
    message_[0] = '\0';
  }
  const char* Message() const override { return message_; }

  int32_t Set(int32_t code, const char* format, va_list args) {
    code_ = code;
    if (format == nullptr) {
      message_[0] = '\0';
    } else if (vsnprintf(message_, sizeof message_, format, args) < 0) {
      message_[0] = '\0';
    }
    return code;
  }

 private:
  int32_t code_ = 0;
  char message_[1024] = {};
};

class ErrorState final : public IASErrorState {
 public:
  IASErrorRecord* Current(int32_t) override { return &record_; }
  ErrorRecord& record() { return record_; }

 private:
  ErrorRecord record_;
};

thread_local ErrorState t_state;

}  // namespace

extern "C" {

void* as_new_2_9(size_t size) {
  void* p = malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* as_new_nt_2_9(size_t size, const as_nothrow_tag*) {
  return malloc(size == 0 ? 1 : size);
}

void as_delete_2_9(void* p) { free(p); }

void as_delete_nt_2_9(void* p, const as_nothrow_tag*) { free(p); }

int32_t as_set_err(int32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int32_t result = t_state.record().Set(code, format, args);
  va_end(args);
  return result;
}

IASErrorState* as_get_err(void) { return &t_state; }

}  // extern "C"
