// The character cost tables of a weighted edit distance: what dropping or
// inserting a byte costs (its thin-char cost) and what putting one byte in
// place of another costs (the cost of a pair of look-alike bytes). Costs are
// thousandths of a full edit.
//
// The tables start from fixed defaults and are adjusted by cost files, text
// files of lines such as
//   . x 0.5        thin-char cost of 'x'
//   * 44 0.2       thin-char cost of byte 44
//   ; o 0 0.25     pair cost of 'o' and '0', and of 'O' and '0'
//   : 97 48 0.1    pair cost of bytes 97 and 48, and of 65 and 48
// A line holding "##" is a comment. Loading adds to the tables; nothing is
// reset between files.
//
// The tables are written only by the constructor and LoadCostFile; once
// loaded they may be read from many threads at once.
#ifndef TERVO_SRC_ENGINES_LEVENSHTEIN_WORD_FINDER_H_
#define TERVO_SRC_ENGINES_LEVENSHTEIN_WORD_FINDER_H_

#include <stdint.h>

namespace nsLevenshtein {

// A full edit.
inline constexpr uint32_t kFullCost = 1000;

// One flat object: create it with Create, free it with Destroy.
class CWordFinder {
 public:
  // A word finder with the default tables, allocated in one piece; null when
  // memory runs out.
  static CWordFinder* Create();
  static void Destroy(CWordFinder* finder);

  // Fills the defaults: every cost a full edit, except a byte with itself and
  // an ASCII letter with its other case (0); the fold table maps A-Z to a-z.
  CWordFinder();
  ~CWordFinder();
  CWordFinder(const CWordFinder&) = delete;
  CWordFinder& operator=(const CWordFinder&) = delete;

  uint32_t ThinCost(unsigned char c) const { return thin_[c]; }
  uint32_t PairCost(unsigned char x, unsigned char y) const { return pair_[x][y]; }
  unsigned char Fold(unsigned char c) const { return fold_[c]; }

  void SetThinCost(unsigned char c, uint32_t cost) { thin_[c] = cost; }
  // Sets the cost of (x, y) and of (y, x).
  void SetPairCost(unsigned char x, unsigned char y, uint32_t cost);

 private:
  uint32_t thin_[256];
  uint32_t pair_[256][256];
  unsigned char fold_[256];
};

// Applies every line of the cost file at `path` to `finder`. False when the
// file cannot be opened or `finder` is null; the tables are then unchanged.
bool LoadCostFile(const char* path, CWordFinder* finder);

// Applies one line of a cost file (without its line break or with it).
void ApplyCostLine(const char* line, CWordFinder* finder);

// A cost read from a file, in thousandths: x * 1000 in single precision,
// truncated toward zero. Negative and NaN costs give 0, costs past the
// 32-bit range its maximum.
uint32_t CostFromFraction(float x);

}  // namespace nsLevenshtein

#endif  // TERVO_SRC_ENGINES_LEVENSHTEIN_WORD_FINDER_H_
