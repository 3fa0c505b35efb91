#include "platform/fernwick/fernwick.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

namespace {

// Limits that stop a runaway search: the match limit counts backtracking
// steps, the depth limit bounds the interpreter's backtracking memory.
// Measured here with (a+)+$, (\w+\s?)*$ and ^(a|a?)+$ over 30 to 10,000
// bytes, a search cut off by the match limit costs about 0.15 ms compiled by
// the JIT and about 1 ms in the interpreter.
constexpr uint32_t kMatchLimit = 100000;
constexpr uint32_t kDepthLimit = 10000;
// The JIT stack each thread may grow to; deeper patterns hit the limit.
constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 1024 * 1024;

// Per-thread scratch shared by every expression: match data with one pair
// (a search needs only the overall span) and a JIT stack.
struct ThreadScratch {
  pcre2_match_data* match_data = nullptr;
  pcre2_jit_stack* jit_stack = nullptr;
  ~ThreadScratch() {
    pcre2_match_data_free(match_data);
    pcre2_jit_stack_free(jit_stack);
  }
};
// Initial-exec: the scratch is reached without a call into the loader on
// every search; two pointers fit the static room kept for loaded libraries.
thread_local ThreadScratch t_scratch __attribute__((tls_model("initial-exec")));

pcre2_match_data* ThreadMatchData() {
  if (t_scratch.match_data == nullptr) {
    t_scratch.match_data = pcre2_match_data_create(1, nullptr);
  }
  return t_scratch.match_data;
}

// Whether this PCRE2's JIT misreads \W, \D and \S at a character past ASCII
// in UTF mode with PCRE2_MATCH_INVALID_UTF and without UCP (10.42 finds no
// \W in "\xc3\xa9", where its interpreter does); asked once, of the library
// loaded.
bool JitMissesShorthands() {
  static const bool misses = [] {
    int code = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>("\\W"), 2, PCRE2_UTF | PCRE2_MATCH_INVALID_UTF,
                                   &code, &offset, nullptr);
    pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
    const bool missed = re != nullptr && data != nullptr && pcre2_jit_compile(re, PCRE2_JIT_COMPLETE) == 0 &&
                        pcre2_jit_match(re, reinterpret_cast<PCRE2_SPTR>("\xc3\xa9"), 2, 0, 0, data, nullptr) ==
                            PCRE2_ERROR_NOMATCH;
    pcre2_match_data_free(data);
    pcre2_code_free(re);
    return missed;
  }();
  return misses;
}

// Whether `pattern` may hold \W, \D or \S (an escaped backslash is passed
// over; inside a class or \Q...\E they count too, which only costs time).
bool HasNegatedShorthand(const char* pattern, size_t length) {
  for (size_t i = 0; i + 1 < length; ++i) {
    if (pattern[i] != '\\') continue;
    const char next = pattern[++i];
    if (next == 'W' || next == 'D' || next == 'S') return true;
  }
  return false;
}

// Eight bytes at a time: it runs before every search of such a pattern.
bool HasByteAboveAscii(const unsigned char* s, size_t length) {
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    memcpy(&word, s + i, 8);
    if ((word & 0x8080808080808080ull) != 0) return true;
  }
  for (; i < length; ++i) {
    if (s[i] >= 0x80) return true;
  }
  return false;
}

// Hands PCRE2 the calling thread's JIT stack (null: the 32 KiB machine stack).
pcre2_jit_stack* ThreadJitStack(void*) {
  if (t_scratch.jit_stack == nullptr) {
    t_scratch.jit_stack = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
  }
  return t_scratch.jit_stack;
}

class RegEx final : public FernwickRegEx {
 public:
  explicit RegEx(bool jit) : jit_(jit) {}
  ~RegEx() { Clear(); }

  const char* ErrorText() const override { return error_; }

