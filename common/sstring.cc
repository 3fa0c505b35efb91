#include "common/sstring.h"

#include <string.h>
#include <strings.h>
#include <wchar.h>

#include <new>
#include <string_view>

#include "common/asalloc.h"
#include "common/ustring.h"
#include "common/utf8.h"
#include "src/trace/trace.h"

namespace ascommon {

namespace {

// Larger counts would overflow the byte size with its terminator.
constexpr uint64_t kMaxBytes = SIZE_MAX - 1;

void CopyBytes(char* to, const char* from, uint64_t n) {
  if (n != 0) memmove(to, from, n);
}

int32_t Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// Unsigned byte order over explicit lengths; a proper prefix is smaller.
int32_t CompareBytes(const char* a, uint64_t la, const char* b, uint64_t lb) {
  uint64_t n = la < lb ? la : lb;
  int c = n != 0 ? memcmp(a, b, n) : 0;
  if (c != 0) return Sign(c);
  return la == lb ? 0 : la < lb ? -1 : 1;
}

}  // namespace

sstring::sstring() = default;

sstring::sstring(const char* s) { assign(s); }

sstring::sstring(const char* p, uint64_t n) {
  if (assign(p, n) == 0 && data_ != nullptr) length_ = strlen(data_);
}

sstring::sstring(const sstring& other) : CBlackBoxObject() { assign(other); }

sstring::sstring(sstring&& other) noexcept { TakeFrom(&other); }

void sstring::TakeFrom(sstring* other) {
  if (other->data_ == other->inline_) {
    memcpy(inline_, other->inline_, kInlineSize);
    data_ = inline_;
  } else {
    data_ = other->data_;
  }
  length_ = other->length_;
  size_ = other->size_;
  other->data_ = nullptr;
  other->length_ = 0;
  other->size_ = 0;
}

sstring::sstring(const sstring& a, const sstring& b) {
  if (a.data_ == nullptr && b.data_ == nullptr) return;
  if (a.length_ >= kMaxBytes - b.length_) {
    SetError(-2);
    return;
  }
  uint64_t len = a.length_ + b.length_;
  char* buf = nullptr;
  if (!Acquire(len + 1, &buf)) {
    SetError(-2);
    return;
  }
  CopyBytes(buf, a.data_, a.length_);
  CopyBytes(buf + a.length_, b.data_, b.length_);
  buf[len] = 0;
  Adopt(buf, len + 1, len);
}

sstring::~sstring() { FreeHeap(); }

sstring& sstring::operator=(const sstring& other) {
  assign(other);
  return *this;
}

sstring& sstring::operator=(sstring&& other) noexcept {
  if (this != &other) {
    FreeHeap();
    TakeFrom(&other);
  }
  SetError(0);
  return *this;
}

sstring& sstring::operator=(const char* s) {
  assign(s);
  return *this;
}

bool sstring::Acquire(uint64_t n, char** out) {
  if (n < kInlineSize) {
    *out = inline_;
    return true;
  }
  if (n > kMaxBytes) return false;
  *out = static_cast<char*>(as_new_nt_2_9(n, &kNoThrow));
  return *out != nullptr;
}

void sstring::FreeHeap() {
  if (data_ != nullptr && data_ != inline_) as_delete_nt_2_9(data_, &kNoThrow);
}

void sstring::Adopt(char* buf, uint64_t size, uint64_t length) {
  if (data_ != buf) FreeHeap();
  data_ = buf;
  size_ = size;
  length_ = length;
}

void sstring::clear() {
  FreeHeap();
  data_ = nullptr;
  length_ = 0;
  size_ = 0;
  SetError(0);
}

int32_t sstring::assign(const char* s) {
  if (s == nullptr) {
    clear();
    return 0;
  }
  if (s == data_) return SetError(0);
  return assign(s, strlen(s));
}

int32_t sstring::assign(const char* p, uint64_t n) {
  if (p == nullptr) {
    clear();
    return 0;
  }
  char* buf = nullptr;
  if (n >= kMaxBytes || !Acquire(n + 1, &buf)) return SetError(-2);
  // `p` may lie in the old buffer, which is freed only by Adopt; moving
  // within the inline buffer is handled by memmove.
  CopyBytes(buf, p, n);
  buf[n] = 0;
  Adopt(buf, n + 1, n);
  return SetError(0);
}

int32_t sstring::assign(const sstring& other) {
  if (this == &other) return SetError(0);
  if (other.data_ == nullptr) {
    clear();
    return 0;
  }
  char* buf = nullptr;
  if (!Acquire(other.size_, &buf)) return SetError(-2);
  CopyBytes(buf, other.data_, other.size_);
  Adopt(buf, other.size_, other.length_);
  return SetError(0);
}

int32_t sstring::fill(uint64_t count, char c) {
  // The character 0 reserves a zeroed buffer of exactly count bytes (empty
  // text); any other gives count copies and a terminator.
  const uint64_t bytes = c != 0 ? count + 1 : count;
  char* buf = nullptr;
  if (count >= kMaxBytes || !Acquire(bytes, &buf)) return SetError(-2);
  memset(buf, c, count);
  buf[c != 0 ? count : 0] = 0;  // count 0 is inline, so there is room
  Adopt(buf, bytes, c != 0 ? count : 0);
  return SetError(0);
}

int32_t sstring::append(const char* p, uint64_t n) {
  if (p == nullptr || n == 0) return SetError(0);
  if (data_ == nullptr) return assign(p, n);
  if (n >= kMaxBytes - length_) return SetError(-2);
  uint64_t len = length_ + n;
  if (len + 1 >= kInlineSize) {
    // Always a fresh block of the exact size; the old one is freed after the
    // copy, so `p` may point into it.
    char* buf = static_cast<char*>(as_new_nt_2_9(len + 1, &kNoThrow));
    if (buf == nullptr) return SetError(-2);
    CopyBytes(buf, data_, length_);
    CopyBytes(buf + length_, p, n);
    buf[len] = 0;
    Adopt(buf, len + 1, len);
    return SetError(0);
  }
  // The result fits inline. Assemble it aside: the old text may be in a heap
  // block and `p` anywhere in this string.
  char tmp[kInlineSize];
  CopyBytes(tmp, data_, length_);
  CopyBytes(tmp + length_, p, n);
  tmp[len] = 0;
  memcpy(inline_, tmp, len + 1);
  Adopt(inline_, len + 1, len);
  return SetError(0);
}

int32_t sstring::append(const sstring& other) { return append(other.data_, other.length_); }

char sstring::at(uint64_t i) const {
  if (data_ == nullptr || i > size_ - 1) {
    SetError(-250);
    return spare_;
  }
  SetError(0);
  return data_[i];
}

int32_t sstring::compare(const sstring& other, bool ignore_case) const {
  if (data_ == nullptr) return SetError(-3);
  if (other.data_ == nullptr) return SetError(-2);
  SetError(0);
  if (ignore_case) return Sign(strcasecmp(data_, other.data_));
  return CompareBytes(data_, length_, other.data_, other.length_);
}

int32_t sstring::compare(const char* other, bool ignore_case) const {
  if (data_ == nullptr) return SetError(-3);
  if (other == nullptr) return SetError(-2);
  SetError(0);
  if (ignore_case) return Sign(strcasecmp(data_, other));
  return CompareBytes(data_, length_, other, strlen(other));
}

bool sstring::operator==(const sstring& other) const {
  if (this == &other) return true;
  if (data_ == nullptr || other.data_ == nullptr) return false;
  return length_ == other.length_ && (length_ == 0 || memcmp(data_, other.data_, length_) == 0);
}

bool sstring::operator!=(const sstring& other) const {
  if (this == &other) return false;
  if (data_ == nullptr && other.data_ == nullptr) return false;
  if (data_ == nullptr || other.data_ == nullptr) return true;
  return length_ != other.length_ || (length_ != 0 && memcmp(data_, other.data_, length_) != 0);
}

bool sstring::operator<(const sstring& other) const {
  if (this == &other) return false;
  if (data_ == nullptr && other.data_ == nullptr) return false;
  if (data_ == nullptr || other.data_ == nullptr) return true;
  return CompareBytes(data_, length_, other.data_, other.length_) < 0;
}

bool sstring::find(const char* needle, uint64_t* pos) const {
  SetError(0);
  if (data_ == nullptr || needle == nullptr) return false;
  size_t at = std::string_view(data_, length_).find(needle);
  if (at == std::string_view::npos) return false;
  *pos = at;
  return true;
}

bool sstring::find(const sstring& needle, uint64_t* pos) const {
  SetError(0);
  if (data_ == nullptr || needle.data_ == nullptr) return false;
  size_t at =
      std::string_view(data_, length_).find(std::string_view(needle.data_, needle.length_));
  if (at == std::string_view::npos) return false;
  *pos = at;
  return true;
}

bool sstring::find_nocase(const char* needle, uint64_t* pos) const {
  SetError(0);
  if (data_ == nullptr || needle == nullptr) return false;
  uint64_t m = strlen(needle);
  if (m > length_) return false;
  for (uint64_t i = 0; i + m <= length_; ++i) {
    uint64_t k = 0;
    while (k < m && AsciiLower(data_[i + k]) == AsciiLower(needle[k])) ++k;
    if (k == m) {
      *pos = i;
      return true;
    }
  }
  return false;
}

bool sstring::find(char c, uint64_t* pos) const {
  SetError(0);
  if (data_ == nullptr || length_ == 0) return false;
  const void* hit = memchr(data_, c, length_);
  if (hit == nullptr) return false;
  *pos = static_cast<uint64_t>(static_cast<const char*>(hit) - data_);
  return true;
}

bool sstring::rfind(char c, uint64_t* pos) const {
  SetError(0);
  if (data_ == nullptr) return false;
  for (uint64_t i = length_; i > 0; --i) {
    if (data_[i - 1] == c) {
      *pos = i - 1;
      return true;
    }
  }
  return false;
}

uint32_t sstring::hash() const {
  SetError(0);
  if (data_ == nullptr || length_ == 0) return 0;
  uint32_t h = 5381;
  for (uint64_t i = 0; i < length_; ++i) {
    // Bytes are signed here: 0x80 and up mix in as sign-extended values.
    h = (h * 33) ^ static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(data_[i])));
  }
  return h;
}

