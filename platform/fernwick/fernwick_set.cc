// The pattern set of libfernwick: one RE2::Set automaton over every pattern,
// answering for PCRE2 only where the two engines provably agree.
#include <re2/re2.h>
#include <re2/set.h>
#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "platform/fernwick/fernwick.h"

namespace {

// Memory the set's automaton may use; past it a scan declines.
constexpr int64_t kSetMemory = 64 << 20;

// Why a pattern without lookarounds (WithoutLookarounds) may mean something
// else in RE2 than in PCRE2, or null when nothing in its text says so.
const char* Difference(const char* pattern, size_t length) {
  for (size_t i = 0; i + 1 < length; ++i) {
    const char c = pattern[i], next = pattern[i + 1];
    if (c == '{' && next == ',') return "a {,n} repeat";
    if (c != '\\') continue;
    if (next >= '1' && next <= '9') return "a backreference or octal escape";
    if (next == 'p' || next == 'P') return "a Unicode property";
    if (next == 'v') return "\\v, a class in PCRE2 and one character in RE2";
    if (next == 'Q' || next == 'E') return "a \\Q...\\E quote";
    ++i;  // the escaped character is not the start of anything
  }
  return nullptr;
}

// Why RE2 may match less than PCRE2 with a caseless pattern (one without
// lookarounds) on an ASCII subject, or null: a character past ASCII,
// written or escaped, whose case partners may differ between the engines'
// Unicode tables. (Both fold a negated class before negating it.)
const char* CaselessDifference(const std::string& held) {
  for (size_t i = 0; i < held.size(); ++i) {
    if (static_cast<unsigned char>(held[i]) >= 0x80) return "a caseless pattern with a character past ASCII";
    if (held[i] != '\\' || ++i == held.size()) continue;
    if (held[i] == 'x' || held[i] == 'o' || held[i] == 'N') return "a caseless pattern with a character escape";
  }
  return nullptr;
}

// The index of the `]` that closes the class opening at `p[open]`, as PCRE2
// reads it (a `]` first is a member, `[:name:]` is one member); `n` when the
// class is not closed.
size_t ClassEnd(const char* p, size_t n, size_t open) {
  size_t j = open + 1;
  if (j < n && p[j] == '^') ++j;
  if (j < n && p[j] == ']') ++j;
  while (j < n) {
    if (p[j] == '\\') {
      j += 2;
    } else if (p[j] == ']') {
      return j;
    } else if (p[j] == '[' && j + 1 < n && p[j + 1] == ':') {
      // A POSIX name only when its ":]" comes before any other `]`.
      size_t k = j + 2;
      while (k < n && p[k] != ']') ++k;
      j = k < n && p[k - 1] == ':' && k - 1 > j + 1 ? k + 1 : j + 1;
    } else {
      ++j;
    }
  }
  return n;
}

// Whether `p[i]` opens a lookaround: (?=, (?!, (?<= or (?<!.
bool OpensLookaround(const char* p, size_t n, size_t i) {
  return i + 2 < n && p[i] == '(' && p[i + 1] == '?' &&
         (p[i + 2] == '=' || p[i + 2] == '!' ||
          (p[i + 2] == '<' && i + 3 < n && (p[i + 3] == '=' || p[i + 3] == '!')));
}

// The pattern without its lookarounds: wherever the pattern matches, so does
// the rest, since an assertion taken out only lets more through; the set may
// hold it in the pattern's place. False when a lookaround is not closed, or
// for any "(?" group but (?: and the lookarounds, a verb or a \Q quote: they
// may differ in RE2 or hide where a group ends. Escapes and classes are
// read as PCRE2 reads them. Conservative: "(?" in a class is refused too.
bool WithoutLookarounds(const char* p, size_t n, std::string* out) {
  for (size_t i = 0; i + 1 < n; ++i) {
    if (p[i] == '\\') {
      if (p[++i] == 'Q') return false;
    } else if (p[i] == '(' && (p[i + 1] == '*' || (p[i + 1] == '?' && !OpensLookaround(p, n, i) &&
                                                   (i + 2 >= n || p[i + 2] != ':')))) {
      return false;
    }
  }
  out->clear();
  size_t depth = 0;  // the parentheses open in a lookaround being left out
  for (size_t i = 0; i < n; ++i) {
    const size_t start = i;
    bool dropped = depth > 0;
    if (p[i] == '\\') {
      if (i + 1 < n) ++i;
    } else if (p[i] == '[') {
      i = ClassEnd(p, n, i);
      if (i == n) i = n - 1;  // unclosed: RE2 refuses it whole
    } else if (p[i] == '(') {
      if (dropped) {
        ++depth;
      } else if (OpensLookaround(p, n, i)) {
        depth = 1;
        dropped = true;
      }
    } else if (p[i] == ')' && dropped) {
      --depth;
    }
    if (!dropped) out->append(p + start, i + 1 - start);
  }
  return depth == 0;
}

// Whether PCRE2 and RE2 search `subject` the same way: valid UTF-8 (as
// PCRE2 defines it), no vertical tab and no final line feed; with
// `ascii_only`, no byte past ASCII either.
bool Decidable(const unsigned char* s, size_t length, bool ascii_only) {
  if (length > FERNWICK_SET_MAX_SUBJECT) return false;
  if (length > 0 && s[length - 1] == '\n') return false;
  for (size_t i = 0; i < length;) {
    // Eight ASCII bytes at a time: no high bit, and no byte equal to 0x0B.
    if (i + 8 <= length) {
      uint64_t word;
      memcpy(&word, s + i, 8);
      const uint64_t vt = word ^ 0x0B0B0B0B0B0B0B0Bull;
      const uint64_t has_vt = (vt - 0x0101010101010101ull) & ~vt & 0x8080808080808080ull;
      if (((word & 0x8080808080808080ull) | has_vt) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char c = s[i];
    if (c < 0x80) {
      if (c == 0x0B) return false;
      ++i;
      continue;
    }
    if (ascii_only) return false;
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 2, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 3, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n > length) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += n;
  }
  return true;
}

RE2::Options SetOptions() {
  RE2::Options options;
  options.set_log_errors(false);
  options.set_never_capture(true);
  options.set_max_mem(kSetMemory);
  return options;
}

class RegExSet final : public FernwickRegExSet {
 public:
  RegExSet() : set_(SetOptions(), RE2::UNANCHORED) {}

  int32_t Add(const char* pattern, size_t length) override {
    error_.clear();
    const bool caseless = pattern != nullptr && length >= 4 && memcmp(pattern, "(?i)", 4) == 0;
    if (caseless) pattern += 4, length -= 4;
    if (compiled_) {
      error_ = "the set is compiled";
    } else if (pattern == nullptr && length != 0) {
      error_ = "invalid argument";
    } else if (std::string held; !WithoutLookarounds(pattern, length, &held)) {
      error_ = "a group with options, a named, atomic or conditional group, a comment, a verb, a \\Q "
               "quote or an unclosed lookaround";
    } else if (const char* why = Difference(held.data(), held.size())) {
      error_ = why;
    } else if (const char* why_caseless = caseless ? CaselessDifference(held) : nullptr) {
      error_ = why_caseless;
    } else {
      std::string error;
      const int index = set_.Add(caseless ? "(?i)" + held : held, &error);
      if (index >= 0) {
        count_ = static_cast<size_t>(index) + 1;
        ascii_only_ = ascii_only_ || caseless;
        return index;
      }
      error_ = error;
    }
    return -1;
  }

  const char* ErrorText() const override { return error_.c_str(); }

  int32_t Compile() override {
    if (compiled_) return FERNWICK_OK;
    // RE2 wants at least one pattern; an empty set is compiled and matches nothing.
    if (count_ != 0 && !set_.Compile()) return FERNWICK_E_MEMORY;
    compiled_ = true;
    return FERNWICK_OK;
  }

  size_t Count() const override { return count_; }

  int32_t Scan(const char* subject, size_t length, uint64_t* bits) const override {
    if (!compiled_ || (subject == nullptr && length != 0)) return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(subject != nullptr ? subject : "");
    if (!Decidable(bytes, length, ascii_only_)) return 0;
    memset(bits, 0, (count_ + 63) / 64 * sizeof(uint64_t));
    if (count_ == 0) return 1;
    // A scan that found nothing answers false; an automaton out of memory
    // says so in the error, and then nothing is known. The first scan stops
    // at the first match and collects nothing, which is far cheaper on the
    // many texts no pattern matches; only the others are scanned for every
    // pattern that matches.
    const re2::StringPiece text(subject, length);
    RE2::Set::ErrorInfo info{};
    thread_local std::vector<int> hits;
    if (!set_.Match(text, nullptr, &info) || !set_.Match(text, &hits, &info)) {
      return info.kind == RE2::Set::kNoError ? 1 : 0;
    }
    for (int index : hits) bits[index / 64] |= uint64_t{1} << (index % 64);
    return 1;
  }

 private:
  RE2::Set set_;
  bool compiled_ = false;
  bool ascii_only_ = false;  // a caseless pattern is held
  size_t count_ = 0;
  std::string error_;
};

}  // namespace

extern "C" {

FernwickRegExSet* NewRegExSet(void) {
  try {
    return new RegExSet();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void DeleteRegExSet(FernwickRegExSet* set) { delete static_cast<RegExSet*>(set); }

}  // extern "C"
