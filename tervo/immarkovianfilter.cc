#include "tervo/immarkovianfilter.h"

#include <stdio.h>

#include "common/asalloc.h"
#include "src/common/shared_locker.h"
#include "tervo/filter_common.h"
#include "tervo/tervo_names.h"

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
    auto* data = static_cast<MarkovianSharedData*>(sharedData);
    if (data == nullptr) {
      return as_set_err(-103, "[IM Markovian Filter] Invalid shared data retreived");
    }
    uint32_t size = 0;
    const int32_t located =
        LocateDataFile(ReadStringSetting(this, kSharedDataPathKey, 0), kPrefix,
                       g_strMarkovianDataFile, &data->dataPath, &size);
    if (located != 0) return located;
    // Only a change of size counts as a new file.
    if (data->loaded != 0 && size == data->sizeStamp) return 0;
    // The new model is merged into the loaded one: classes it does not name stay.
    if (data->engine.LoadModel(data->dataPath.c_str()) != 0) {
      return as_set_err(-104, "[IM Markovian Filter] Problems reloading the dictionary");
    }
    data->loaded = 1;
    data->sizeStamp = size;
    return 0;
  });
}

namespace {

// "<name;score>" for every class that fired, in class-name order, the scores
// truncated toward zero.
bool VerdictText(const MarkovianResults& results, ascommon::sstring* text) {
  if (text->assign("", 0) != 0) return false;
  char score[16];
  for (const auto& [name, value] : results.scores) {
    const int n = snprintf(score, sizeof score, ";%d>", static_cast<int>(value));
    if (text->append("<", 1) != 0 || text->append(name) != 0 ||
        text->append(score, static_cast<uint64_t>(n)) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

int32_t CImMarkovianFilter::ProcessEntity(uint64_t session, ascommon::SItem* item,
                                          uint32_t command) {
  return RunEntityFrame(this, [&] {
    if (item == nullptr) {
      AS_RAISE(ASBadPtrException, __LINE__, "[IM Markovian Filter] Invalid item to process");
    }
    auto_locker lock(&locker, auto_locker::kReadOnly, true);
    const ascommon::sstring* text = nullptr;
    ImSessionData* data = CheckTextItem(this, session, item, command, kPrefix, &text);
    AS_LOG(0, __LINE__, "[IM Markovian Filter] Processing current text - age category: %d",
           data->ageCategory);

    MarkovianResults results;
    MarkovianParams params;
    params.factor = data->ageFactor;
    params.allClasses = 1;
    const auto* shared = static_cast<MarkovianSharedData*>(sharedData);
    const int32_t rc = shared->engine.ClassifyText(text->c_str(), &results, &params);
    if (rc != 0) {
      AS_RAISE_CARRYING(ASException, __LINE__, rc,
                        "[IM Markovian Filter] Problems analyzing the item");
    }
    ascommon::sstring verdict;
    if (!VerdictText(results, &verdict)) {
      AS_RAISE(ASMemException, __LINE__, "[IM Markovian Filter] no memory");
    }
    if (verdict.length() == 0) return;
    if (item->io->SetBool(ascommon::IM_MARKOVIAN_FLAG_KEY, true) != 0 ||
        item->io->SetText(ascommon::IM_MARKOVIAN_TEXT_KEY, verdict.c_str()) != 0 ||
        item->io->SetInt32(ascommon::IM_MARKOVIAN_VALUE_KEY, 0) != 0) {
      AS_RAISE(ASMemException, __LINE__, "[IM Markovian Filter] could not write the verdict");
    }
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
