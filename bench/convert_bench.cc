// Conversion throughput of CConvert through the Unicode library and through
// the iconv procedures, and the cost of one short conversion (which opens and
// closes a conversion state every time).
#include <benchmark/benchmark.h>

#include <string>

#include "common/convert.h"

namespace {

using ascommon::CConvert;
using ascommon::sstring;
using ascommon::usstring;

// Both libraries are found next to the program by their bare names.
CConvert& Converter(bool unicode) {
  static CConvert with_unicode("", false);
  static CConvert iconv_only("", false);
  static const bool freed = (iconv_only.FreeUnicodeLibrary(), true);
  (void)freed;
  return unicode ? with_unicode : iconv_only;
}

std::string Page(size_t bytes) {
  std::string page =
      "<html><head><meta http-equiv=\"Content-Type\" "
      "content=\"text/html; charset=iso-8859-2\"></head><body>";
  const std::string line = "P\xF8\xEDli\xB9 \xBEluou\xE8k\xFD" " k\xF9\xF2 \xFApel \xEF\xE1" "belsk\xE9 \xF3" "dy. ";
  while (page.size() < bytes) page += line;
  return page + "</body></html>";
}

void BM_HtmlToUTF8(benchmark::State& state) {
  const CConvert& c = Converter(state.range(1) != 0);
  const std::string page = Page(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    sstring html;
    html.assign(page.data(), page.size());
    if (!c.HtmlToUTF8(&html)) state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(html.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_HtmlToUTF8)->ArgsProduct({{1 << 10, 64 << 10}, {1, 0}})->ArgNames({"bytes", "pallisk"});

void BM_ShortToUTF16(benchmark::State& state) {
  const CConvert& c = Converter(state.range(0) != 0);
  sstring word;
  word.assign("\x8Akoda");
  for (auto _ : state) {
    usstring out;
    if (c.ToUTF16("CP1250", word, &out) != 0) state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ShortToUTF16)->Arg(1)->Arg(0)->ArgName("pallisk");

}  // namespace
