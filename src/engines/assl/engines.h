// The engines a rule may call while it is initialised and run: the rule
// engine itself (through the RuleRunner face that expression conditions
// use), the code heuristics engine, the regular-expression library and the
// KNN engine. Set up before rules are initialised; read-only while they run.
#ifndef TERVO_SRC_ENGINES_ASSL_ENGINES_H_
#define TERVO_SRC_ENGINES_ASSL_ENGINES_H_

#include <stdint.h>

#include "common/sstring.h"
#include "src/engines/fernwick/fernwicklib.h"

namespace nsCodeHeur {
class CCodeHeurEngine;
}

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

class CASSLEngine;

// The engines of one signature set. The operations are defined with the rule
// engine (engines.cc, target assl); rules and heuristics only read the fields.
struct Engines {
  Engines() = default;
  ~Engines();  // deletes the engines and releases the library
  Engines(const Engines&) = delete;
  Engines& operator=(const Engines&) = delete;

  // Creates the rule engine when there is none and initialises it; on a
  // failure deletes it, so that the next call builds a new one. Answers the
  // engine's code (-1 when it cannot be allocated).
  int32_t Init(const char* path, int32_t prefix_index, uint8_t flag);
  // Creates the code heuristics engine once; later calls answer 0.
  int32_t SetupCodeHeur();
  // Releases the library held and loads it from `directory`; -1 on failure.
  int32_t LoadRegexLibrary(const char* directory);
  // The rule engine, or null after logging "invalid handle to ASSL engine".
  CASSLEngine* AsslEngine() const;

  RuleRunner* assl = nullptr;  // the CASSLEngine, through the face rules use
  nsCodeHeur::CCodeHeurEngine* code_heur = nullptr;
  nsFernwick::RegExLib* regex = nullptr;
  ascommon::sstring regex_path;  // where regex was loaded from
  void* knn = nullptr;           // the KNN engine; none in this build yet
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_ENGINES_H_
