// Benchmarks of the string library: UTF-8 lower-casing (through sstring and
// into a caller's buffer), appending short pieces, and hashing.
#include <benchmark/benchmark.h>

#include <string>

#include "common/sstring.h"
#include "common/utf8.h"

namespace {

using ascommon::sstring;

std::string Repeat(const std::string& piece, size_t bytes) {
  std::string out;
  while (out.size() + piece.size() <= bytes) out += piece;
  return out;
}

// About 1 KB of text.
std::string AsciiText() { return Repeat("The Quick Brown Fox Jumps Over The Lazy Dog. ", 1024); }

// About 1 KB of Latin, Greek, Cyrillic, CJK and emoji, upper and lower case.
std::string MixedText() {
  return Repeat(
      "Stra\xC3\x9F" "E \xC3\x80\xC3\x89\xC3\x8E "           // Latin-1
      "\xCE\x91\xCE\x92\xCE\x93 \xCE\xB1\xCE\xB2 "          // Greek
      "\xD0\x9C\xD0\x9E\xD0\xA1\xD0\x9A\xD0\x92\xD0\x90 "  // Cyrillic
      "\xE6\x9D\xB1\xE4\xBA\xAC "                          // CJK
      "\xF0\x9F\x98\x80 ",                                 // emoji
      1024);
}

// The sstring operation: lower-case into a fresh block, with the retries the
// growing room takes. Each round first restores the upper-case text.
void LowerCaseString(benchmark::State& state, const std::string& text, bool regex) {
  sstring source(text.c_str());
  sstring s;
  for (auto _ : state) {
    s = source;
    int32_t r = regex ? s.UTF8_regex_tolower(true) : s.UTF8_tolower(true);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_SStringToLowerAscii(benchmark::State& state) {
  LowerCaseString(state, AsciiText(), false);
}
BENCHMARK(BM_SStringToLowerAscii);

void BM_SStringToLowerMixed(benchmark::State& state) {
  LowerCaseString(state, MixedText(), false);
}
BENCHMARK(BM_SStringToLowerMixed);

void BM_SStringRegexToLowerMixed(benchmark::State& state) {
  LowerCaseString(state, MixedText(), true);
}
BENCHMARK(BM_SStringRegexToLowerMixed);

// The conversion alone, into a buffer with room to spare.
void LowerCaseBuffer(benchmark::State& state, const std::string& text) {
  std::string out(text.size() * 2 + 8, '\0');
  for (auto _ : state) {
    size_t written = 0;
    int32_t r = ascommon::Utf8ToLower(text.data(), text.size(), out.data(), out.size(), &written);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Utf8ToLowerBufferAscii(benchmark::State& state) { LowerCaseBuffer(state, AsciiText()); }
BENCHMARK(BM_Utf8ToLowerBufferAscii);

void BM_Utf8ToLowerBufferMixed(benchmark::State& state) { LowerCaseBuffer(state, MixedText()); }
BENCHMARK(BM_Utf8ToLowerBufferMixed);

// Appends range(0) pieces of 7 bytes to an empty string. Past 23 bytes every
// append takes a new block of the exact size, so the cost grows with the
// square of the count.
void BM_SStringAppendShortPieces(benchmark::State& state) {
  const int64_t pieces = state.range(0);
  for (auto _ : state) {
    sstring s("");
    for (int64_t i = 0; i < pieces; ++i) s.append("piece, ", 7);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * pieces);
}
BENCHMARK(BM_SStringAppendShortPieces)->Arg(3)->Arg(16)->Arg(64)->Arg(256);

void BM_SStringHash(benchmark::State& state) {
  sstring s(Repeat("hash me, ", static_cast<size_t>(state.range(0))).c_str());
  for (auto _ : state) benchmark::DoNotOptimize(s.hash());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.length()));
}
BENCHMARK(BM_SStringHash)->Arg(16)->Arg(1024);

}  // namespace