int32_t sstring::set_length(uint64_t n) {
  if (data_ == nullptr || n >= size_) return SetError(-250);
  length_ = n;
  data_[n] = 0;
  return SetError(0);
}

int32_t sstring::UTF8_tolower(bool validate) { return LowerCaseLoop(validate, false); }

int32_t sstring::UTF8_regex_tolower(bool validate) { return LowerCaseLoop(validate, true); }

// Lower-cases into a fresh block with room for k bytes, starting with k equal
// to the length; when the result does not fit, the room grows by a fifth
// (plus one) and the conversion starts over.
int32_t sstring::LowerCaseLoop(bool validate, bool regex) {
  if (validate && !Utf8Validate(data_, length_)) {
    if (regex) {
      AS_LOG(2, 541, "[sstring::UTF8_regex_tolower] invalid UTF-8 buffer");
    } else {
      AS_LOG(2, 478, "[sstring::UTF8_tolower] invalid UTF-8 buffer");
    }
    return SetError(kUtf8Invalid);
  }
  uint64_t k = length_;
  for (;;) {
    char* block = nullptr;
    try {
      block = static_cast<char*>(as_new_2_9(k + 2));
    } catch (const std::bad_alloc&) {
      return SetError(-2);
    }
    if (block == nullptr) return SetError(-2);
    size_t written = 0;
    int32_t r = regex ? Utf8RegexToLower(data_, length_, block, k, &written)
                      : Utf8ToLower(data_, length_, block, k, &written);
    if (r == kUtf8OutputTooSmall) {
      as_delete_2_9(block);
      k = static_cast<uint64_t>(static_cast<double>(k + 1) * 1.2);
      SetError(kUtf8OutputTooSmall);
      continue;
    }
    if (r != 0) {
      if (regex) {
        AS_LOG(2, 588,
               "[sstring::UTF8_regex_tolower] UNICODETOLOWER::UTF8_tolower failed ( iRet=%d )",
               r);
      } else {
        AS_LOG(2, 525, "[sstring::UTF8_tolower] UNICODETOLOWER::UTF8_tolower failed ( iRet=%d )", r);
      }
      as_delete_2_9(block);
      return SetError(r);
    }
    block[written] = 0;
    Adopt(block, k + 2, written);
    return SetError(0);
  }
}

