#include "tervo/immarkovianfilter.h"

#include "common/asalloc.h"
#include "src/common/shared_locker.h"
#include "tervo/filter_common.h"

namespace nsImModules {

namespace {
const char kPrefix[] = "[IM Markovian Filter]";
}  // namespace

using ascommon::auto_locker;

CImMarkovianFilter::CImMarkovianFilter(const ascommon::sstring& module_name) : CAFilter(module_name) {}

int32_t CImMarkovianFilter::ApplySessionSettings(uint64_t session) {
  return ApplyAgeSessionSettings(this, session, kPrefix);
}

void* CImMarkovianFilter::CreateSessionData() { return ascommon::NewNoThrow<ImSessionData>(); }

void CImMarkovianFilter::DestroySessionData(void* data) {
  ascommon::Delete(static_cast<ImSessionData*>(data));
}

bool CImMarkovianFilter::IsEnabled(uint64_t session) { return ReadEnabled(this, session, 0); }

void* CImMarkovianFilter::CreateSharedData() { return ascommon::NewNoThrow<MarkovianSharedData>(); }

void CImMarkovianFilter::DestroySharedData(void* data) {
  ascommon::Delete(static_cast<MarkovianSharedData*>(data));
}

int32_t CImMarkovianFilter::ApplySharedSettings() {
  return RunSettingsFrame([&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    if (sharedData == nullptr) {
      return as_set_err(-103, "[IM Markovian Filter] Invalid shared data retreived");
    }
    // The Markovian engine and the loading of im_markovian.dat are not part of this
    // build yet: say so instead of reporting a load that did not happen.
    return as_set_err(-201, "[IM Markovian Filter] loading im_markovian.dat is not available in this build");
  });
}

int32_t CImMarkovianFilter::ProcessEntity(uint64_t session, ascommon::SItem* item, uint32_t command) {
  return RunEntityFrame(this, [&] {
    if (item == nullptr) {
      AS_RAISE(ASBadPtrException, __LINE__, "[IM Markovian Filter] Invalid item to process");
    }
    auto_locker lock(&locker, auto_locker::kReadOnly, true);
    const ascommon::sstring* text = nullptr;
    ImSessionData* data = CheckTextItem(this, session, item, command, kPrefix, &text);
    AS_LOG(0, __LINE__, "[IM Markovian Filter] Processing current text - age category: %d",
           data->ageCategory);
    AS_RAISE(ASException, __LINE__,
             "[IM Markovian Filter] the Markovian engine is not available in this build");
  });
}

int32_t CImMarkovianFilter::ProcessCommand() {
  return RunCommandFrame(this, [&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    if (sharedData == nullptr) {
      AS_RAISE(ASBadPtrException, __LINE__, "[IM Markovian Filter] invalid shared data struct");
    }
  });
}

}  // namespace nsImModules
