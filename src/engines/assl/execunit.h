// ExecUnit: the engines bound to one item's context for the time of that
// item. The unit owns the context and deletes it with itself.
//
// A unit belongs to the one thread processing its item.
#ifndef TERVO_SRC_ENGINES_ASSL_EXECUNIT_H_
#define TERVO_SRC_ENGINES_ASSL_EXECUNIT_H_

#include <stdint.h>

#include "src/engines/assl/asslengine.h"

namespace nsAssl {

class ExecUnit {
 public:
  ExecUnit() = default;
  ~ExecUnit();
  ExecUnit(const ExecUnit&) = delete;
  ExecUnit& operator=(const ExecUnit&) = delete;

  void SetContext(ContextInterface* context);  // takes it
  void SetEngines(Engines* engines) { engines_ = engines; }
  Engines* GetEngines() const { return engines_; }
  ContextInterface* GetContext() const { return context_; }

  // The rule engine's signatures; null after a log line when the unit has no
  // engines or they have no rule engine.
  const SignatureArray* GetSignatures() const;
  // Runs the rule at `index` on the unit's context: 0, or -1.
  int32_t ExecSignature(uint64_t index, float* result);
  // A variable of the context: 0, or -1 (no context, or no such variable).
  int32_t GetIntVariable(const sstring& name, int32_t* value) const;
  int32_t GetStringVariable(const sstring& name, sstring* value) const;

 private:
  Engines* engines_ = nullptr;
  ContextInterface* context_ = nullptr;
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_EXECUNIT_H_
