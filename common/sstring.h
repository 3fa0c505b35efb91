// sstring: the library's byte string.
//
// A string is either null (never assigned, or made null on purpose) or holds a
// zero-terminated buffer; a null string and an empty string are different
// states. A buffer that needs fewer than 24 bytes (terminator counted) lives in
// the object's inline buffer; a larger one is a heap block of exactly the size
// needed, taken from the non-throwing allocation of the allocation library and
// owned by the string (freed on replacement and destruction).
//
// No operation throws. Every operation records its result in error():
//   0     ok
//   -2    memory could not be had (the string keeps its old value), or the
//         other string of a comparison is null
//   -3    this string is null (comparison)
//   -50   invalid UTF-8 (UTF8_tolower with validation)
//   -51   internal: lower-case output did not fit and was retried
//   -250  checked index out of range
// Other negative values come from the UTF-8 helpers (see common/utf8.h).
// Since even the const operations record their result, one string must not
// be used from several threads at once, not even for reading.
#ifndef TERVO_COMMON_SSTRING_H_
#define TERVO_COMMON_SSTRING_H_

#include <stddef.h>
#include <stdint.h>

#include "common/bbobject.h"

namespace ascommon {

class usstring;

class sstring : public CBlackBoxObject {
 public:
  // Buffers needing fewer bytes than this (terminator counted) are inline.
  static constexpr uint64_t kInlineSize = 24;
  // What the checked index answers when the index is out of range.
  static constexpr char kDefaultSpare = 'Y';

  // A null string: no buffer, length 0, size 0, error 0.
  sstring();
  // Copies the zero-terminated `s`; null `s` gives a null string.
  explicit sstring(const char* s);
  // Copies `n` bytes from `p` and a terminator; the length is then that of
  // the zero-terminated text copied, so an embedded zero byte shortens it
  // (the buffer keeps all n + 1 bytes). Null `p` gives a null string.
  sstring(const char* p, uint64_t n);
  // Copies the other's whole buffer (its size) and its length; a null other
  // gives a null string.
  sstring(const sstring& other);
  // Takes over the other's buffer (inline contents are copied); the other
  // becomes null.
  sstring(sstring&& other) noexcept;
  // Concatenation: the characters of `a`, then those of `b`. Null when both
  // are null.
  sstring(const sstring& a, const sstring& b);
  ~sstring() override;

  // As the copy constructor; assigning a string to itself does nothing. On
  // allocation failure the string keeps its value and error() is -2.
  sstring& operator=(const sstring& other);
  // Takes over the other's buffer, freeing this one's; the other becomes null.
  sstring& operator=(sstring&& other) noexcept;
  // As assign(s).
  sstring& operator=(const char* s);

  // Copies the zero-terminated `s` (as construction). Assigning this string's
  // own data pointer does nothing; null `s` frees the buffer and makes the
  // string null. `s` may point into this string's own buffer. Answers error().
  int32_t assign(const char* s);
  // Copies `n` bytes from `p` and a terminator; the length is `n`, embedded
  // zero bytes included. Null `p` frees the buffer and makes the string null.
  // `p` may point into this string's own buffer. Answers error().
  int32_t assign(const char* p, uint64_t n);
  // As the copy assignment. Answers error().
  int32_t assign(const sstring& other);

  // Non-zero `c`: `count` copies of `c` and a terminator, length `count`.
  // `c` == 0: a zeroed buffer of exactly `count` bytes (size count), length
  // 0; write fewer than `count` bytes into buffer() and call set_length().
  // Answers error().
  int32_t fill(uint64_t count, char c);

  // Appends `n` bytes from `p`. Null `p` or `n` == 0 changes nothing and
  // answers 0; appending to a null string is assign(p, n). Otherwise the new
  // length is length() + n; a result needing 24 bytes or more always goes to
  // a new heap block of exactly that size (the old block is freed), a smaller
  // one to the inline buffer. `p` may point into this string. On allocation
  // failure the string keeps its old value and the answer is -2.
  int32_t append(const char* p, uint64_t n);
  // Appends the other's characters (length() bytes); the other may be this.
  int32_t append(const sstring& other);
  sstring& operator+=(const sstring& other) {
    append(other);
    return *this;
  }

  // Checked index: the byte at `i` for i <= size() - 1 (so the terminator is
  // reachable). A null string or a larger index answers the spare character
  // and sets error() to -250.
  char at(uint64_t i) const;

  // Three-way comparison: -1, 0 or 1. A null this answers -3, a null other
  // -2 (error() is set to that answer). With `ignore_case` the comparison is
  // the C library's strcasecmp on the zero-terminated texts (its sign only);
  // otherwise the bytes are compared as unsigned values over the lengths, a
  // proper prefix being smaller.
  int32_t compare(const sstring& other, bool ignore_case = false) const;
  int32_t compare(const char* other, bool ignore_case = false) const;

