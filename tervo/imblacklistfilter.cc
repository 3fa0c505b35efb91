#include "tervo/imblacklistfilter.h"

#include "common/asalloc.h"
#include "src/common/shared_locker.h"
#include "tervo/filter_common.h"

namespace nsImModules {

using ascommon::auto_locker;

CImBlacklistFilter::CImBlacklistFilter(const ascommon::sstring& module_name)
    : CAFilter(module_name) {
  AS_LOG(0, 74, "Constructing Parental BWList Advanced Filter with name %s", DisplayName());
}

CImBlacklistFilter::~CImBlacklistFilter() {
  AS_LOG(0, 79, "The Parental BW List Advanced Filter with name %s is about to be destructed",
         DisplayName());
}

int32_t CImBlacklistFilter::ApplySessionSettings(uint64_t session) {
  return RunSettingsFrame([&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    if (GetSessionData(session) == nullptr) {
      return as_set_err(-103, "[Parental BW List Advanced] invalid data struct");
    }
    return 0;
  });
}

void* CImBlacklistFilter::CreateSessionData() {
  return ascommon::NewNoThrow<BlacklistSessionData>();
}

void CImBlacklistFilter::DestroySessionData(void* data) {
  ascommon::Delete(static_cast<BlacklistSessionData*>(data));
}

bool CImBlacklistFilter::IsEnabled(uint64_t session) { return ReadEnabled(this, session, 1); }

void* CImBlacklistFilter::CreateSharedData() {
  return ascommon::NewNoThrow<BlacklistSharedData>();
}

void CImBlacklistFilter::DestroySharedData(void* data) {
  // The engine arrives with the digest tables; until then it is always null.
  ascommon::Delete(static_cast<BlacklistSharedData*>(data));
}

int32_t CImBlacklistFilter::ApplySharedSettings() {
  AS_LOG(0, 108, "ApplySharedSettings start");
  return RunSettingsFrame([&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    if (sharedData == nullptr) {
      return as_set_err(-103, "[Parental BW List Advanced] invalid pointer to shared data struct");
    }
    return as_set_err(
        -201, "[Parental BW List Advanced] loading imblacklist.dat is not available in this build");
  });
}

int32_t CImBlacklistFilter::ProcessEntity(uint64_t session, ascommon::SItem* item,
                                          uint32_t command) {
  return RunEntityFrame(this, [&] {
    if (!IsSessionFlagSet(session)) return;
    if (item == nullptr) {
      AS_RAISE(ASBadPtrException, 226,
               "[Parental BW List Advanced] invalid item received for processing");
    }
    auto_locker lock(&locker, auto_locker::kReadOnly, true);
    auto* data = static_cast<BlacklistSharedData*>(sharedData);
    if (data == nullptr) {
      AS_RAISE(ASBadPtrException, 232, "[IM Black List Advanced] invalid shared data struct");
    }
    if (GetSessionData(session) == nullptr) {
      AS_RAISE(ASBadPtrException, 235, "[IM Black List Advanced] invalid data struct");
    }
    if (command != 0) {
      AS_LOG(0, 259, "[Parental BW List Advanced] this command is not supported");
      return;
    }
    const ascommon::sstring* user =
        item->io != nullptr ? item->io->GetText(ascommon::IM_USER_INFO_KEY) : nullptr;
    if (user == nullptr || user->is_null()) {
      AS_RAISE(ASBadPtrException, 244, "invalid pointer to the user info");
    }
    // Without loaded tables (engine null) nothing is listed.
    if (data->engine != nullptr) {
      AS_RAISE(ASException, __LINE__,
               "[Parental BW List Advanced] the digest tables are not available in this build");
    }
  });
}

int32_t CImBlacklistFilter::ProcessCommand() { return as_set_err(0, nullptr); }

}  // namespace nsImModules
