// CConvert: changes text between character sets through two run-time
// libraries, the Unicode library ("pallisk.dll") and the iconv library
// ("iconv.dll").
//
// Conversions go through the Unicode library when it is loaded and through
// the iconv procedures otherwise; both give the same results. They answer
// codes and never throw:
//    0   ok
//   -1   a null argument (a null pointer, a null input string)
//   -2   memory could not be had
//   -4   unknown character set or code page
//   -5   neither library is loaded
//   -50  the input holds an invalid sequence, or a character the target set
//        cannot represent
//   -51  the output would not fit (only from the fixed-size calls)
//   -53  the input ends inside a multibyte sequence; the text before it is
//        converted and handed out
// On any other failure the output is left as it was.
//
// Wide text (usstring) is UTF-16 named "UCS-2LE" on every conversion, so only
// characters of the Basic Multilingual Plane convert; a surrogate pair gives
// -50.
//
// The conversions are const and may run on many threads at once; loading and
// freeing the libraries must not overlap with anything else on the object.
#ifndef TERVO_COMMON_CONVERT_H_
#define TERVO_COMMON_CONVERT_H_

#include <stddef.h>
#include <stdint.h>

#include "common/sstring.h"
#include "common/ustring.h"
#include "platform/pallisk/pallisk.h"

namespace ascommon {

inline constexpr int32_t kConvertOk = 0;
inline constexpr int32_t kConvertNullArgument = -1;
inline constexpr int32_t kConvertNoMemory = -2;
inline constexpr int32_t kConvertUnknownCharset = -4;
inline constexpr int32_t kConvertNoLibrary = -5;
inline constexpr int32_t kConvertInvalidSequence = -50;
inline constexpr int32_t kConvertOutputTooSmall = -51;
inline constexpr int32_t kConvertIncompleteInput = -53;

class CConvert {
 public:
  // The name every UTF-16 conversion gives the wide side.
  static constexpr const char* kWideName = "UCS-2LE";
  // The character set of an HTML text that declares none.
  static constexpr const char* kHtmlDefaultCharset = "windows-1250";
  // The most characters of a declared HTML charset name that are used.
  static constexpr size_t kMaxHtmlCharsetName = 20;

  // Keeps `directory` (an 8-bit folder path, backslashes allowed; null is
  // taken as empty) and `flag`, sets the default wide character-set name
  // (`default_wide_name`, or "UCS-2LE" when that is null or empty), then
  // loads the Unicode library and the iconv library.
  // A Unicode library that cannot be loaded is logged and leaves
  // unicode_loaded() false; an iconv library that cannot be loaded throws
  // ASException (see LoadIconvLibrary), and nothing stays loaded.
  CConvert(const char* directory, bool flag, const char* default_wide_name = nullptr);
  ~CConvert();
  CConvert(const CConvert&) = delete;
  CConvert& operator=(const CConvert&) = delete;

  // (Re)loads "pallisk.dll" from the directory, falling back to the bare name
  // (next to the module, then the loader's path), and looks up its four
  // procedures. Answers 0, -2 (the path could not be built), -4 (the library
  // does not load) or -5 (a procedure is missing; the library is freed).
  // Failures are logged.
  int32_t LoadUnicodeLibrary();
  // (Re)loads "iconv.dll" the same way and looks up libiconv_open, libiconv
  // and libiconv_close, each falling back to iconv_open, iconv and
  // iconv_close. Throws ASException whose text carries the code: -2 (the path
  // could not be built), -4 (the library does not load) or -5 (a procedure is
  // missing; the library is freed).
  void LoadIconvLibrary();
  // Unloads the Unicode library; conversions then use the iconv procedures.
  void FreeUnicodeLibrary();
  void FreeIconvLibrary();

  bool unicode_loaded() const { return unicode_lib_ != nullptr; }
  bool iconv_loaded() const { return iconv_lib_ != nullptr; }
  bool flag() const { return flag_; }
  const sstring& directory() const { return directory_; }
  const sstring& default_wide_name() const { return default_wide_name_; }
  // Null or empty restores "UCS-2LE". Answers 0 or -2.
  int32_t set_default_wide_name(const char* name);