  // Equal: the same object, or both non-null with equal lengths and bytes.
  // Two null strings are not equal.
  bool operator==(const sstring& other) const;
  // Not equal: false for the same object and for two null strings, true when
  // exactly one is null, else whether the texts differ.
  bool operator!=(const sstring& other) const;
  // Less: false for the same object and for two null strings, TRUE when
  // exactly one is null (either way round), else the unsigned byte-wise
  // order.
  bool operator<(const sstring& other) const;

  // The searches answer false when nothing is found, the string is null or
  // the needle is null; else true with `*pos` the offset from the start.
  // They look at the length() bytes of the string.
  bool find(const char* needle, uint64_t* pos) const;
  bool find(const sstring& needle, uint64_t* pos) const;
  // As find, with ASCII letters matched regardless of case.
  bool find_nocase(const char* needle, uint64_t* pos) const;
  // First and last occurrence of `c`.
  bool find(char c, uint64_t* pos) const;
  bool rfind(char c, uint64_t* pos) const;

  // djb2 over the length() bytes taken as signed 8-bit values, combined with
  // XOR in 32-bit unsigned arithmetic. Null and empty strings hash to 0.
  uint32_t hash() const;

  // Lower-cases the text as UTF-8 with the simple Unicode mapping. With
  // `validate` an ill-formed buffer leaves the string unchanged and answers
  // -50 (logged). The result goes to a fresh heap block (which then holds
  // the string whatever its size); on failure the string is unchanged and
  // error() tells why: -2 no memory, -50 ill-formed sequence, -1 null string.
  int32_t UTF8_tolower(bool validate);
  // As UTF8_tolower, for a regular expression: the character after a
  // backslash is kept as it is, inside [...] characters get the simple
  // mapping, and outside brackets a few letters whose lower case is several
  // code points become an alternation group, e.g. "I" -> "(i|\u0307)".
  int32_t UTF8_regex_tolower(bool validate);

  // Converts the text with the C library's multibyte conversion (the calling
  // thread's LC_CTYPE locale) to UTF-16 in `out`, code points above U+FFFF as
  // surrogate pairs. A null string makes `out` null. Answers 0, -50 when the
  // text is not valid in the locale's encoding, -2 without memory; `out` is
  // changed only on success. The answer is also stored in error().
  int32_t to_usstring(usstring* out) const;

  // Null for a null string; otherwise the zero-terminated text.
  const char* data() const { return data_; }
  const char* c_str() const { return data_; }
  // The writable buffer (size() bytes), for filling after fill(n, 0).
  char* buffer() { return data_; }
  // Sets the length to `n` and writes a terminator there, for text written
  // into buffer(). Needs n < size(); otherwise answers -250 and changes
  // nothing.
  int32_t set_length(uint64_t n);
  // Frees the buffer and makes the string null.
  void clear();

  uint64_t length() const { return length_; }
  // Bytes of the buffer in use, terminator counted; 0 for a null string.
  uint64_t size() const { return size_; }
  int32_t error() const { return error_; }
  bool is_null() const { return data_ == nullptr; }
  // Non-null and without characters.
  bool is_empty() const { return data_ != nullptr && length_ == 0; }
  // Whether the text lives in the inline buffer.
  bool is_inline() const { return data_ == inline_; }
  char spare() const { return spare_; }
  void set_spare(char c) { spare_ = c; }

 private:
  // Takes `other`'s buffer (copying an inline one) and leaves `other` null.
  // The current buffer must already be freed.
  void TakeFrom(sstring* other);
  // Makes `n` bytes of buffer available in `*out`: the inline buffer when
  // n < kInlineSize, else a fresh heap block. Nothing is freed here.
  bool Acquire(uint64_t n, char** out);
  // Replaces the buffer with `buf` (inline or heap, n bytes), freeing the old
  // heap block unless it is `buf` itself.
  void Adopt(char* buf, uint64_t size, uint64_t length);
  void FreeHeap();
  // Writes only a changed value: a const operation that succeeds on a string
  // shared between threads (a rule's name, a static key) then only reads it.
  int32_t SetError(int32_t e) const {
    if (error_ != e) error_ = e;
    return e;
  }
  int32_t LowerCaseLoop(bool validate, bool regex);

  char spare_ = kDefaultSpare;
  char* data_ = nullptr;
  char inline_[kInlineSize] = {};
  uint64_t length_ = 0;
  uint64_t size_ = 0;
  // Written by const operations too: it records the result of the last one.
  mutable int32_t error_ = 0;
};

// CMap's hash of string keys.
inline uint32_t HashKey(const sstring& key) { return key.hash(); }

// `c` with A-Z turned into a-z; every other byte as it is.
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace ascommon

#endif  // TERVO_COMMON_SSTRING_H_
