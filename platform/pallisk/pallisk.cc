#include "platform/pallisk/pallisk.h"

#include <errno.h>
#include <iconv.h>

namespace {

// Closes the conversion state however the call ends.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

int32_t ErrnoToCode(int err) {
  switch (err) {
    case E2BIG:
      return PALLISK_E_OUTPUT_TOO_SMALL;
    case EINVAL:
      return PALLISK_E_INCOMPLETE_INPUT;
    default:  // EILSEQ, or anything iconv is not documented to give.
      return PALLISK_E_INVALID_SEQUENCE;
  }
}

int32_t DoConvert(const char* from, const char* to, const void* in,
                  size_t in_bytes, void* out, size_t* out_bytes) {
  if (from == nullptr || to == nullptr || out_bytes == nullptr) {
    return PALLISK_E_NULL_ARGUMENT;
  }
  if ((in == nullptr && in_bytes != 0) || (out == nullptr && *out_bytes != 0)) {
    return PALLISK_E_NULL_ARGUMENT;
  }
  const size_t capacity = *out_bytes;
  *out_bytes = 0;

  IconvHandle cd(to, from);
  if (!cd.ok()) return PALLISK_E_UNKNOWN_CHARSET;

  // iconv never writes through its input pointer; the cast only fits its
  // signature.
  char* in_ptr = const_cast<char*>(static_cast<const char*>(in));
  size_t in_left = in_bytes;
  // A zero-capacity output still needs a valid pointer for iconv to advance.
  char dummy = 0;
  char* out_ptr = out != nullptr ? static_cast<char*>(out) : &dummy;
  size_t out_left = capacity;

  int32_t result = PALLISK_OK;
  if (in_left != 0 &&
      iconv(cd.get(), &in_ptr, &in_left, &out_ptr, &out_left) ==
          static_cast<size_t>(-1)) {
    result = ErrnoToCode(errno);
  }
  // Stateful targets (ISO-2022-*) need their closing shift sequence; the
  // prefix kept on a truncated input is a complete text as well.
  if (result == PALLISK_OK || result == PALLISK_E_INCOMPLETE_INPUT) {
    if (iconv(cd.get(), nullptr, nullptr, &out_ptr, &out_left) ==
            static_cast<size_t>(-1) &&
        result == PALLISK_OK) {
      result = ErrnoToCode(errno);
    }
  }
  *out_bytes = capacity - out_left;
  return result;
}

}  // namespace

extern "C" {

int32_t Convert(const char* from_charset, const char* to_charset,
                const void* in, size_t in_bytes, void* out, size_t* out_bytes) {
  return DoConvert(from_charset, to_charset, in, in_bytes, out, out_bytes);
}

int32_t ConvertToUTF8(const char* from_charset, const void* in, size_t in_bytes,
                      void* out, size_t* out_bytes) {
  return DoConvert(from_charset, "UTF-8", in, in_bytes, out, out_bytes);
}

int32_t ConvertToUTF16(const char* from_charset, const void* in,
                       size_t in_bytes, void* out, size_t* out_bytes) {
  return DoConvert(from_charset, "UTF-16LE", in, in_bytes, out, out_bytes);
}

int32_t ConvertToUTF32(const char* from_charset, const void* in,
                       size_t in_bytes, void* out, size_t* out_bytes) {
  return DoConvert(from_charset, "UTF-32LE", in, in_bytes, out, out_bytes);
}

}  // extern "C"
