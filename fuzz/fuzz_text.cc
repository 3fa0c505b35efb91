// Fuzzes the UTF-8 helpers of common/utf8.h and the two lower-casings of
// sstring on arbitrary bytes, checking what their headers promise:
//   - Utf8SequenceLength follows the lead-byte table and Utf8Validate agrees
//     with a byte-by-byte walk of it;
//   - Utf8Decode and Utf8Encode give the documented lengths, and encoding a
//     decoded code point outside 0x10000-0x3FFFF decodes back to it;
//   - UnicodeToLower is the character database's pair, or the code point;
//   - Utf8ToLower writes the decoded code points' lower cases, stops with -50
//     where a sequence is cut and with -51 only where the room ends, never
//     writes past its capacity, and a smaller capacity gives a prefix;
//   - Utf8RegexToLower follows its rules (escapes, bracket expressions,
//     groups for the letters whose lower case takes a dot above), and keeps
//     the same rules of room;
//   - Utf8ToUtf16Units and Utf8ToUsstring give the UTF-16 of the decoded code
//     points, and fail exactly on ill-formed input or code points past
//     U+10FFFF;
//   - sstring::UTF8_tolower and UTF8_regex_tolower, with and without
//     validation, give the helpers' results or leave the string unchanged.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/lower_table.h"
#include "common/sstring.h"
#include "common/ustring.h"
#include "common/utf8.h"
#include "fuzz/fuzz_support.h"

namespace {

using ascommon::sstring;
using ascommon::usstring;

// The lead-byte table as the header gives it.
int ExpectedSequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC0 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  return 0;
}

