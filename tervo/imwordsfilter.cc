#include "tervo/imwordsfilter.h"

#include "common/asalloc.h"
#include "src/common/shared_locker.h"
#include "tervo/filter_common.h"
#include "tervo/tervo_names.h"

// The filter's log and error texts start with these.
#define WORDS_PREFIX "[IM Words Filter]"

namespace nsImModules {

using ascommon::auto_locker;

CImWordsFilter::CImWordsFilter(const ascommon::sstring& module_name) : CAFilter(module_name) {}

int32_t CImWordsFilter::ApplySessionSettings(uint64_t session) {
  return ApplyAgeSessionSettings(this, session, WORDS_PREFIX);
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
    auto* data = static_cast<WordsSharedData*>(sharedData);
    if (data == nullptr) return as_set_err(-103, WORDS_PREFIX " Invalid shared data retreived");

    // The data folder is read first, then the temporary folder.
    const char* folder = ReadStringSetting(this, kSharedDataPathKey, 0);
    const char* temp = ReadStringSetting(this, kGlobalTempPathKey, 0);
    if (temp == nullptr) {
      AS_LOG(0, __LINE__, "Module %s failed to apply shared settings with message: invalid "
             "EmlGlobalTempPath", DisplayName());
      temp = ".";
    }
    if (!AppendSeparator(&data->tempFolder, temp, true)) {
      return as_set_err(-104, WORDS_PREFIX " no memory");
    }
    uint32_t size = 0;
    const int32_t located =
        LocateDataFile(folder, WORDS_PREFIX, g_strWordsDataFile, &data->dataPath, &size);
    if (located != 0) return located;
    if (!data->stamp.IsNew(size)) return 0;

    data->engine.ClearCategories();
    if (data->engine.LoadIMCategories(data->dataPath.c_str(), data->tempFolder) != 0) {
      return as_set_err(-104, WORDS_PREFIX " Problems reloading the dictionary");
    }
    data->stamp.Take(size);
    return 0;
  });
}

int32_t CImWordsFilter::ProcessEntity(uint64_t session, ascommon::SItem* item, uint32_t command) {
  return RunEntityFrame(this, [&] {
    if (item == nullptr) {
      AS_RAISE(ASBadPtrException, __LINE__, WORDS_PREFIX " Invalid item to process");
    }
    auto_locker lock(&locker, auto_locker::kReadOnly, true);
    const ascommon::sstring* text = nullptr;
    ImSessionData* data = CheckTextItem(this, session, item, command, WORDS_PREFIX, &text);
    AS_LOG(0, __LINE__, WORDS_PREFIX " Processing current text - age category: %d",
           data->ageCategory);

    const char* const texts[1] = {text->c_str()};
    int32_t score = -1;
    const auto* shared = static_cast<WordsSharedData*>(sharedData);
    int32_t rc = shared->engine.ScoreIMTexts(texts, 1, data->ageCategory, &score, nullptr, nullptr,
                                             nullptr, -1);
    if (rc != 0) {
      AS_RAISE_CARRYING(ASException, __LINE__, rc, WORDS_PREFIX " Problems analyzing the item");
    }
    if (item->io->SetInt32(ascommon::IM_WORDS_VERDICT_KEY, score) != 0) {
      AS_RAISE(ASMemException, __LINE__, WORDS_PREFIX " could not write the verdict");
    }
  });
}

int32_t CImWordsFilter::ProcessCommand() {
  return RunCommandFrame(this, [&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    if (sharedData == nullptr) {
      AS_RAISE(ASBadPtrException, __LINE__, WORDS_PREFIX " invalid shared data struct");
    }
  });
}

}  // namespace nsImModules
