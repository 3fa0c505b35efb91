#include "common/utf8.h"

#include <string.h>

#include "common/lower_table.h"

namespace ascommon {

namespace {

// Lead byte -> sequence length; 0 marks a byte that cannot start a sequence.
constexpr unsigned char kSequenceLength[256] = {
    // 0x00-0x7F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    // 0x80-0xBF: continuation bytes
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0xC0-0xDF
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    // 0xE0-0xEF
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
    // 0xF0-0xF7, then 0xF8-0xFF
    4, 4, 4, 4, 4, 4, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0};

// The lower-case lookup, built once on first use (thread-safe as a
// function-local static): a direct table for the BMP and, for the code
// points above, hash buckets holding indices into kLowerCasePairs.
class LowerCaseTables {
 public:
  LowerCaseTables() {
    for (uint32_t cp = 0; cp < 0x10000; ++cp) bmp_[cp] = static_cast<char16_t>(cp);
    // Bucket b lists bucket_index_[bucket_start_[b] .. bucket_start_[b + 1]).
    // Supplementary pairs beyond the room are left out of both passes alike,
    // so the ranges always stay within what was filled.
    uint32_t counts[kLowerCaseBucketCount] = {};
    uint32_t kept = 0;
    for (size_t i = 0; i < kLowerCasePairCount; ++i) {
      const LowerCasePair& p = kLowerCasePairs[i];
      if (p.from < 0x10000) {
        bmp_[p.from] = static_cast<char16_t>(p.to);
      } else if (kept < kMaxSupplementary) {
        ++kept;
        ++counts[LowerCaseBucket(p.from)];
      }
    }
    uint32_t total = 0;
    for (uint32_t b = 0; b < kLowerCaseBucketCount; ++b) {
      bucket_start_[b] = total;
      total += counts[b];
    }
    bucket_start_[kLowerCaseBucketCount] = total;
    uint32_t next[kLowerCaseBucketCount];
    memcpy(next, bucket_start_, sizeof(next));
    kept = 0;
    for (size_t i = 0; i < kLowerCasePairCount && kept < kMaxSupplementary; ++i) {
      const LowerCasePair& p = kLowerCasePairs[i];
      if (p.from >= 0x10000) {
        ++kept;
        bucket_index_[next[LowerCaseBucket(p.from)]++] = static_cast<uint16_t>(i);
      }
    }
  }

  char32_t Map(char32_t cp) const {
    if (cp < 0x10000) return bmp_[cp];
    uint32_t b = LowerCaseBucket(cp);
    for (uint32_t k = bucket_start_[b]; k < bucket_start_[b + 1]; ++k) {
      const LowerCasePair& p = kLowerCasePairs[bucket_index_[k]];
      if (p.from == cp) return p.to;
    }
    return cp;
  }

 private:
  // Room for the supplementary pairs; the database has a few hundred. The
  // tests map every pair, so a database outgrowing this shows there.
  static constexpr uint32_t kMaxSupplementary = 4096;

  char16_t bmp_[0x10000];
  uint32_t bucket_start_[kLowerCaseBucketCount + 1];
  uint16_t bucket_index_[kMaxSupplementary];
};

const LowerCaseTables& Tables() {
  static const LowerCaseTables tables;
  return tables;
}

// Letters whose lower case in a regular expression must also match the form
// followed by a combining dot above; each becomes a group of alternatives.
struct SpecialLower {
  char32_t from;
  int count;
  char32_t to[8];
};

constexpr int kSpecialCount = 7;

class SpecialLowerTable {
 public:
  SpecialLowerTable() {
    struct Source {
      char32_t from;
      const char* hex;
    };
    static constexpr Source kSources[kSpecialCount] = {
        {0x0130, "0069 0307"},      {0x0049, "0069 0307"},      {0x004A, "006A 0307"},
        {0x012E, "012F 0307"},      {0x00CC, "0069 0307 0300"}, {0x00CD, "0069 0307 0301"},
        {0x0128, "0069 0307 0303"},
    };
    for (int i = 0; i < kSpecialCount; ++i) {
      SpecialLower& e = entries_[i];
      e.from = kSources[i].from;
      e.count = 0;
      for (const char* h = kSources[i].hex; *h != 0 && e.count < 8;) {
        if (*h == ' ') {
          ++h;
          continue;
        }
        char32_t v = 0;
        for (; *h != 0 && *h != ' '; ++h) v = v * 16 + HexDigit(*h);
        e.to[e.count++] = v;
      }
    }
  }

