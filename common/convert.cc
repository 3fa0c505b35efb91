#include "common/convert.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <bit>
#include <string_view>
#include <utility>

#include "common/asalloc.h"
#include "common/dynlib.h"
#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

// Wide text is handed to the libraries as "UCS-2LE" bytes straight from the
// char16_t buffers.
static_assert(std::endian::native == std::endian::little);

namespace ascommon {

namespace {

constexpr const char* kUnicodeLibrary = "pallisk.dll";
constexpr const char* kIconvLibrary = "iconv.dll";
constexpr const char* kNoMemoryMessage = "[HTTP Streamer] Problems allocating memory";
constexpr const char* kConvertFailedMessage = "[HTTP Streamer] Problems Converting to Wide Char";

// Results of loading a library.
constexpr int32_t kLoadNoPath = -2;
constexpr int32_t kLoadNoLibrary = -4;
constexpr int32_t kLoadNoProcedures = -5;

// A byte buffer from the non-throwing allocation, freed on scope exit.
class RawBuffer {
 public:
  explicit RawBuffer(size_t size)
      : size_(size),
        data_(static_cast<char*>(as_new_nt_2_9(size == 0 ? 1 : size, &kNoThrow))) {}
  ~RawBuffer() { as_delete_nt_2_9(data_, &kNoThrow); }
  RawBuffer(const RawBuffer&) = delete;
  RawBuffer& operator=(const RawBuffer&) = delete;

  bool ok() const { return data_ != nullptr; }
  char* get() const { return data_; }
  size_t size() const { return size_; }

