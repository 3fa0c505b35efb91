#include "src/engines/assl/execunit.h"

#include "common/asalloc.h"
#include "src/trace/trace.h"

namespace nsAssl {

ExecUnit::~ExecUnit() { ascommon::Delete(context_); }

void ExecUnit::SetContext(ContextInterface* context) {
  if (context != context_) ascommon::Delete(context_);
  context_ = context;
}

const SignatureArray* ExecUnit::GetSignatures() const {
  if (engines_ == nullptr) {
    AS_LOG(0, __LINE__, "invalid reference to engines interface");
    return nullptr;
  }
  if (engines_->assl == nullptr) {
    AS_LOG(0, __LINE__, "invalid reference to ASSL engine");
    return nullptr;
  }
  return &static_cast<CASSLEngine*>(engines_->assl)->GetSignatures();
}

int32_t ExecUnit::ExecSignature(uint64_t index, float* result) {
  if (engines_ == nullptr || engines_->assl == nullptr || context_ == nullptr) {
    AS_LOG(0, __LINE__, "invalid reference to %s interface", context_ == nullptr ? "structs" : "engines");
    return -1;
  }
  return engines_->assl->ExecRule(index, engines_, context_, result);
}

int32_t ExecUnit::GetIntVariable(const sstring& name, int32_t* value) const {
  if (context_ == nullptr) {
    AS_LOG(0, __LINE__, "invalid HCONTEXT");
    return -1;
  }
  return context_->GetIntVariable(name, value);
}

int32_t ExecUnit::GetStringVariable(const sstring& name, sstring* value) const {
  if (context_ == nullptr) {
    AS_LOG(0, __LINE__, "invalid HCONTEXT");
    return -1;
  }
  return context_->GetStringVariable(name, value);
}

}  // namespace nsAssl