  const SpecialLower* Find(char32_t cp) const {
    for (const SpecialLower& e : entries_) {
      if (e.from == cp) return &e;
    }
    return nullptr;
  }

 private:
  static char32_t HexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<char32_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<char32_t>(c - 'a' + 10);
    return static_cast<char32_t>(c - 'A' + 10);
  }

  SpecialLower entries_[kSpecialCount];
};

const SpecialLowerTable& Specials() {
  static const SpecialLowerTable table;
  return table;
}

// Writes into the caller's buffer; each write needs the position plus 4 to
// be within the capacity, whatever it writes.
class Output {
 public:
  Output(char* out, size_t cap) : out_(out), cap_(cap) {}

  bool Put(char32_t cp) {
    if (pos_ + 4 > cap_) return false;
    pos_ += Utf8Encode(cp, out_ + pos_);
    return true;
  }
  bool PutByte(char c) {
    if (pos_ + 4 > cap_) return false;
    out_[pos_++] = c;
    return true;
  }
  bool Copy(const char* p, size_t n) {
    if (pos_ + 4 > cap_) return false;
    memcpy(out_ + pos_, p, n);
    pos_ += n;
    return true;
  }
  size_t pos() const { return pos_; }

 private:
  char* out_;
  size_t cap_;
  size_t pos_ = 0;
};

// The length of the well-formed sequence at `s` (`n` bytes left) with its code
// point in `*cp`, or 0 when the lead byte, a continuation byte or the room is
// wrong, or the code point lies beyond U+10FFFF, where UTF-16 ends.
size_t DecodeForUtf16(const unsigned char* s, size_t n, char32_t* cp) {
  size_t len = kSequenceLength[s[0]];
  if (len == 0 || len > n) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 0;
  }
  Utf8Decode(reinterpret_cast<const char*>(s), len, cp);
  return *cp <= 0x10FFFF ? len : 0;
}

// Writes `cp` as one unit or a surrogate pair; answers the units written.
size_t PutUtf16(char32_t cp, char16_t* out) {
  if (cp < 0x10000) {
    out[0] = static_cast<char16_t>(cp);
    return 1;
  }
  char32_t v = cp - 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (v >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
  return 2;
}

}  // namespace

int Utf8SequenceLength(unsigned char lead) { return kSequenceLength[lead]; }

