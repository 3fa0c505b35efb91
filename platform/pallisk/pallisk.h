// libpallisk: conversion of text between character sets, over the C library's
// iconv. Loaded at run time as "pallisk.dll"; it exports exactly the four
// functions below, with C linkage.
//
// Common contract of every call:
//  - `in` holds `in_bytes` bytes of text in the source character set; it may
//    be null only when `in_bytes` is 0.
//  - On entry *out_bytes is the capacity of `out` in bytes; `out` may be null
//    only when that capacity is 0. On return *out_bytes is the number of bytes
//    written, also when the call fails part way (what was converted before the
//    failure stays in `out`).
//  - Nothing is terminated: no trailing zero is written. UTF-16 and UTF-32 are
//    written little-endian and without a byte-order mark.
//  - Character-set names are those iconv knows ("ISO-8859-2", "CP1250",
//    "windows-1250", "UTF-8", ...), matched without regard to case.
//  - Every call opens its own conversion state, so the functions may be used
//    from any number of threads at once.
#ifndef TERVO_PLATFORM_PALLISK_PALLISK_H_
#define TERVO_PLATFORM_PALLISK_PALLISK_H_

#include <stddef.h>
#include <stdint.h>

// Result codes.
#define PALLISK_OK 0
// A charset name or out_bytes is null, or in/out is null with a non-zero size.
#define PALLISK_E_NULL_ARGUMENT (-1)
// iconv cannot convert between the two named character sets.
#define PALLISK_E_UNKNOWN_CHARSET (-4)
// The input holds a sequence that is invalid in the source character set, or
// a character the target set cannot represent.
#define PALLISK_E_INVALID_SEQUENCE (-50)
// The output buffer is too small for the whole text.
#define PALLISK_E_OUTPUT_TOO_SMALL (-51)
// The input ends inside a multibyte sequence; everything before that sequence
// was converted and is counted in *out_bytes.
#define PALLISK_E_INCOMPLETE_INPUT (-53)

#ifdef __cplusplus
extern "C" {
#endif

// Converts text from `from_charset` to `to_charset`.
int32_t Convert(const char* from_charset, const char* to_charset,
                const void* in, size_t in_bytes, void* out, size_t* out_bytes);

// Converts text from `from_charset` to UTF-8.
int32_t ConvertToUTF8(const char* from_charset, const void* in, size_t in_bytes,
                      void* out, size_t* out_bytes);

// Converts text from `from_charset` to UTF-16LE (2-byte units).
int32_t ConvertToUTF16(const char* from_charset, const void* in,
                       size_t in_bytes, void* out, size_t* out_bytes);

// Converts text from `from_charset` to UTF-32LE (4-byte units).
int32_t ConvertToUTF32(const char* from_charset, const void* in,
                       size_t in_bytes, void* out, size_t* out_bytes);

// The signatures as function-pointer types, for callers that look the
// functions up at run time.
typedef int32_t (*PalliskConvertFn)(const char*, const char*, const void*,
                                    size_t, void*, size_t*);
typedef int32_t (*PalliskConvertToFn)(const char*, const void*, size_t, void*,
                                      size_t*);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // TERVO_PLATFORM_PALLISK_PALLISK_H_
