#include "src/engines/assl/asslengine.h"

#include <string.h>

#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsAssl {

const char* SignatureSetPrefix(int32_t index) {
  static const char* const kPrefixes[] = {"as", "ph", "pc", "cf", "im", "fr", "tr", "op"};
  return index >= 0 && index < 8 ? kPrefixes[index] : nullptr;
}

CASSLEngine::CASSLEngine() { AS_LOG(0, __LINE__, "constructing AntiSpam Scripting Language Engine"); }

CASSLEngine::~CASSLEngine() {
  Release();
  AS_LOG(0, __LINE__, "destructing AntiSpam Scripting Language Engine");
}

int32_t CASSLEngine::Init(Engines* engines, const char* path, int32_t prefix_index, uint8_t flag) {
  flag_ = flag;
  if (InitIncSlf(engines, path, prefix_index) == 0) return 0;
  AS_LOG(0, __LINE__, "InitIncSlf failed - trying InitFull");
  const int32_t rc = InitFull(engines, path, prefix_index);
  AS_LOG(0, __LINE__, "InitFull returned %d", rc);
  return rc;
}

int32_t CASSLEngine::Release() {
  prefilter_.Clear();
  index_.Clear();
  rules_.Clear();
  free_.SetSize(0, false);
  return 0;
}

bool CASSLEngine::BuildPath(const char* path, const char* name, sstring* out) {
  const size_t length = strlen(path);
  if (out->assign(path) != 0 || ((length == 0 || path[length - 1] != '\\') && out->append("\\", 1) != 0) ||
      out->append(name, strlen(name)) != 0) {
    AS_LOG(0, __LINE__, "problems concatenating strings");
    return false;
  }
  return true;
}

int32_t CASSLEngine::GetRuleIndex(const sstring& name, uint64_t* index) {
  if (!rules_.IndexOf(ascommon::String(name.c_str()), index)) {
    AS_LOG(0, __LINE__, "no index for rule %s", name.c_str());
    return -1;
  }
  return 0;
}

CRule* CASSLEngine::Slot(uint64_t index, const char* caller) const {
  const uint64_t count = rules_.RuleCount();
  if (index >= count) {
    AS_LOG(0, __LINE__, "%sindex %d is out of the bounds of Rules [0 -> %d]", caller,
           static_cast<int>(index), static_cast<int>(count));
    return nullptr;
  }
  CRule* rule = rules_.Rule(index);
  if (rule == nullptr) AS_LOG(0, __LINE__, "%srule at index %d does not exist", caller, static_cast<int>(index));
  return rule;
}

int32_t CASSLEngine::InitRule(uint64_t index, Engines* engines) {
  CRule* rule = Slot(index, "InitRule: ");
  if (rule == nullptr) return -1;
  try {
    rule->Init(engines);
  } catch (const ASException&) {
    return -1;
  }
  return 0;
}

int32_t CASSLEngine::ExecRule(uint64_t index, Engines* engines, ContextInterface* context,
                              float* result) {
  CRule* rule = Slot(index, "");
  if (rule == nullptr) return -1;
  try {
    *result = rule->Exec(engines, context);
  } catch (const ASException&) {
    return -1;
  }
  return 0;
}

const char* CASSLEngine::GetRuleName(uint64_t index) const {
  const CRule* rule = Slot(index, "");
  return rule != nullptr ? rule->name().c_str() : nullptr;
}

int32_t CASSLEngine::GetFiredNames(Engines* engines, ContextInterface* context, bool with_actions,
                                   sstring* names) const {
  if (engines == nullptr || context == nullptr) {
    AS_LOG(0, __LINE__, "invalid handles (hEngines: %p hContext: %p)", static_cast<void*>(engines),
           static_cast<void*>(context));
    return -1;
  }
  names->clear();
  for (uint64_t fired : context->fired_rules()) {
    const CRule* rule = fired < rules_.RuleCount() ? rules_.Rule(fired) : nullptr;
    if (rule == nullptr || !rule->is_signature() || (with_actions && rule->action_count() == 0)) {
      continue;
    }
    if ((names->length() != 0 && names->append("; ", 2) != 0) || names->append(rule->name()) != 0) return -1;
  }
  return 0;
}

}  // namespace nsAssl