  // Converts `in_bytes` bytes at `in` from `from` to `to` into `out`, which
  // then holds exactly the converted bytes (no byte-order mark for UTF-16/32
  // targets unless the name asks for one). `in` may be null when `in_bytes`
  // is 0.
  int32_t Convert(const char* from, const char* to, const char* in, uint64_t in_bytes,
                  sstring* out) const;
  int32_t Convert(const char* from, const char* to, const sstring& in, sstring* out) const;
  // From `from` to UTF-8.
  int32_t ToUTF8(const char* from, const sstring& in, sstring* out) const;
  // From `from` to wide text.
  int32_t ToUTF16(const char* from, const sstring& in, usstring* out) const;
  // From wide text to `to`.
  int32_t FromUTF16(const char* to, const usstring& in, sstring* out) const;
  // From `from` to UTF-32 code points in `out`: on entry *units is the room
  // in `out` (in code points), on return the code points written (also on
  // failure). Answers -51 when `out` is too small. One code point per input
  // byte is always room enough for the usual character sets.
  int32_t ToUTF32(const char* from, const char* in, uint64_t in_bytes, char32_t* out,
                  uint64_t* units) const;

  // The iconv name of a Windows code page number (1250 -> "CP1250",
  // 28592 -> "ISO-8859-2", 65001 -> "UTF-8", ...); null when unknown.
  static const char* CodePageName(uint32_t code_page);
  // Checks a code page given as a number in text ("1250") or as a character
  // set name ("CP1250", "iso-8859-2"), and gives the name to use in `*name`.
  // A number must be a known Windows code page; a name must be one the
  // loaded library can convert to. Answers 0, -1, -2, -4 or -5.
  int32_t CheckCodePage(const char* code_page, sstring* name) const;
  // Wide text to a code page: the code page is checked first (-4 when it is
  // unknown), then the text is converted.
  int32_t WideToCodePage(const usstring& in, const char* code_page, sstring* out) const;
  int32_t WideToCodePage(const usstring& in, uint32_t code_page, sstring* out) const;
  // The reverse: text in a code page to wide text.
  int32_t CodePageToWide(const sstring& in, const char* code_page, usstring* out) const;

  // Finds the character set an HTML text declares: the first "charset=" in a
  // "<meta" or "<META" tag that starts before the first "<body" or "<BODY"
  // (anywhere in the text when there is neither). The name is what follows
  // "charset=" (after one opening quote or apostrophe, if any) up to a double
  // quote, an apostrophe, a blank, a tab or line break, '/', '>' or the end
  // of the text, at most 20 characters. Answers false, `*charset`
  // untouched, when no non-empty name is declared.
  static bool FindHtmlCharset(const sstring& html, sstring* charset);
  // Converts an HTML text to UTF-8 in place from its declared character set
  // (windows-1250 when it declares none), into a buffer of 4 bytes per input
  // byte. A conversion that succeeds, or stops at a sequence cut off by the
  // end of the text, replaces the text with what was converted and answers
  // true. Otherwise the failure is logged, the text becomes
  // "<!--QXERROR " + message + " QXERROR--!>", `*error_message` (may be null)
  // gets the message and the answer is false. A null or empty text is left
  // as it is and answers true; a null `html` answers false.
  bool HtmlToUTF8(sstring* html, sstring* error_message = nullptr) const;

 private:
  enum class Target { kNamed, kUtf8, kUtf32 };

  // One conversion into the fixed buffer `out` (capacity *out_bytes; on
  // return the bytes written), through whichever library is loaded.
  int32_t Run(Target target, const char* from, const char* to, const char* in,
              size_t in_bytes, char* out, size_t* out_bytes) const;
  int32_t RunIconv(const char* from, const char* to, const char* in, size_t in_bytes,
                   char* out, size_t* out_bytes) const;
  // Converts into a buffer that grows until the text fits; hands the buffer
  // and the bytes written to `sink`.
  template <class Sink>
  int32_t RunGrowing(Target target, const char* from, const char* to, const char* in,
                     size_t in_bytes, size_t first_capacity, Sink&& sink) const;
  // Builds directory + "\" + file into `*path`.
  bool BuildPath(const char* file, sstring* path) const;

  using IconvOpenFn = void* (*)(const char* to, const char* from);
  using IconvFn = size_t (*)(void* cd, char** in, size_t* in_left, char** out,
                             size_t* out_left);
  using IconvCloseFn = int (*)(void* cd);

  sstring directory_;
  sstring default_wide_name_;
  bool flag_ = false;

  void* unicode_lib_ = nullptr;
  PalliskConvertFn convert_ = nullptr;
  PalliskConvertToFn convert_to_utf8_ = nullptr;
  PalliskConvertToFn convert_to_utf32_ = nullptr;

  void* iconv_lib_ = nullptr;
  IconvOpenFn iconv_open_ = nullptr;
  IconvFn iconv_ = nullptr;
  IconvCloseFn iconv_close_ = nullptr;
};

}  // namespace ascommon

#endif  // TERVO_COMMON_CONVERT_H_
