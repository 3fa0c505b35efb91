// The engines a rule may call while it is initialised and run: the rule
// engine itself (through the RuleRunner face that expression conditions
// use), the code heuristics engine, the regular-expression library and the
// KNN engine. Set up before rules are initialised; read-only while they run.
#ifndef TERVO_SRC_ENGINES_ASSL_ENGINES_H_
#define TERVO_SRC_ENGINES_ASSL_ENGINES_H_

#include <stdint.h>

#include "common/sstring.h"
#include "src/engines/fernwick/fernwicklib.h"

namespace nsAssl {

class ContextInterface;
struct Engines;

// What an expression condition needs of the rule engine: a rule's index by
// name, and initialising and executing a rule by index. Each answers 0, or
// non-zero after logging why.
class RuleRunner {
 public:
  virtual ~RuleRunner() = default;
  virtual int32_t GetRuleIndex(const ascommon::sstring& name, uint64_t* index) = 0;
  virtual int32_t InitRule(uint64_t index, Engines* engines) = 0;
  virtual int32_t ExecRule(uint64_t index, Engines* engines, ContextInterface* context,
                           float* result) = 0;
};

struct Engines {
  RuleRunner* assl = nullptr;
  void* code_heur = nullptr;  // the code heuristics engine; none in this build yet
  nsFernwick::RegExLib* regex = nullptr;
  void* knn = nullptr;        // the KNN engine; none in this build yet
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_ENGINES_H_
