// The signature filter's walk (CImSignFilter::ProcessEntity) over one item,
// run outside the plug-in and kept as a value, so that two engines, or two
// ways of walking one engine, can be compared result by result.
#ifndef TERVO_TESTS_SUPPORT_SIGN_WALK_H_
#define TERVO_TESTS_SUPPORT_SIGN_WALK_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "src/engines/assl/engines.h"

namespace nsAssl {
class ExecUnit;
}

namespace tervo_test {

// What one walk gave. The ages are child, teen, adult (the filter's order).
struct SignWalk {
  bool planned = false;         // the plan chose the signatures run
  size_t ran = 0;               // signatures run
  std::vector<float> results;   // per walk position; 0 for a signature not run
  std::string fired;            // GetFiredNames without and with `with_actions`
  std::string fired_with_actions;
  // Per non-zero result: "<position> <CATEGORY> <SCORE>", "-" for a
  // variable the context does not hold.
  std::vector<std::string> hits;
  bool flag[3] = {false, false, false};  // what the filter writes per age
  int32_t score[3] = {0, 0, 0};          // written with the flag; 0 when not
};

// Sets up `engines` over the rules in `folder`, with libfernwick from
// `library_folder` and the prefilter switched on or (TERVO_PREFILTER=0) off;
// false when the library does not load or the rules do not build.
bool InitEngines(nsAssl::Engines* engines, const std::string& library_folder, const std::string& folder,
                 bool prefilter);

// `text` lower-cased as the host gives an item's second text; `text` itself
// when it cannot be.
std::string LoweredText(const std::string& text);

// Runs the signatures of the rule engine in `engines` (engines->assl, set
// up) on an IM item of `text` and `second` as the filter does: every one in
// walk order, or with `use_plan` only those plan().Candidates gives when it
// answers true. Texts end at their first zero byte, as the filter reads them.
// With `reused` the walk runs on that unit's context (made on first use),
// reset first, as the filter reuses its units from item to item; else on a
// fresh one.
SignWalk RunSignWalk(nsAssl::Engines* engines, const std::string& text, const std::string& second,
                     bool use_plan, nsAssl::ExecUnit* reused = nullptr);

// The first way `a` and `b` differ (everything but `planned`), in words;
// "" when they agree.
std::string WalkDifference(const SignWalk& a, const SignWalk& b);

}  // namespace tervo_test

#endif  // TERVO_TESTS_SUPPORT_SIGN_WALK_H_