bool SlowValidate(const unsigned char* s, size_t n) {
  for (size_t i = 0; i < n;) {
    const size_t len = static_cast<size_t>(ExpectedSequenceLength(s[i]));
    if (len == 0 || len > n - i) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

size_t ExpectedDecodeLength(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead >= 0xF0 ? 4 : 3;
}

size_t ExpectedEncodeLength(char32_t cp) {
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x40000 ? 3 : 4;
}

char32_t ExpectedLower(char32_t cp) {
  const ascommon::LowerCasePair* begin = ascommon::kLowerCasePairs;
  const ascommon::LowerCasePair* end = begin + ascommon::kLowerCasePairCount;
  const auto* found = std::lower_bound(
      begin, end, cp, [](const ascommon::LowerCasePair& p, char32_t c) { return p.from < c; });
  return found != end && found->from == cp ? found->to : cp;
}

// The letters Utf8RegexToLower turns into groups of alternatives (I, J,
// I-ogonek, I-grave, I-acute, I-tilde, I-dot), each with the code points of
// its lower case with a dot above, as Unicode's special casing gives them.
struct GroupLetter {
  char32_t letter;
  std::u32string lower;
};
const GroupLetter kGroupLetters[] = {
    {0x49, U"\u0069\u0307"},         {0x4A, U"\u006A\u0307"},
    {0x12E, U"\u012F\u0307"},        {0xCC, U"\u0069\u0307\u0300"},
    {0xCD, U"\u0069\u0307\u0301"},  {0x128, U"\u0069\u0307\u0303"},
    {0x130, U"\u0069\u0307"},
};

const GroupLetter* FindGroupLetter(char32_t cp) {
  for (const GroupLetter& g : kGroupLetters) {
    if (g.letter == cp) return &g;
  }
  return nullptr;
}

// The input decoded the way the lower-casings walk it.
struct Decoded {
  std::vector<char32_t> points;
  std::vector<size_t> offsets;  // where each code point starts
  std::vector<size_t> lengths;  // and how many bytes it takes
  bool truncated = false;       // the last sequence is cut short
};

Decoded Decode(const char* p, size_t n) {
  Decoded d;
  for (size_t i = 0; i < n;) {
    char32_t cp = 0xFFFFFFFF;
    const size_t len = ascommon::Utf8Decode(p + i, n - i, &cp);
    const size_t expected = ExpectedDecodeLength(static_cast<unsigned char>(p[i]));
    if (expected > n - i) {
      FUZZ_CHECK(len == 0 && cp == 0xFFFFFFFF, "Utf8Decode read a cut sequence");
      d.truncated = true;
      break;
    }
    FUZZ_CHECK(len == expected, "Utf8Decode answered another length");
    FUZZ_CHECK(cp <= 0x1FFFFF, "Utf8Decode gave more than 21 bits");
    d.points.push_back(cp);
    d.offsets.push_back(i);
    d.lengths.push_back(len);
    i += len;
  }
  return d;
}

void CheckCodePoints(const Decoded& d) {
  for (char32_t cp : d.points) {
    char out[4];
    const size_t len = ascommon::Utf8Encode(cp, out);
    FUZZ_CHECK(len == ExpectedEncodeLength(cp), "Utf8Encode answered another length");
    if (cp < 0x10000 || cp >= 0x40000) {
      char32_t back = 0;
      FUZZ_CHECK(ascommon::Utf8Decode(out, len, &back) == len && back == cp,
                 "an encoded code point does not decode back");
    }
    FUZZ_CHECK(ascommon::UnicodeToLower(cp) == ExpectedLower(cp),
               "UnicodeToLower disagrees with the character database");
  }
}

void AppendEncoded(char32_t cp, std::string* text) {
  char out[4];
  text->append(out, ascommon::Utf8Encode(cp, out));
}

std::string ExpectedLowerText(const Decoded& d) {
  std::string text;
  for (char32_t cp : d.points) AppendEncoded(ascommon::UnicodeToLower(cp), &text);
  return text;
}

// The regular-expression lower case by its rules: the code point after a
// backslash as it is written; inside [...] the simple mapping; outside, a
// group letter as "(a|b|...)" of its lower case's code points, anything else
// the simple mapping.
std::string ExpectedRegexLowerText(const char* p, const Decoded& d) {
  std::string text;
  bool escaped = false;
  bool in_bracket = false;
  for (size_t k = 0; k < d.points.size(); ++k) {
    const char32_t cp = d.points[k];
    const GroupLetter* group = FindGroupLetter(cp);
    if (escaped) {
      text.append(p + d.offsets[k], d.lengths[k]);
      escaped = false;
    } else if (cp == '\\') {
      text += '\\';
      escaped = true;
    } else if (in_bracket) {
      in_bracket = cp != ']';
      AppendEncoded(ascommon::UnicodeToLower(cp), &text);
    } else if (cp == '[') {
      text += '[';
      in_bracket = true;
    } else if (group != nullptr) {
      text += '(';
      for (size_t g = 0; g < group->lower.size(); ++g) {
        if (g > 0) text += '|';
        AppendEncoded(group->lower[g], &text);
      }
      text += ')';
    } else {
      AppendEncoded(ascommon::UnicodeToLower(cp), &text);
    }
  }
  return text;
}

typedef int32_t (*LowerFunction)(const char*, size_t, char*, size_t, size_t*);

// Runs `lower` with room for `cap` bytes in a buffer of exactly that size.
std::string RunLower(LowerFunction lower, const char* p, size_t n, size_t cap, int32_t* rc) {
  std::vector<char> out(cap == 0 ? 1 : cap);
  size_t written = 0xDEAD;
  *rc = lower(p, n, out.data(), cap, &written);
  FUZZ_CHECK(*rc == 0 || *rc == ascommon::kUtf8Invalid || *rc == ascommon::kUtf8OutputTooSmall,
             "a lower-casing answered " + std::to_string(*rc));
  FUZZ_CHECK(written <= cap, "a lower-casing wrote past its capacity");
  return std::string(out.data(), written);
}

// Checks `lower` with all the room it needs, then with room for `small_cap`
// bytes: it stops with -51 only where the write position plus 4 passes the
// room, having written a prefix of the full output. Answers the full output.
std::string CheckLower(LowerFunction lower, const char* p, size_t n, const Decoded& d,
                       size_t small_cap) {
  int32_t rc = 0;
  // Every code point needs 9 bytes at most (a group), so this is room enough.
  const std::string full = RunLower(lower, p, n, 9 * n + 4, &rc);
  FUZZ_CHECK(rc == (d.truncated ? ascommon::kUtf8Invalid : 0),
             "a lower-casing with room enough answered " + std::to_string(rc));
  const std::string part = RunLower(lower, p, n, small_cap, &rc);
  FUZZ_CHECK(full.compare(0, part.size(), part) == 0, "a smaller room gave another text");
  if (rc == ascommon::kUtf8OutputTooSmall) {
    FUZZ_CHECK(part.size() + 4 > small_cap, "-51 with room left");
  } else {
    FUZZ_CHECK(part == full && rc == (d.truncated ? ascommon::kUtf8Invalid : 0),
               "a lower-casing stopped early without saying so");
  }
  return full;
}

void CheckUtf16(const char* p, size_t n, const Decoded& d, bool valid) {
  bool representable = valid;
  std::u16string expected;
  if (valid) {
    for (char32_t cp : d.points) {
      if (cp > 0x10FFFF) {
        representable = false;
        break;
      }
      if (cp >= 0x10000) {
        expected += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        expected += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        expected += static_cast<char16_t>(cp);
      }
    }
  }
  // UTF-16 never needs more units than UTF-8 has bytes.
  std::vector<char16_t> out(n + 1);
  size_t written = 0xDEAD;
  const int32_t rc = ascommon::Utf8ToUtf16Units(p, n, out.data(), n, &written);
  FUZZ_CHECK(rc == (representable ? 0 : ascommon::kUtf8Invalid),
             "Utf8ToUtf16Units answered " + std::to_string(rc));
  FUZZ_CHECK(written <= n, "Utf8ToUtf16Units wrote past its capacity");
  if (representable) {
    FUZZ_CHECK(std::u16string(out.data(), written) == expected,
               "Utf8ToUtf16Units gave other units");
  }
  // One unit less than needed.
  if (representable && !expected.empty()) {
    const int32_t short_rc =
        ascommon::Utf8ToUtf16Units(p, n, out.data(), expected.size() - 1, &written);
    FUZZ_CHECK(short_rc == ascommon::kUtf8OutputTooSmall && written < expected.size() &&
                   std::u16string(out.data(), written) == expected.substr(0, written),
               "Utf8ToUtf16Units with too little room");
  }

  usstring converted;
  const int32_t us_rc = ascommon::Utf8ToUsstring(p, n, &converted);
  FUZZ_CHECK(us_rc == rc, "Utf8ToUsstring and Utf8ToUtf16Units disagree");
  if (representable) {
    FUZZ_CHECK(converted.length() == expected.size() &&
                   std::u16string(converted.data(), converted.length()) == expected,
               "Utf8ToUsstring gave other units");
  }
}

// The sstring lower-casings: the helper's result on success, or the string
// unchanged with the helper's error.
void CheckStringLower(const char* p, size_t n, bool valid, bool regex, const std::string& full,
                      bool truncated) {
  for (bool validate : {false, true}) {
    sstring s;
    FUZZ_CHECK(s.assign(p, n) == 0, "cannot build the string");
    const int32_t rc = regex ? s.UTF8_regex_tolower(validate) : s.UTF8_tolower(validate);
    FUZZ_CHECK(rc == s.error(), "the answer and error() differ");
    const bool refused = (validate && !valid) || truncated;
    if (refused) {
      FUZZ_CHECK(rc == ascommon::kUtf8Invalid, "a refused text answered " + std::to_string(rc));
      FUZZ_CHECK(s.length() == n && memcmp(s.data(), p, n) == 0, "a refused text was changed");
      continue;
    }
    FUZZ_CHECK(rc == 0, "lower-casing a string answered " + std::to_string(rc));
    FUZZ_CHECK(s.length() == full.size() && memcmp(s.data(), full.data(), full.size()) == 0,
               "the string's lower case differs from the helper's");
    FUZZ_CHECK(s.length() < s.size() && s.data()[s.length()] == '\0',
               "the lower-cased string is not terminated within its buffer");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks a small room for the prefix checks; the rest is the
  // text.
  const size_t small_cap = data[0];
  const char* p = reinterpret_cast<const char*>(data + 1);
  const size_t n = size - 1;
  const auto* s = reinterpret_cast<const unsigned char*>(p);

  FUZZ_CHECK(ascommon::Utf8SequenceLength(data[0]) == ExpectedSequenceLength(data[0]),
             "Utf8SequenceLength disagrees with the lead-byte table");
  const bool valid = ascommon::Utf8Validate(p, n);
  FUZZ_CHECK(valid == SlowValidate(s, n), "Utf8Validate disagrees with the lead-byte walk");

  const Decoded d = Decode(p, n);
  // Whole sequences by the lead-byte table are never cut for the decoder.
  FUZZ_CHECK(!valid || !d.truncated, "a valid text decodes with a cut sequence");
  CheckCodePoints(d);

  const std::string lower = CheckLower(ascommon::Utf8ToLower, p, n, d, small_cap);
  FUZZ_CHECK(lower == ExpectedLowerText(d),
             "Utf8ToLower differs from the code points' lower cases");
  const std::string regex_lower = CheckLower(ascommon::Utf8RegexToLower, p, n, d, small_cap);
  FUZZ_CHECK(regex_lower == ExpectedRegexLowerText(p, d),
             "Utf8RegexToLower differs from its rules");

  CheckUtf16(p, n, d, valid);
  CheckStringLower(p, n, valid, false, lower, d.truncated);
  CheckStringLower(p, n, valid, true, regex_lower, d.truncated);
  return 0;
}