bool Utf8Validate(const char* p, size_t n) {
  if (p == nullptr) return false;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
  size_t i = 0;
  while (i < n) {
    // Runs of ASCII are skipped eight bytes at a time.
    while (n - i >= 8) {
      uint64_t word;
      memcpy(&word, s + i, 8);
      if ((word & 0x8080808080808080ull) != 0) break;
      i += 8;
    }
    if (i == n) break;
    size_t len = kSequenceLength[s[i]];
    if (len == 0 || len > n - i) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

size_t Utf8Decode(const char* p, size_t n, char32_t* cp) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
  if (n == 0) return 0;
  unsigned char b = s[0];
  size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b >= 0xF0 ? 4 : 3;
  if (len > n) return 0;
  switch (len) {
    case 1:
      *cp = b;
      break;
    case 2:
      *cp = (static_cast<char32_t>(b & 0x1F) << 6) | (s[1] & 0x3F);
      break;
    case 3:
      *cp = (static_cast<char32_t>(b & 0x0F) << 12) | (static_cast<char32_t>(s[1] & 0x3F) << 6) |
            (s[2] & 0x3F);
      break;
    default:
      *cp = (static_cast<char32_t>(b & 0x07) << 18) | (static_cast<char32_t>(s[1] & 0x3F) << 12) |
            (static_cast<char32_t>(s[2] & 0x3F) << 6) | (s[3] & 0x3F);
      break;
  }
  return len;
}

size_t Utf8Encode(char32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x40000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

char32_t UnicodeToLower(char32_t cp) { return Tables().Map(cp); }

int32_t Utf8ToLower(const char* in, size_t n, char* out, size_t cap, size_t* written) {
  if (in == nullptr || out == nullptr) return kUtf8NullInput;
  const LowerCaseTables& tables = Tables();
  Output o(out, cap);
  int32_t result = 0;
  for (size_t i = 0; i < n;) {
    unsigned char b = static_cast<unsigned char>(in[i]);
    if (b < 0x80) {
      // ASCII maps to ASCII: one byte in, one byte out, same room rule.
      if (!o.PutByte(static_cast<char>(tables.Map(b)))) {
        result = kUtf8OutputTooSmall;
        break;
      }
      ++i;
      continue;
    }
    char32_t cp = 0;
    size_t len = Utf8Decode(in + i, n - i, &cp);
    if (len == 0) {
      result = kUtf8Invalid;
      break;
    }
    if (!o.Put(tables.Map(cp))) {
      result = kUtf8OutputTooSmall;
      break;
    }
    i += len;
  }
  if (written != nullptr) *written = o.pos();
  return result;
}

int32_t Utf8RegexToLower(const char* in, size_t n, char* out, size_t cap, size_t* written) {
  if (in == nullptr || out == nullptr) return kUtf8NullInput;
  const LowerCaseTables& tables = Tables();
  const SpecialLowerTable& specials = Specials();
  Output o(out, cap);
  bool escaped = false;
  bool in_bracket = false;
  int32_t result = 0;
  for (size_t i = 0; i < n && result == 0;) {
    char32_t cp = 0;
    size_t len = Utf8Decode(in + i, n - i, &cp);
    if (len == 0) {
      result = kUtf8Invalid;
      break;
    }
    bool ok = true;
    if (escaped) {
      ok = o.Copy(in + i, len);
      escaped = false;
    } else if (cp == '\\') {
      ok = o.Put(cp);
      escaped = true;
    } else if (in_bracket) {
      if (cp == ']') in_bracket = false;
      ok = o.Put(tables.Map(cp));
    } else if (cp == '[') {
      in_bracket = true;
      ok = o.Put(cp);
    } else if (const SpecialLower* e = specials.Find(cp)) {
      ok = o.Put('(');
      for (int k = 0; ok && k < e->count; ++k) {
        if (k > 0) ok = o.Put('|');
        if (ok) ok = o.Put(e->to[k]);
      }
      if (ok) ok = o.Put(')');
    } else {
      ok = o.Put(tables.Map(cp));
    }
    if (!ok) result = kUtf8OutputTooSmall;
    i += len;
  }
  if (written != nullptr) *written = o.pos();
  return result;
}

int32_t Utf8ToUtf16Units(const char* in, size_t n, char16_t* out, size_t cap, size_t* written) {
  if (in == nullptr || out == nullptr) return kUtf8NullInput;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(in);
  size_t w = 0;
  int32_t result = 0;
  for (size_t i = 0; i < n;) {
    char32_t cp = 0;
    size_t len = DecodeForUtf16(s + i, n - i, &cp);
    if (len == 0) {
      result = kUtf8Invalid;
      break;
    }
    size_t units = cp >= 0x10000 ? 2 : 1;
    if (units > cap - w) {
      result = kUtf8OutputTooSmall;
      break;
    }
    w += PutUtf16(cp, out + w);
    i += len;
  }
  if (written != nullptr) *written = w;
  return result;
}

std::u16string Utf8ToUtf16(std::string_view in) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(in.data());
  std::u16string out;
  out.reserve(in.size());
  char16_t units[2];
  for (size_t i = 0; i < in.size();) {
    char32_t cp = 0;
    size_t len = DecodeForUtf16(s + i, in.size() - i, &cp);
    if (len == 0) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    out.append(units, PutUtf16(cp, units));
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    // The standard forms: Utf8Encode's three-byte form above U+FFFF is for
    // stored data, not for names handed to the system.
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace ascommon
