// Fuzzes the prefilter against PCRE2 alone: the sample rules (<build>/sample-data,
// or $TERVO_FUZZ_SAMPLE_DATA) and a few rules whose patterns the prefilter
// refuses or holds without a lookaround, built twice, once with
// TERVO_PREFILTER=0. Every message must give both the same signature
// results, fired rules, variables and verdicts, whether the prefiltered set
// walks every signature or only its plan's.
//
// Input: the message text up to the first zero byte, then the second text;
// without a zero byte the second text is the text lower-cased, as
// `tervo classify` gives it.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/fuzz_support.h"
#include "src/engines/assl/engines.h"
#include "src/engines/assl/execunit.h"
#include "tests/support/sign_walk.h"

namespace {

// Patterns the prefilter refuses or holds without their lookaround, a meta
// rule over two of them, and a negated class the joint scan holds caseless.
constexpr char kExtraRules[] = R"rules(rule zx_look { condition: match("\bmeet(?= me)", IM::Text, REGEX_INSENSITIVE); actions: mark("cat: child", 70); metadata: priority = 5; }
rule zx_back { condition: match("\b(\w+) \1\b", IM::Text, REGEX); actions: mark("cat: teen", 20); metadata: priority = 4; }
rule zx_vtab { condition: match("secret\v", IM::Text, REGEX); actions: mark("cat: adult", 30); metadata: priority = 3; }
metarule zx_meta { condition: zx_look || zx_back; actions: mark("cat: child, teen", 90); metadata: priority = 6; }
rule zx_neg { condition: match("[^a-z\s]{2}\d|x[^_0-9a-f]y", IM::Text, REGEX_INSENSITIVE); actions: mark("cat: teen", 40); metadata: priority = 2; }

)rules";

struct Setup {
  tervo_test::TempDir dir{"tervo-fuzz-prefilter"};
  nsAssl::Engines plain, prefiltered;
  nsAssl::ExecUnit reused;  // the planned walks share it, as the filter's items do
};

Setup* g_setup = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_setup = new Setup;
  const char* sample = getenv("TERVO_FUZZ_SAMPLE_DATA");
  const std::string from = sample != nullptr && *sample != '\0' ? sample : tervo_test::ProgramFolder() + "/../sample-data";
  for (const char* name : {"im_sign.slf", "im_meta.slf"}) {
    std::error_code error;
    std::filesystem::copy_file(from + "/" + name, g_setup->dir.File(name), error);
    FUZZ_CHECK(!error, "cannot copy " + from + "/" + name + " (build the sample data, or set TERVO_FUZZ_SAMPLE_DATA)");
  }
  std::ofstream(g_setup->dir.File("im_zextra.slf")) << kExtraRules;
  for (bool prefilter : {false, true}) {
    FUZZ_CHECK(tervo_test::InitEngines(prefilter ? &g_setup->prefiltered : &g_setup->plain,
                                       tervo_test::ProgramFolder(), g_setup->dir.path(), prefilter),
               "no libfernwick.so, or the rules do not build in " + g_setup->dir.path());
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t zero = input.find('\0');
  const std::string text = input.substr(0, zero);
  const std::string second = zero != std::string::npos ? input.substr(zero + 1) : tervo_test::LoweredText(text);
  const tervo_test::SignWalk plain = tervo_test::RunSignWalk(&g_setup->plain, text, second, false);
  for (bool use_plan : {false, true}) {
    const tervo_test::SignWalk walk = tervo_test::RunSignWalk(&g_setup->prefiltered, text, second, use_plan,
                                                              use_plan ? &g_setup->reused : nullptr);
    const std::string difference = tervo_test::WalkDifference(plain, walk);
    FUZZ_CHECK(difference.empty(), std::string(use_plan ? "planned" : "full") + " walk differs: " + difference);
  }
  return 0;
}
