#include "common/ustring.h"

#include <string.h>

#include <string_view>

#include "common/asalloc.h"
#include "common/utf8.h"

namespace ascommon {

namespace {

// Larger counts would overflow the byte size of the block.
constexpr uint64_t kMaxUnits = (SIZE_MAX / sizeof(char16_t)) - 1;

uint64_t Length16(const char16_t* s) {
  uint64_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

void CopyUnits(char16_t* to, const char16_t* from, uint64_t n) {
  if (n != 0) memmove(to, from, n * sizeof(char16_t));
}

char16_t Lower(char16_t u) { return static_cast<char16_t>(UnicodeToLower(u)); }

int32_t CompareUnits(const char16_t* a, uint64_t la, const char16_t* b, uint64_t lb,
                     bool ignore_case) {
  uint64_t n = la < lb ? la : lb;
  for (uint64_t i = 0; i < n; ++i) {
    char16_t x = ignore_case ? Lower(a[i]) : a[i];
    char16_t y = ignore_case ? Lower(b[i]) : b[i];
    if (x != y) return x < y ? -1 : 1;
  }
  return la == lb ? 0 : la < lb ? -1 : 1;
}

}  // namespace

usstring::usstring() = default;

usstring::usstring(const char16_t* s) { assign(s); }

usstring::usstring(const char16_t* p, uint64_t n) { assign(p, n); }

usstring::usstring(const usstring& other) : CBlackBoxObject(), kind_(other.kind_) { assign(other); }

usstring::usstring(usstring&& other) noexcept
    : data_(other.data_), length_(other.length_), size_(other.size_), kind_(other.kind_) {
  other.data_ = nullptr;
  other.length_ = 0;
  other.size_ = 0;
}

usstring::~usstring() { as_delete_nt_2_9(data_, &kNoThrow); }

usstring& usstring::operator=(const usstring& other) {
  assign(other);
  return *this;
}

usstring& usstring::operator=(usstring&& other) noexcept {
  if (this != &other) {
    as_delete_nt_2_9(data_, &kNoThrow);
    data_ = other.data_;
    length_ = other.length_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.length_ = 0;
    other.size_ = 0;
  }
  SetError(0);
  return *this;
}

usstring& usstring::operator=(const char16_t* s) {
  assign(s);
  return *this;
}

char16_t* usstring::Allocate(uint64_t n) {
  if (n == 0 || n > kMaxUnits) return nullptr;
  return static_cast<char16_t*>(as_new_nt_2_9(n * sizeof(char16_t), &kNoThrow));
}

void usstring::Adopt(char16_t* buf, uint64_t size, uint64_t length) {
  if (data_ != buf) as_delete_nt_2_9(data_, &kNoThrow);
  data_ = buf;
  size_ = size;
  length_ = length;
}

void usstring::clear() {
  as_delete_nt_2_9(data_, &kNoThrow);
  data_ = nullptr;
  length_ = 0;
  size_ = 0;
  SetError(0);
}

int32_t usstring::assign(const char16_t* s) {
  if (s == nullptr) {
    clear();
    return 0;
  }
  if (s == data_) return SetError(0);
  return assign(s, Length16(s));
}

int32_t usstring::assign(const char16_t* p, uint64_t n) {
  if (p == nullptr) {
    clear();
    return 0;
  }
  char16_t* buf = n < kMaxUnits ? Allocate(n + 1) : nullptr;
  if (buf == nullptr) return SetError(-2);
  CopyUnits(buf, p, n);
  buf[n] = 0;
  Adopt(buf, n + 1, n);
  return SetError(0);
}

int32_t usstring::assign(const usstring& other) {
  if (this == &other) return SetError(0);
  if (other.data_ == nullptr) {
    clear();
    return 0;
  }
  char16_t* buf = Allocate(other.size_);
  if (buf == nullptr) return SetError(-2);
  CopyUnits(buf, other.data_, other.size_);
  Adopt(buf, other.size_, other.length_);
  return SetError(0);
}

int32_t usstring::fill(uint64_t count, char16_t u) {
  char16_t* buf = count < kMaxUnits ? Allocate(count + 1) : nullptr;
  if (buf == nullptr) return SetError(-2);
  for (uint64_t i = 0; i < count; ++i) buf[i] = u;
  buf[count] = 0;
  Adopt(buf, count + 1, u != 0 ? count : 0);
  return SetError(0);
}

int32_t usstring::append(const char16_t* p, uint64_t n) {
  if (p == nullptr || n == 0) return SetError(0);
  if (data_ == nullptr) return assign(p, n);
  if (n >= kMaxUnits - length_) return SetError(-2);
  uint64_t len = length_ + n;
  char16_t* buf = Allocate(len + 1);
  if (buf == nullptr) return SetError(-2);
  // The old block stays alive until here, so `p` may point into it.
  CopyUnits(buf, data_, length_);
  CopyUnits(buf + length_, p, n);
  buf[len] = 0;
  Adopt(buf, len + 1, len);
  return SetError(0);
}

int32_t usstring::append(const usstring& other) { return append(other.data_, other.length_); }

char16_t usstring::at(uint64_t i) const {
  if (data_ == nullptr || i > size_ - 1) {
    SetError(-250);
    return spare_;
  }
  SetError(0);
  return data_[i];
}

int32_t usstring::compare(const usstring& other, bool ignore_case) const {
  if (data_ == nullptr) return SetError(-3);
  if (other.data_ == nullptr) return SetError(-2);
  SetError(0);
  return CompareUnits(data_, length_, other.data_, other.length_, ignore_case);
}

int32_t usstring::compare(const char16_t* other, bool ignore_case) const {
  if (data_ == nullptr) return SetError(-3);
  if (other == nullptr) return SetError(-2);
  SetError(0);
  return CompareUnits(data_, length_, other, Length16(other), ignore_case);
}

bool usstring::operator==(const usstring& other) const {
  if (this == &other) return true;
  if (data_ == nullptr || other.data_ == nullptr) return false;
  return length_ == other.length_ && memcmp(data_, other.data_, length_ * sizeof(char16_t)) == 0;
}

bool usstring::operator!=(const usstring& other) const {
  if (this == &other) return false;
  if (data_ == nullptr && other.data_ == nullptr) return false;
  if (data_ == nullptr || other.data_ == nullptr) return true;
  return length_ != other.length_ ||
         memcmp(data_, other.data_, length_ * sizeof(char16_t)) != 0;
}

bool usstring::operator<(const usstring& other) const {
  if (this == &other) return false;
  if (data_ == nullptr && other.data_ == nullptr) return false;
  if (data_ == nullptr || other.data_ == nullptr) return true;
  return CompareUnits(data_, length_, other.data_, other.length_, false) < 0;
}

bool usstring::find(const char16_t* needle, uint64_t* pos) const {
  SetError(0);
  if (data_ == nullptr || needle == nullptr) return false;
  size_t at = std::u16string_view(data_, length_).find(needle);
  if (at == std::u16string_view::npos) return false;
  *pos = at;
  return true;
}

bool usstring::find(const usstring& needle, uint64_t* pos) const {
  SetError(0);
  if (data_ == nullptr || needle.data_ == nullptr) return false;
  size_t at = std::u16string_view(data_, length_)
                  .find(std::u16string_view(needle.data_, needle.length_));
  if (at == std::u16string_view::npos) return false;
  *pos = at;
  return true;
}

bool usstring::find_nocase(const char16_t* needle, uint64_t* pos) const {
  SetError(0);
  if (data_ == nullptr || needle == nullptr) return false;
  uint64_t m = Length16(needle);
  if (m > length_) return false;
  for (uint64_t i = 0; i + m <= length_; ++i) {
    uint64_t k = 0;
    while (k < m && Lower(data_[i + k]) == Lower(needle[k])) ++k;
    if (k == m) {
      *pos = i;
      return true;
    }
  }
  return false;
}

bool usstring::find(char16_t u, uint64_t* pos) const {
  SetError(0);
  if (data_ == nullptr) return false;
  for (uint64_t i = 0; i < length_; ++i) {
    if (data_[i] == u) {
      *pos = i;
      return true;
    }
  }
  return false;
}

bool usstring::rfind(char16_t u, uint64_t* pos) const {
  SetError(0);
  if (data_ == nullptr) return false;
  for (uint64_t i = length_; i > 0; --i) {
    if (data_[i - 1] == u) {
      *pos = i - 1;
      return true;
    }
  }
  return false;
}

int32_t usstring::set_length(uint64_t n) {
  if (data_ == nullptr || n >= size_) return SetError(-250);
  length_ = n;
  data_[n] = 0;
  return SetError(0);
}

int32_t Utf8ToUsstring(const char* in, size_t n, usstring* out) {
  if (in == nullptr || out == nullptr) return kUtf8NullInput;
  if (out->fill(n, 0) != 0) return out->error();
  size_t w = 0;
  int32_t result = Utf8ToUtf16Units(in, n, out->buffer(), out->size(), &w);
  out->set_length(w);
  return result;
}

}  // namespace ascommon
