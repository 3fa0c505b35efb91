// The simple lower-case pairs of the Unicode character database, generated
// into common/lower_table.cc by scripts/gen_lower_table.py.
#ifndef TERVO_COMMON_LOWER_TABLE_H_
#define TERVO_COMMON_LOWER_TABLE_H_

#include <stddef.h>
#include <stdint.h>

namespace ascommon {

struct LowerCasePair {
  char32_t from;
  char32_t to;
};

// Sorted by `from`; only code points whose mapping differs from themselves.
extern const LowerCasePair kLowerCasePairs[];
extern const size_t kLowerCasePairCount;

// Code points from 0x10000 up are looked up through this many hash buckets.
inline constexpr uint32_t kLowerCaseBucketCount = 2048;

inline constexpr uint32_t LowerCaseBucket(char32_t cp) {
  return ((cp >> 11) + (cp >> 22) + cp) & (kLowerCaseBucketCount - 1);
}

}  // namespace ascommon

#endif  // TERVO_COMMON_LOWER_TABLE_H_
