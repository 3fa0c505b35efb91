// usstring: the library's UTF-16 string (char16_t units).
//
// A string is either null (never assigned, or reset) or holds a
// zero-terminated buffer; a null string and an empty string are different
// states. Every buffer is a heap block of exactly the units needed
// (terminator counted), taken from the non-throwing allocation and owned by
// the string. There is no inline buffer.
//
// No operation throws. Every operation records its result in error(), with
// the codes of sstring: 0 ok, -2 no memory (the string is left as it was) or
// the other string of a comparison is null, -3 this string is null
// (comparison), -250 index or length out of range.
#ifndef TERVO_COMMON_USTRING_H_
#define TERVO_COMMON_USTRING_H_

#include <stddef.h>
#include <stdint.h>

#include "common/bbobject.h"

namespace ascommon {

class usstring : public CBlackBoxObject {
 public:
  // What the checked index answers when the index is out of range ('Y').
  static constexpr char16_t kDefaultSpare = 89;

  // A null string: no buffer, length 0, size 0, kind 0, error 0.
  usstring();
  // Copies the zero-terminated `s`; null `s` gives a null string.
  explicit usstring(const char16_t* s);
  // Copies `n` units from `p` and a terminator; the length is `n`. Null `p`
  // gives a null string.
  usstring(const char16_t* p, uint64_t n);
  // Copies the other's whole buffer (its size), its length and its kind.
  usstring(const usstring& other);
  // Takes over the other's buffer and kind; the other becomes null.
  usstring(usstring&& other) noexcept;
  ~usstring() override;

  // Copies the other's buffer and length (not its kind); a null other makes
  // this null. Assigning a string to itself does nothing.
  usstring& operator=(const usstring& other);
  // Takes over the other's buffer (not its kind); the other becomes null.
  usstring& operator=(usstring&& other) noexcept;
  usstring& operator=(const char16_t* s);

  // Copies the zero-terminated `s`. Null `s` frees the buffer and resets the
  // string to null; assigning the string's own data pointer does nothing.
  // `s` may point into this string. Answers error().
  int32_t assign(const char16_t* s);
  // Copies `n` units and a terminator, length `n`. Null `p` frees the buffer
  // and resets the string to null. Answers error().
  int32_t assign(const char16_t* p, uint64_t n);
  int32_t assign(const usstring& other);

  // Non-zero `u`: `count` copies of `u` and a terminator, length `count`.
  // `u` == 0: a zeroed buffer with room for `count` units and the terminator
  // (size count + 1), length 0; write into buffer() and call set_length().
  int32_t fill(uint64_t count, char16_t u);

  // Appends `n` units from `p` into a new heap block of exactly
  // length() + n + 1 units. Null `p` or `n` == 0 changes nothing and answers
  // 0; appending to a null string is assign(p, n). `p` may point into this
  // string. On allocation failure the string is unchanged and the answer -2.
  int32_t append(const char16_t* p, uint64_t n);
  int32_t append(const usstring& other);
  usstring& operator+=(const usstring& other) {
    append(other);
    return *this;
  }

  // Checked index: the unit at `i` for i <= size() - 1; a null string or a
  // larger index answers the spare unit and sets error() to -250.
  char16_t at(uint64_t i) const;

  // Three-way comparison of the units as unsigned values: -1, 0 or 1; a
  // proper prefix is smaller. A null this answers -3, a null other -2.
  // With `ignore_case` each unit is first given its simple lower-case
  // mapping (surrogates map to themselves).
  int32_t compare(const usstring& other, bool ignore_case = false) const;
  int32_t compare(const char16_t* other, bool ignore_case = false) const;

  // As sstring: two null strings are neither equal nor unequal; with exactly
  // one null, != and < are both true.
  bool operator==(const usstring& other) const;
  bool operator!=(const usstring& other) const;
  bool operator<(const usstring& other) const;

  // False when nothing is found, the string is null or the needle is null;
  // else true with `*pos` the offset in units from the start.
  bool find(const char16_t* needle, uint64_t* pos) const;
  bool find(const usstring& needle, uint64_t* pos) const;
  // As find, units compared through their simple lower-case mapping.
  bool find_nocase(const char16_t* needle, uint64_t* pos) const;
  bool find(char16_t u, uint64_t* pos) const;
  bool rfind(char16_t u, uint64_t* pos) const;

  // Null for a null string; otherwise the zero-terminated text.
  const char16_t* data() const { return data_; }
  // The writable buffer (size() units).
  char16_t* buffer() { return data_; }
  // Sets the length to `n` and writes a terminator there. Needs n < size();
  // otherwise answers -250 and changes nothing.
  int32_t set_length(uint64_t n);
  // Frees the buffer and makes the string null (the kind is kept).
  void clear();

  uint64_t length() const { return length_; }
  // Units of the buffer, terminator counted; 0 for a null string.
  uint64_t size() const { return size_; }
  uint32_t kind() const { return kind_; }
  void set_kind(uint32_t k) { kind_ = k; }
  int32_t error() const { return error_; }
  bool is_null() const { return data_ == nullptr; }
  bool is_empty() const { return data_ != nullptr && length_ == 0; }
  char16_t spare() const { return spare_; }
  void set_spare(char16_t u) { spare_ = u; }

 private:
  // A fresh heap block of `n` units, or null.
  static char16_t* Allocate(uint64_t n);
  // Replaces the buffer with `buf`, freeing the old one.
  void Adopt(char16_t* buf, uint64_t size, uint64_t length);
  int32_t SetError(int32_t e) const { return error_ = e; }

  char16_t spare_ = kDefaultSpare;
  char16_t* data_ = nullptr;
  uint64_t length_ = 0;
  uint64_t size_ = 0;
  uint32_t kind_ = 0;
  // Written by const operations too: it records the result of the last one.
  mutable int32_t error_ = 0;
};

// Converts the `n` bytes of UTF-8 at `in` into `out`: the string is sized to
// n + 1 units and given the converted text. Answers 0, -1 (null `in` or
// `out`; `out` unchanged), -2 (no memory; `out` unchanged), -50 or -51 (as
// Utf8ToUtf16Units). Once sized, the string's length is that of the text
// converted (up to the stop on failure), and its error() is -250 if that
// count did not fit.
int32_t Utf8ToUsstring(const char* in, size_t n, usstring* out);

}  // namespace ascommon

#endif  // TERVO_COMMON_USTRING_H_
