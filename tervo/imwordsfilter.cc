#include "tervo/imwordsfilter.h"

#include "common/asalloc.h"
#include "src/common/shared_locker.h"
#include "tervo/filter_common.h"

namespace nsImModules {

namespace {
const char kPrefix[] = "[IM Words Filter]";
}  // namespace

using ascommon::auto_locker;

CImWordsFilter::CImWordsFilter(const ascommon::sstring& module_name) : CAFilter(module_name) {}

int32_t CImWordsFilter::ApplySessionSettings(uint64_t session) {
  return ApplyAgeSessionSettings(this, session, kPrefix);
}

void* CImWordsFilter::CreateSessionData() { return ascommon::NewNoThrow<ImSessionData>(); }

void CImWordsFilter::DestroySessionData(void* data) {
  ascommon::Delete(static_cast<ImSessionData*>(data));
}

bool CImWordsFilter::IsEnabled(uint64_t session) { return ReadEnabled(this, session, 0); }

void* CImWordsFilter::CreateSharedData() { return ascommon::NewNoThrow<WordsSharedData>(); }

void CImWordsFilter::DestroySharedData(void* data) {
  ascommon::Delete(static_cast<WordsSharedData*>(data));
}

int32_t CImWordsFilter::ApplySharedSettings() {
  return RunSettingsFrame([&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    if (sharedData == nullptr) {
      return as_set_err(-103, "[IM Words Filter] Invalid shared data retreived");
    }
    // The words engine and the loading of imwords.dat are not part of this
    // build yet: say so instead of reporting a load that did not happen.
    return as_set_err(-201, "[IM Words Filter] loading imwords.dat is not available in this build");
  });
}

int32_t CImWordsFilter::ProcessEntity(uint64_t session, ascommon::SItem* item, uint32_t command) {
  return RunEntityFrame(this, [&] {
    if (item == nullptr) {
      AS_RAISE(ASBadPtrException, __LINE__, "[IM Words Filter] Invalid item to process");
    }
    auto_locker lock(&locker, auto_locker::kReadOnly, true);
    const ascommon::sstring* text = nullptr;
    ImSessionData* data = CheckTextItem(this, session, item, command, kPrefix, &text);
    AS_LOG(0, __LINE__, "[IM Words Filter] Processing current text - age category: %d",
           data->ageCategory);
    AS_RAISE(ASException, __LINE__,
             "[IM Words Filter] the words engine is not available in this build");
  });
}

int32_t CImWordsFilter::ProcessCommand() {
  return RunCommandFrame(this, [&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    if (sharedData == nullptr) {
      AS_RAISE(ASBadPtrException, __LINE__, "[IM Words Filter] invalid shared data struct");
    }
  });
}

}  // namespace nsImModules
