// UTF-8 helpers: validation, single code point decoding and encoding, simple
// lower-casing, and conversion to UTF-16. The bottom layer: it needs nothing
// but the lower-case tables.
//
// Result codes: 0 ok, -1 null input buffer, -50 ill-formed or truncated
// input, -51 output buffer too small.
#ifndef TERVO_COMMON_UTF8_H_
#define TERVO_COMMON_UTF8_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

namespace ascommon {

inline constexpr int32_t kUtf8NullInput = -1;
inline constexpr int32_t kUtf8Invalid = -50;
inline constexpr int32_t kUtf8OutputTooSmall = -51;

// The number of bytes of the sequence a lead byte starts: 1 for 0x00-0x7F,
// 2 for 0xC0-0xDF, 3 for 0xE0-0xEF, 4 for 0xF0-0xF7, 0 (invalid) for
// continuation bytes 0x80-0xBF and for 0xF8-0xFF.
int Utf8SequenceLength(unsigned char lead);

// True when the `n` bytes at `p` are whole sequences by the lead-byte table,
// every continuation byte having the form 10xxxxxx. An empty buffer is valid;
// a null `p` is not. Overlong forms and surrogates are accepted.
bool Utf8Validate(const char* p, size_t n);

// Decodes the code point at `p` (`n` bytes available) into `*cp` and answers
// its byte count: 1 for a lead below 0x80, 2 below 0xE0, 4 from 0xF0, else 3.
// The bits are taken without further checks. Answers 0 (and leaves `*cp`)
// when fewer than the needed bytes remain.
size_t Utf8Decode(const char* p, size_t n, char32_t* cp);

// Encodes `cp` at `out` (room for 4 bytes) and answers the byte count: 1
// below 0x80, 2 below 0x800, 3 below 0x40000, else 4. Code points from
// 0x10000 to 0x3FFFF therefore get a three-byte form; stored data depends on
// that, so it stays.
size_t Utf8Encode(char32_t cp, char* out);

// The simple lower-case mapping of one code point (identity when the Unicode
// character database gives none).
char32_t UnicodeToLower(char32_t cp);

// Lower-cases the `n` bytes at `in` into `out` (capacity `cap` bytes), code
// point by code point with the simple mapping. Before each code point is
// written, a write position plus 4 beyond `cap` stops with -51. `*written`
// (may be null) gets the bytes written, up to the stop on failure; no
// terminator is written. Answers 0, -1 (null `in` or `out`), -50 (truncated
// sequence) or -51.
int32_t Utf8ToLower(const char* in, size_t n, char* out, size_t cap, size_t* written);

// As Utf8ToLower, keeping regular-expression syntax intact: the code point
// after a backslash is copied unchanged; inside a bracket expression [...]
// code points get the simple mapping; outside one, the letters whose lower
// case depends on a following combining dot (I, J, I-ogonek, I-grave, I-acute,
// I-tilde, I-dot) become a group of alternatives "(a|b|...)", and other code
// points get the simple mapping.
int32_t Utf8RegexToLower(const char* in, size_t n, char* out, size_t cap, size_t* written);

// Converts the `n` bytes of UTF-8 at `in` to UTF-16 at `out` (capacity `cap`
// units, no terminator written); code points above U+FFFF become surrogate
// pairs. `*written` (may be null) gets the units written, up to the stop on
// failure. Answers 0, -1 (null `in` or `out`), -50 (a sequence ill-formed by
// the lead-byte table or its continuation bytes, or beyond U+10FFFF) or -51
// (`out` too small).
int32_t Utf8ToUtf16Units(const char* in, size_t n, char16_t* out, size_t cap, size_t* written);

// UTF-8 to UTF-16 for names and environment values: as Utf8ToUtf16Units, but
// each byte that does not start a well-formed sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view in);

// UTF-16 to standard UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view in);

}  // namespace ascommon

#endif  // TERVO_COMMON_UTF8_H_