int32_t sstring::to_usstring(usstring* out) const {
  if (out == nullptr) return SetError(-1);
  if (data_ == nullptr) {
    out->clear();
    return SetError(0);
  }
  // Two passes over the text: count the UTF-16 units, then write them. Like
  // mbstowcs, the conversion ends at the first zero character.
  uint64_t units = 0;
  for (int pass = 0; pass < 2; ++pass) {
    mbstate_t state{};
    const char* p = data_;
    size_t left = length_;
    uint64_t w = 0;
    char16_t* buf = pass == 1 ? out->buffer() : nullptr;
    while (left > 0) {
      wchar_t wc = 0;
      size_t r = mbrtowc(&wc, p, left, &state);
      if (r == 0) break;
      if (r == static_cast<size_t>(-1) || r == static_cast<size_t>(-2)) {
        return SetError(kUtf8Invalid);
      }
      char32_t cp = static_cast<char32_t>(wc);
      if (cp > 0x10FFFF) return SetError(kUtf8Invalid);
      if (cp >= 0x10000) {
        if (buf != nullptr) {
          buf[w] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
          buf[w + 1] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        w += 2;
      } else {
        if (buf != nullptr) buf[w] = static_cast<char16_t>(cp);
        w += 1;
      }
      p += r;
      left -= r;
    }
    if (pass == 0) {
      units = w;
      if (out->fill(units, 0) != 0) return SetError(out->error());
    } else {
      out->set_length(w);
    }
  }
  return SetError(0);
}

}  // namespace ascommon