  int32_t Compile(const char* pattern, size_t length, uint32_t options) override {
    Clear();
    const uint32_t known = FERNWICK_CASELESS | FERNWICK_MULTILINE | FERNWICK_DOTALL | FERNWICK_UCP;
    if ((pattern == nullptr && length != 0) || (options & ~known) != 0) {
      snprintf(error_, sizeof error_, "invalid argument");
      return FERNWICK_E_ARGUMENT;
    }
    uint32_t flags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_NEVER_BACKSLASH_C;
    if (options & FERNWICK_CASELESS) flags |= PCRE2_CASELESS;
    if (options & FERNWICK_MULTILINE) flags |= PCRE2_MULTILINE;
    if (options & FERNWICK_DOTALL) flags |= PCRE2_DOTALL;
    if (options & FERNWICK_UCP) flags |= PCRE2_UCP;

    int code = 0;
    PCRE2_SIZE offset = 0;
    const auto* bytes = reinterpret_cast<PCRE2_SPTR>(pattern != nullptr ? pattern : "");
    code_ = pcre2_compile(bytes, length, flags, &code, &offset, nullptr);
    if (code_ == nullptr) {
      PCRE2_UCHAR text[200];
      if (pcre2_get_error_message(code, text, sizeof text) < 0) text[0] = 0;
      snprintf(error_, sizeof error_, "%s at offset %zu", reinterpret_cast<char*>(text), offset);
      return code == 0 ? FERNWICK_E_MEMORY : code;
    }
    context_ = pcre2_match_context_create(nullptr);
    if (context_ == nullptr) {
      Clear();
      snprintf(error_, sizeof error_, "out of memory");
      return FERNWICK_E_MEMORY;
    }
    pcre2_set_match_limit(context_, kMatchLimit);
    pcre2_set_depth_limit(context_, kDepthLimit);
    // Without JIT support the interpreter runs the pattern: still correct.
    jit_compiled_ = jit_ && pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE) == 0;
    shorthand_subjects_ = jit_compiled_ && (flags & PCRE2_UCP) == 0 && HasNegatedShorthand(pattern, length) &&
                          JitMissesShorthands();
    if (jit_compiled_) pcre2_jit_stack_assign(context_, ThreadJitStack, nullptr);
    return FERNWICK_OK;
  }

  int32_t Find(const char* subject, size_t length, size_t start, size_t* begin,
               size_t* end) const override {
    if (code_ == nullptr || (subject == nullptr && length != 0) || start > length) {
      return FERNWICK_NO_MATCH;
    }
    pcre2_match_data* data = ThreadMatchData();
    if (data == nullptr) return Cut();
    const auto* bytes = reinterpret_cast<PCRE2_SPTR>(subject != nullptr ? subject : "");
    // The arguments are checked above: compiled code runs without
    // pcre2_match's checks.
    // A subject past ASCII goes to the interpreter when the JIT would
    // misread the pattern's \W, \D or \S there.
    const bool interpret = !jit_compiled_ || (shorthand_subjects_ && HasByteAboveAscii(bytes, length));
    int rc = interpret ? pcre2_match(code_, bytes, length, start, jit_compiled_ ? PCRE2_NO_JIT : 0, data, context_)
                       : pcre2_jit_match(code_, bytes, length, start, 0, data, context_);
    if (rc == PCRE2_ERROR_NOMATCH) return FERNWICK_NO_MATCH;
    // Every other error is a limit (match, depth, heap, JIT stack) or memory.
    if (rc < 0) return Cut();
    const PCRE2_SIZE* span = pcre2_get_ovector_pointer(data);
    if (begin != nullptr) *begin = span[0];
    if (end != nullptr) *end = span[1];
    return FERNWICK_MATCH;
  }

  uint8_t Search(const char* subject, size_t length, size_t start) const override {
    return Find(subject, length, start, nullptr, nullptr) == FERNWICK_MATCH ? 1 : 0;
  }

  uint64_t LimitHits() const override { return limit_hits_.load(std::memory_order_relaxed); }

 private:
  int32_t Cut() const {
    limit_hits_.fetch_add(1, std::memory_order_relaxed);
    return FERNWICK_E_LIMIT;
  }

  void Clear() {
    pcre2_code_free(code_);
    pcre2_match_context_free(context_);
    code_ = nullptr;
    context_ = nullptr;
    jit_compiled_ = false;
    shorthand_subjects_ = false;
    error_[0] = 0;
  }

  const bool jit_;
  bool jit_compiled_ = false;
  bool shorthand_subjects_ = false;  // subjects past ASCII go to the interpreter
  pcre2_code* code_ = nullptr;
  pcre2_match_context* context_ = nullptr;
  char error_[256] = {};
  mutable std::atomic<uint64_t> limit_hits_{0};
};

class BuffMap final : public FernwickBuffMap {
 public:
  // Throws std::bad_alloc when memory runs out.
  BuffMap(const char* data, size_t length) : bytes_(data, data + length) {
    bytes_.push_back(0);
    line_starts_.push_back(0);
    for (size_t i = 0; i < length; ++i) {
      if (data[i] == '\n') line_starts_.push_back(i + 1);
    }
  }

  const char* Data() const override { return bytes_.data(); }
  size_t Size() const override { return bytes_.size() - 1; }
  size_t LineCount() const override { return line_starts_.size(); }
  size_t LineOf(size_t offset) const override {
    // The last line whose start is at or before the offset.
    auto after = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
    return static_cast<size_t>(after - line_starts_.begin()) - 1;
  }

 private:
  std::vector<char> bytes_;
  std::vector<size_t> line_starts_;
};

}  // namespace

extern "C" {

FernwickRegEx* NewRegEx(void) { return new (std::nothrow) RegEx(false); }

FernwickRegEx* NewFastRegEx(void) { return new (std::nothrow) RegEx(true); }

void DeleteRegEx(FernwickRegEx* regex) { delete static_cast<RegEx*>(regex); }

FernwickBuffMap* MakeBuffMap(const char* data, size_t length) {
  if (data == nullptr && length != 0) return nullptr;
  try {
    return new BuffMap(data != nullptr ? data : "", length);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void DeleteBuffMap(FernwickBuffMap* map) { delete static_cast<BuffMap*>(map); }

}  // extern "C"
