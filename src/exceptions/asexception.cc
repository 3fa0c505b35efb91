#include "src/exceptions/asexception.h"

#include <stdio.h>

const char* AException::what() const noexcept { return "Antispam Exception"; }
int32_t AException::GetCode() const { return -1; }
bool AException::GetFlag() const { return false; }

ASException::ASException() = default;

ASException::ASException(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Format(format, args);
  va_end(args);
}

ASException::ASException(int32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Init(code, format, args);
  va_end(args);
}

void ASException::Init(int32_t code, const char* format, va_list args) {
  Format(format, args);
  code_ = code;
}

void ASException::Format(const char* format, va_list args) {
  message_[0] = '\0';
  if (format == nullptr) {
    code_ = 0;
    return;
  }
  if (vsnprintf(message_, sizeof message_, format, args) < 0) {
    message_[0] = '\0';
  }
}

const char* ASException::what() const noexcept {
  return message_[0] == '\0' ? "unknown exception" : message_;
}
int32_t ASException::GetCode() const { return code_; }
bool ASException::GetFlag() const { return flag_; }

#define AS_DEFINE_EXCEPTION(Name)                                  \
  Name::Name(const char* format, ...) : ASException() {            \
    va_list args;                                                  \
    va_start(args, format);                                        \
    Init(kDefaultCode, format, args);                              \
    va_end(args);                                                  \
  }

AS_DEFINE_EXCEPTION(ASBadPtrException)
AS_DEFINE_EXCEPTION(ASBadCastException)
AS_DEFINE_EXCEPTION(ASMemException)
AS_DEFINE_EXCEPTION(ASFileException)
AS_DEFINE_EXCEPTION(InvalidIndexException)
AS_DEFINE_EXCEPTION(BadSetting)
AS_DEFINE_EXCEPTION(IterationTimeExceeded)
AS_DEFINE_EXCEPTION(KnnInconsistency)
AS_DEFINE_EXCEPTION(ASBadFeatureType)
AS_DEFINE_EXCEPTION(ASBadFeatureNumber)
AS_DEFINE_EXCEPTION(ASEmptyFeature)
AS_DEFINE_EXCEPTION(ASAbnormalFeatureSet)

ASInternalException::ASInternalException(const char* format, ...)
    : ASException() {
  va_list args;
  va_start(args, format);
  Init(kDefaultCode, format, args);
  va_end(args);
}

ASInternalException::ASInternalException(int32_t code, const char* format, ...)
    : ASException() {
  va_list args;
  va_start(args, format);
  Init(code, format, args);
  va_end(args);
}
