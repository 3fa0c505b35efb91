#include "src/engines/levenshtein/word_finder.h"

#include <stdio.h>
#include <string.h>

#include "common/asalloc.h"
#include "common/asfile.h"
#include "common/sstring.h"
#include "src/trace/trace.h"

namespace nsLevenshtein {

namespace {

// Lines are read in pieces of at most this many characters.
constexpr int kMaxLine = 1999;

unsigned char LowByte(int value) { return static_cast<unsigned char>(value & 0xFF); }

}  // namespace

CWordFinder* CWordFinder::Create() { return ascommon::NewNoThrow<CWordFinder>(); }

void CWordFinder::Destroy(CWordFinder* finder) { ascommon::Delete(finder); }

CWordFinder::CWordFinder() {
  AS_LOG(3, __LINE__, ">>> CWordFinder Constructor: allocting a lot of resources...");
  AS_LOG(3, __LINE__, "Populating structures....");
  for (int x = 0; x < 256; ++x) {
    thin_[x] = kFullCost;
    for (int y = 0; y < 256; ++y) pair_[x][y] = x == y ? 0 : kFullCost;
    fold_[x] = static_cast<unsigned char>(ascommon::AsciiLower(static_cast<char>(x)));
  }
  for (int c = 'A'; c <= 'Z'; ++c) SetPairCost(static_cast<unsigned char>(c), fold_[c], 0);
  AS_LOG(3, __LINE__, "<<< CWordFinder Constructor leaving...");
}

CWordFinder::~CWordFinder() {
  AS_LOG(0, __LINE__, ">>> CWordFinder destructor : freeing the structures...");
  AS_LOG(0, __LINE__, "<<< CWordFinder destructor: done!");
}

void CWordFinder::SetPairCost(unsigned char x, unsigned char y, uint32_t cost) {
  pair_[x][y] = cost;
  pair_[y][x] = cost;
}

uint32_t CostFromFraction(float x) {
  const float thousandths = x * 1000.0f;
  if (!(thousandths > 0.0f)) return 0;  // negative, zero or NaN
  if (thousandths >= 4294967296.0f) return UINT32_MAX;
  return static_cast<uint32_t>(thousandths);
}

void ApplyCostLine(const char* line, CWordFinder* finder) {
  if (strstr(line, "##") != nullptr || strlen(line) < 2) return;
  const char* params = line + 2;
  char a = 0, b = 0;
  int d = 0, e = 0;
  float x = 0;
  switch (line[0]) {
    case '.':
      if (sscanf(params, "%c %f", &a, &x) != 2) return;
      finder->SetThinCost(static_cast<unsigned char>(a), CostFromFraction(x));
      AS_LOG(3, __LINE__, "Thin char: [%c], cost %.3f", a, x);
      break;
    case '*':
      if (sscanf(params, "%d %f", &d, &x) != 2) return;
      finder->SetThinCost(LowByte(d), CostFromFraction(x));
      AS_LOG(3, __LINE__, "Special Thin char: [%d], cost %.3f", d, x);
      break;
    case ';':
      if (sscanf(params, "%c %c %f", &a, &b, &x) != 3) return;
      // The second pair is a's capital when a is a small letter; the
      // subtraction wraps within the byte for other values.
      finder->SetPairCost(static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                          CostFromFraction(x));
      finder->SetPairCost(static_cast<unsigned char>(a - 32), static_cast<unsigned char>(b),
                          CostFromFraction(x));
      AS_LOG(3, __LINE__, "Homeomorphic characters:  [%c] and [%c], cost %.3f", a, b, x);
      break;
    case ':':
      if (sscanf(params, "%d %d %f", &d, &e, &x) != 3) return;
      finder->SetPairCost(LowByte(d), LowByte(e), CostFromFraction(x));
      finder->SetPairCost(LowByte(d - 32), LowByte(e), CostFromFraction(x));
      AS_LOG(3, __LINE__, "Special Homeomorphic characters:  [%d] and [%d], cost %.3f", d, e, x);
      break;
    default:
      break;
  }
}

bool LoadCostFile(const char* path, CWordFinder* finder) {
  if (finder == nullptr) return false;
  FILE* file = ascommon::OpenFile(path, "r");
  if (file == nullptr) return false;
  char line[kMaxLine + 1];
  while (fgets(line, sizeof line, file) != nullptr) ApplyCostLine(line, finder);
  fclose(file);
  return true;
}

}  // namespace nsLevenshtein
