#include "tervo/imsignfilter.h"

#include "common/asalloc.h"
#include "src/common/shared_locker.h"

// The filter's log and error texts start with these.
#define SIGN_PREFIX "[IM Sign]"

namespace nsImModules {

using ascommon::auto_locker;

CImSignFilter::CImSignFilter(const ascommon::sstring& module_name) : CAFilter(module_name) {
  AS_LOG(0, 21, "Constructing IM Signatures Filter with name %s", DisplayName());
}

CImSignFilter::~CImSignFilter() {
  AS_LOG(0, 26, "The IM Signatures Filter with name %s is about to be destructed", DisplayName());
}

int32_t CImSignFilter::ApplySessionSettings(uint64_t session) {
  return RunSettingsFrame([&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    auto* age = static_cast<AgeCategory*>(GetSessionData(session));
    if (age == nullptr) return as_set_err(-103, "[IM Sign Filter] invalid data struct");
    *age = SignAgeFromSetting(ReadStringSetting(this, kUserAgeKey, session), *age);
    return 0;
  });
}

void* CImSignFilter::CreateSessionData() { return ascommon::NewNoThrow<AgeCategory>(kAgeAdult); }

void CImSignFilter::DestroySessionData(void* data) {
  ascommon::Delete(static_cast<AgeCategory*>(data));
}

bool CImSignFilter::IsEnabled(uint64_t session) { return ReadEnabled(this, session, 1); }

void* CImSignFilter::CreateSharedData() { return ascommon::NewNoThrow<SignSharedData>(); }

void CImSignFilter::DestroySharedData(void* data) {
  // The engines arrive with the rule engine; until then they are always null.
  ascommon::Delete(static_cast<SignSharedData*>(data));
}

int32_t CImSignFilter::ApplySharedSettings() {
  return RunSettingsFrame([&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    if (sharedData == nullptr) return as_set_err(-103, SIGN_PREFIX " invalid shared data struct");
    return as_set_err(-201, SIGN_PREFIX " loading the im signatures is not available in this build");
  });
}

int32_t CImSignFilter::ProcessEntity(uint64_t session, ascommon::SItem* item, uint32_t command) {
  return RunEntityFrame(this, [&] {
    // The session map is read under the lock too: sessions come and go under
    // the write lock.
    auto_locker lock(&locker, auto_locker::kReadOnly, true);
    if (!IsSessionFlagSet(session)) return;
    if (item == nullptr) {
      AS_RAISE(ASBadPtrException, 38, SIGN_PREFIX " invalid item received for processing");
    }
    auto* data = static_cast<SignSharedData*>(sharedData);
    if (data == nullptr) AS_RAISE(ASBadPtrException, 44, SIGN_PREFIX " invalid shared data struct");
    if (GetSessionData(session) == nullptr) {
      AS_RAISE(ASBadPtrException, 47, SIGN_PREFIX " invalid data struct");
    }
    if (command != 0) {
      AS_LOG(0, 153, SIGN_PREFIX " this command is not supported");
      return;
    }
    // Until a settings pass has built the engines there are no signatures.
    if (data->engines == nullptr) {
      AS_LOG(0, 75, "pExecUnit->GetSignatures() returned NULL");
      return;
    }
    AS_RAISE(ASException, __LINE__, SIGN_PREFIX " the rule engine is not available in this build");
  });
}

int32_t CImSignFilter::ProcessCommand() { return as_set_err(0, nullptr); }

}  // namespace nsImModules