 private:
  size_t size_;
  char* data_;
};

struct CodePage {
  uint32_t number;
  const char* name;
};

// Windows code page numbers and the names iconv knows them by; sorted.
constexpr CodePage kCodePages[] = {
    {437, "CP437"},        {737, "CP737"},        {775, "CP775"},
    {850, "CP850"},        {852, "CP852"},        {855, "CP855"},
    {857, "CP857"},        {858, "CP858"},        {860, "CP860"},
    {861, "CP861"},        {862, "CP862"},        {863, "CP863"},
    {864, "CP864"},        {865, "CP865"},        {866, "CP866"},
    {869, "CP869"},        {874, "CP874"},        {932, "CP932"},
    {936, "CP936"},        {949, "CP949"},        {950, "CP950"},
    {1200, "UTF-16LE"},    {1201, "UTF-16BE"},    {1250, "CP1250"},
    {1251, "CP1251"},      {1252, "CP1252"},      {1253, "CP1253"},
    {1254, "CP1254"},      {1255, "CP1255"},      {1256, "CP1256"},
    {1257, "CP1257"},      {1258, "CP1258"},      {1361, "JOHAB"},
    {10000, "MACINTOSH"},  {10007, "CP10007"},    {12000, "UTF-32LE"},
    {12001, "UTF-32BE"},   {20127, "ASCII"},      {20866, "KOI8-R"},
    {21866, "KOI8-U"},     {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"}, {28594, "ISO-8859-4"}, {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"}, {28597, "ISO-8859-7"}, {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
    {50220, "ISO-2022-JP"}, {50225, "ISO-2022-KR"}, {51932, "EUC-JP"},
    {51936, "EUC-CN"},     {51949, "EUC-KR"},     {54936, "GB18030"},
    {65000, "UTF-7"},      {65001, "UTF-8"},
};

int32_t ErrnoToCode(int err) {
  switch (err) {
    case E2BIG:
      return kConvertOutputTooSmall;
    case EINVAL:
      return kConvertIncompleteInput;
    default:
      return kConvertInvalidSequence;
  }
}

bool IsHtmlNameEnd(char c) {
  return c == '"' || c == '\'' || c == ' ' || c == '/' || c == '>' || c == '\t' ||
         c == '\r' || c == '\n';
}

// The earlier of the two spellings of a tag opening at or after `from`.
size_t FindTag(std::string_view text, const char* lower, const char* upper, size_t from) {
  return std::min(text.find(lower, from), text.find(upper, from));
}

}  // namespace

CConvert::CConvert(const char* directory, bool flag, const char* default_wide_name)
    : directory_(directory != nullptr ? directory : ""), flag_(flag) {
  set_default_wide_name(default_wide_name);
  LoadUnicodeLibrary();
  try {
    LoadIconvLibrary();
  } catch (...) {
    FreeUnicodeLibrary();
    throw;
  }
}

CConvert::~CConvert() {
  FreeUnicodeLibrary();
  FreeIconvLibrary();
}

int32_t CConvert::set_default_wide_name(const char* name) {
  const char* use = name != nullptr && *name != '\0' ? name : kWideName;
  return default_wide_name_.assign(use) == 0 ? kConvertOk : kConvertNoMemory;
}

bool CConvert::BuildPath(const char* file, sstring* path) const {
  const char* dir = directory_.data() != nullptr ? directory_.data() : "";
  return path->assign(dir) == 0 && path->append("\\", 1) == 0 &&
         path->append(file, strlen(file)) == 0;
}

int32_t CConvert::LoadUnicodeLibrary() {
  FreeUnicodeLibrary();
  sstring path;
  if (!BuildPath(kUnicodeLibrary, &path)) {
    AS_LOG(0, 401, "Problems with path concat");
    return kLoadNoPath;
  }
  const char* loaded_name = path.data();
  void* lib = LoadDynLib(path.data());
  if (lib == nullptr) {
    lib = LoadDynLib(kUnicodeLibrary);
    loaded_name = kUnicodeLibrary;
  }
  if (lib == nullptr) {
    AS_LOG(0, 421, "Could not load library %s", path.data());
    return kLoadNoLibrary;
  }
  auto convert = reinterpret_cast<PalliskConvertFn>(GetDynLibSymbol(lib, "Convert"));
  auto to8 = reinterpret_cast<PalliskConvertToFn>(GetDynLibSymbol(lib, "ConvertToUTF8"));
  // Wide text always goes through Convert with "UCS-2LE", but a library
  // without ConvertToUTF16 is not a complete one.
  void* to16 = GetDynLibSymbol(lib, "ConvertToUTF16");
  auto to32 = reinterpret_cast<PalliskConvertToFn>(GetDynLibSymbol(lib, "ConvertToUTF32"));
  if (convert == nullptr || to8 == nullptr || to16 == nullptr || to32 == nullptr) {
    FreeDynLib(lib);
    AS_LOG(0, 443, "Could not load procedures from %s", loaded_name);
    return kLoadNoProcedures;
  }
  unicode_lib_ = lib;
  convert_ = convert;
  convert_to_utf8_ = to8;
  convert_to_utf32_ = to32;
  return kConvertOk;
}

void CConvert::LoadIconvLibrary() {
  FreeIconvLibrary();
  sstring path;
  if (!BuildPath(kIconvLibrary, &path)) {
    AS_RAISE_CODE(ASException, 336, kLoadNoPath, "Problems with path concat");
  }
  const char* loaded_name = path.data();
  void* lib = LoadDynLib(path.data());
  if (lib == nullptr) {
    lib = LoadDynLib(kIconvLibrary);
    loaded_name = kIconvLibrary;
  }
  if (lib == nullptr) {
    AS_RAISE_CODE(ASException, 353, kLoadNoLibrary, "Could not load library %s",
                  path.data());
  }
  auto lookup = [lib](const char* name, const char* fallback) {
    void* p = GetDynLibSymbol(lib, name);
    return p != nullptr ? p : GetDynLibSymbol(lib, fallback);
  };
  auto open = reinterpret_cast<IconvOpenFn>(lookup("libiconv_open", "iconv_open"));
  auto conv = reinterpret_cast<IconvFn>(lookup("libiconv", "iconv"));
  auto close = reinterpret_cast<IconvCloseFn>(lookup("libiconv_close", "iconv_close"));
  if (open == nullptr || conv == nullptr || close == nullptr) {
    FreeDynLib(lib);
    AS_RAISE_CODE(ASException, 374, kLoadNoProcedures, "Could not load procedures from %s",
                  loaded_name);
  }
  iconv_lib_ = lib;
  iconv_open_ = open;
  iconv_ = conv;
  iconv_close_ = close;
}

void CConvert::FreeUnicodeLibrary() {
  FreeDynLib(unicode_lib_);
  unicode_lib_ = nullptr;
  convert_ = nullptr;
  convert_to_utf8_ = nullptr;
  convert_to_utf32_ = nullptr;
}

void CConvert::FreeIconvLibrary() {
  FreeDynLib(iconv_lib_);
  iconv_lib_ = nullptr;
  iconv_open_ = nullptr;
  iconv_ = nullptr;
  iconv_close_ = nullptr;
}

int32_t CConvert::Run(Target target, const char* from, const char* to, const char* in,
                      size_t in_bytes, char* out, size_t* out_bytes) const {
  if (unicode_lib_ != nullptr) {
    switch (target) {
      case Target::kUtf8:
        return convert_to_utf8_(from, in, in_bytes, out, out_bytes);
      case Target::kUtf32:
        return convert_to_utf32_(from, in, in_bytes, out, out_bytes);
      case Target::kNamed:
        break;
    }
    return convert_(from, to, in, in_bytes, out, out_bytes);
  }
  if (iconv_lib_ != nullptr) {
    const char* name = target == Target::kUtf8    ? "UTF-8"
                       : target == Target::kUtf32 ? "UTF-32LE"
                                                  : to;
    return RunIconv(from, name, in, in_bytes, out, out_bytes);
  }
  *out_bytes = 0;
  return kConvertNoLibrary;
}

int32_t CConvert::RunIconv(const char* from, const char* to, const char* in, size_t in_bytes,
                           char* out, size_t* out_bytes) const {
  const size_t capacity = *out_bytes;
  *out_bytes = 0;
  void* cd = iconv_open_(to, from);
  if (cd == reinterpret_cast<void*>(-1)) return kConvertUnknownCharset;

  // iconv does not write through its input pointer.
  char* in_ptr = const_cast<char*>(in);
  size_t in_left = in_bytes;
  char* out_ptr = out;
  size_t out_left = capacity;
  int32_t result = kConvertOk;
  if (in_left != 0 &&
      iconv_(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1)) {
    result = ErrnoToCode(errno);
  }
  // The closing shift sequence of a stateful target.
  if ((result == kConvertOk || result == kConvertIncompleteInput) &&
      iconv_(cd, nullptr, nullptr, &out_ptr, &out_left) == static_cast<size_t>(-1) &&
      result == kConvertOk) {
    result = ErrnoToCode(errno);
  }
  iconv_close_(cd);
  *out_bytes = capacity - out_left;
  return result;
}

template <class Sink>
int32_t CConvert::RunGrowing(Target target, const char* from, const char* to, const char* in,
                             size_t in_bytes, size_t capacity, Sink&& sink) const {
  // No character set in use writes more than 16 bytes per input byte, escape
  // sequences included; the cap only keeps a broken library from looping.
  const size_t limit = in_bytes > (SIZE_MAX - 64) / 16 ? SIZE_MAX : in_bytes * 16 + 64;
  for (;;) {
    RawBuffer buf(capacity);
    if (!buf.ok()) return kConvertNoMemory;
    size_t n = capacity;
    int32_t rc = Run(target, from, to, in, in_bytes, buf.get(), &n);
    if (rc == kConvertOutputTooSmall && capacity < limit) {
      capacity = capacity > limit / 2 ? limit : capacity * 2;
      continue;
    }
    if (rc == kConvertOk || rc == kConvertIncompleteInput) {
      int32_t stored = sink(buf.get(), n);
      if (stored != kConvertOk) return stored;
    }
    return rc;
  }
}

namespace {

// A first guess at the output size; the buffer grows when it is short.
bool FirstCapacity(size_t in_bytes, size_t* capacity) {
  if (in_bytes > (SIZE_MAX - 16) / 2) return false;
  *capacity = in_bytes * 2 + 16;
  return true;
}

auto IntoSstring(sstring* out) {
  return [out](const char* p, size_t n) {
    return out->assign(p, n) == 0 ? kConvertOk : kConvertNoMemory;
  };
}

auto IntoUsstring(usstring* out) {
  return [out](const char* p, size_t n) {
    const size_t units = n / sizeof(char16_t);
    if (out->fill(units, 0) != 0) return kConvertNoMemory;
    memcpy(out->buffer(), p, units * sizeof(char16_t));
    out->set_length(units);
    return kConvertOk;
  };
}

}  // namespace

int32_t CConvert::Convert(const char* from, const char* to, const char* in, uint64_t in_bytes,
                          sstring* out) const {
  if (from == nullptr || to == nullptr || out == nullptr || (in == nullptr && in_bytes != 0)) {
    return kConvertNullArgument;
  }
  size_t capacity = 0;
  if (!FirstCapacity(in_bytes, &capacity)) return kConvertNoMemory;
  return RunGrowing(Target::kNamed, from, to, in != nullptr ? in : "", in_bytes, capacity,
                    IntoSstring(out));
}

int32_t CConvert::Convert(const char* from, const char* to, const sstring& in,
                          sstring* out) const {
  if (in.is_null()) return kConvertNullArgument;
  return Convert(from, to, in.data(), in.length(), out);
}

int32_t CConvert::ToUTF8(const char* from, const sstring& in, sstring* out) const {
  if (from == nullptr || in.is_null() || out == nullptr) return kConvertNullArgument;
  size_t capacity = 0;
  if (!FirstCapacity(in.length(), &capacity)) return kConvertNoMemory;
  return RunGrowing(Target::kUtf8, from, "UTF-8", in.data(), in.length(), capacity,
                    IntoSstring(out));
}

int32_t CConvert::ToUTF16(const char* from, const sstring& in, usstring* out) const {
  if (from == nullptr || in.is_null() || out == nullptr) return kConvertNullArgument;
  size_t capacity = 0;
  if (!FirstCapacity(in.length(), &capacity)) return kConvertNoMemory;
  return RunGrowing(Target::kNamed, from, kWideName, in.data(), in.length(), capacity,
                    IntoUsstring(out));
}

int32_t CConvert::FromUTF16(const char* to, const usstring& in, sstring* out) const {
  if (to == nullptr || in.is_null() || out == nullptr) return kConvertNullArgument;
  const size_t in_bytes = in.length() * sizeof(char16_t);
  size_t capacity = 0;
  if (!FirstCapacity(in_bytes, &capacity)) return kConvertNoMemory;
  return RunGrowing(Target::kNamed, kWideName, to, reinterpret_cast<const char*>(in.data()),
                    in_bytes, capacity, IntoSstring(out));
}

int32_t CConvert::ToUTF32(const char* from, const char* in, uint64_t in_bytes, char32_t* out,
                          uint64_t* units) const {
  if (from == nullptr || units == nullptr || (in == nullptr && in_bytes != 0) ||
      (out == nullptr && *units != 0)) {
    return kConvertNullArgument;
  }
  const size_t capacity = std::min<uint64_t>(*units, SIZE_MAX / sizeof(char32_t));
  size_t n = capacity * sizeof(char32_t);
  char scratch = 0;
  char* dest = out != nullptr ? reinterpret_cast<char*>(out) : &scratch;
  int32_t rc = Run(Target::kUtf32, from, "UTF-32LE", in != nullptr ? in : "", in_bytes, dest, &n);
  *units = n / sizeof(char32_t);
  return rc;
}

const char* CConvert::CodePageName(uint32_t code_page) {
  const CodePage* end = std::end(kCodePages);
  const CodePage* it = std::lower_bound(
      std::begin(kCodePages), end, code_page,
      [](const CodePage& cp, uint32_t number) { return cp.number < number; });
  return it != end && it->number == code_page ? it->name : nullptr;
}

int32_t CConvert::CheckCodePage(const char* code_page, sstring* name) const {
  if (code_page == nullptr || name == nullptr) return kConvertNullArgument;
  const char* resolved = code_page;
  const size_t len = strlen(code_page);
  // All digits: a Windows code page number. "" counts as one (code page 0,
  // unknown), which keeps iconv from taking it as the locale's set.
  if (std::all_of(code_page, code_page + len, [](char c) { return c >= '0' && c <= '9'; })) {
    uint64_t number = 0;
    for (size_t i = 0; i < len && number <= UINT32_MAX; ++i) {
      number = number * 10 + static_cast<uint64_t>(code_page[i] - '0');
    }
    resolved = number <= UINT32_MAX ? CodePageName(static_cast<uint32_t>(number)) : nullptr;
    if (resolved == nullptr) return kConvertUnknownCharset;
  }
  // An empty conversion is enough for the library to tell whether it knows
  // the set.
  char scratch = 0;
  size_t n = 0;
  int32_t rc = Run(Target::kNamed, kWideName, resolved, "", 0, &scratch, &n);
  if (rc != kConvertOk) return rc;
  return name->assign(resolved) == 0 ? kConvertOk : kConvertNoMemory;
}

int32_t CConvert::WideToCodePage(const usstring& in, const char* code_page, sstring* out) const {
  if (in.is_null() || out == nullptr) return kConvertNullArgument;
  sstring name;
  int32_t rc = CheckCodePage(code_page, &name);
  if (rc != kConvertOk) return rc;
  return FromUTF16(name.data(), in, out);
}

int32_t CConvert::WideToCodePage(const usstring& in, uint32_t code_page, sstring* out) const {
  const char* name = CodePageName(code_page);
  if (name == nullptr) return in.is_null() || out == nullptr ? kConvertNullArgument
                                                             : kConvertUnknownCharset;
  return WideToCodePage(in, name, out);
}

int32_t CConvert::CodePageToWide(const sstring& in, const char* code_page, usstring* out) const {
  if (in.is_null() || out == nullptr) return kConvertNullArgument;
  sstring name;
  int32_t rc = CheckCodePage(code_page, &name);
  if (rc != kConvertOk) return rc;
  return ToUTF16(name.data(), in, out);
}

bool CConvert::FindHtmlCharset(const sstring& html, sstring* charset) {
  if (html.is_null() || charset == nullptr) return false;
  const std::string_view text(html.data(), html.length());
  // Only the head counts: a declaration further down does not describe the
  // page. Without a body tag the whole text is the head.
  const std::string_view head = text.substr(0, FindTag(text, "<body", "<BODY", 0));
  constexpr std::string_view kKey = "charset=";
  for (size_t meta = FindTag(head, "<meta", "<META", 0); meta != std::string_view::npos;
       meta = FindTag(head, "<meta", "<META", meta + 1)) {
    const std::string_view tag = head.substr(meta, head.find('>', meta) - meta);
    const size_t key = tag.find(kKey);
    if (key == std::string_view::npos) continue;
    size_t start = meta + key + kKey.size();
    // HTML5's <meta charset="..."> quotes the name right after the '='.
    if (start < head.size() && (head[start] == '"' || head[start] == '\'')) ++start;
    size_t end = start;
    while (end < head.size() && end - start < kMaxHtmlCharsetName && !IsHtmlNameEnd(head[end])) {
      ++end;
    }
    if (end == start) continue;
    return charset->assign(head.data() + start, end - start) == 0;
  }
  return false;
}

bool CConvert::HtmlToUTF8(sstring* html, sstring* error_message) const {
  if (html == nullptr) return false;
  if (html->is_null() || html->length() == 0) return true;

  sstring declared;
  const char* charset = FindHtmlCharset(*html, &declared) ? declared.data() : kHtmlDefaultCharset;
  const size_t in_bytes = html->length();
  const char* message = kNoMemoryMessage;
  RawBuffer buf(in_bytes <= SIZE_MAX / 4 ? in_bytes * 4 : 0);
  if (!buf.ok() || buf.size() == 0) {
    AS_LOG(0, 1252, "[HTTP Streamer] Problems allocating memory");
  } else {
    size_t n = buf.size();
    int32_t rc = Run(Target::kUtf8, charset, "UTF-8", html->data(), in_bytes, buf.get(), &n);
    if (rc == kConvertOk || rc == kConvertIncompleteInput) {
      if (html->assign(buf.get(), n) == 0) return true;
      AS_LOG(0, 1252, "[HTTP Streamer] Problems allocating memory");
    } else {
      AS_LOG(0, 1262, "[HTTP Streamer] Problems Converting to Wide Char.");
      message = kConvertFailedMessage;
    }
  }
  if (error_message != nullptr) error_message->assign(message);
  sstring replaced("<!--QXERROR ");
  if (replaced.error() == 0 && replaced.append(message, strlen(message)) == 0 &&
      replaced.append(" QXERROR--!>", 12) == 0) {
    *html = std::move(replaced);
  }
  return false;
}

}  // namespace ascommon
