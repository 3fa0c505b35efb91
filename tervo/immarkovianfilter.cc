#include "tervo/immarkovianfilter.h"

#include <string.h>

#include <memory>
#include <utility>

#include "common/asalloc.h"
#include "common/blackbox.h"
#include "src/common/shared_locker.h"
#include "tervo/filter_common.h"
#include "tervo/tervo_names.h"

// The filter's log and error texts start with these.
#define MARKOVIAN_PREFIX "[IM Markovian Filter]"

namespace nsImModules {

using ascommon::auto_locker;

CImMarkovianFilter::CImMarkovianFilter(const ascommon::sstring& module_name) : CAFilter(module_name) {}

int32_t CImMarkovianFilter::ApplySessionSettings(uint64_t session) {
  return ApplyAgeSessionSettings(this, session, MARKOVIAN_PREFIX);
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
      return as_set_err(-103, MARKOVIAN_PREFIX " Invalid shared data retreived");
    }
    uint32_t size = 0;
    const int32_t located =
        LocateDataFile(ReadStringSetting(this, kSharedDataPathKey, 0), MARKOVIAN_PREFIX,
                       g_strMarkovianDataFile, &data->dataPath, &size);
    if (located != 0) return located;
    if (!data->stamp.IsNew(size)) return 0;
    // The new model is merged into the loaded one: classes it does not name stay.
    if (data->engine.LoadModel(data->dataPath.c_str()) != 0) {
      return as_set_err(-104, MARKOVIAN_PREFIX " Problems reloading the dictionary");
    }
    data->stamp.Take(size);
    return 0;
  });
}

namespace {

// Writes `value` in decimal at `out`; answers the number of bytes (at most 11).
size_t FormatScore(int value, char* out) {
  char digits[12];
  size_t n = 0;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(value))
                                 : static_cast<uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t written = 0;
  if (value < 0) out[written++] = '-';
  while (n != 0) out[written++] = digits[--n];
  return written;
}

typedef ascommon::UniquePtr<ascommon::sstring> OwnedText;

// "<name;score>" for every class that fired, in class-name order, the scores
// truncated toward zero, built in one block of its exact size. As a stored
// text it ends at its first zero byte (a class name may hold one). Null when
// the memory cannot be had.
OwnedText VerdictText(const nsMarkovian::MarkovianResults& results) {
  char score[16];
  uint64_t total = 0;
  for (const auto& [name, value] : results.scores) {
    total += 3 + name.length() + FormatScore(static_cast<int>(value), score);
  }
  OwnedText text(ascommon::NewNoThrow<ascommon::sstring>());
  if (text == nullptr || text->fill(total + 1, '\0') != 0) return nullptr;
  char* out = text->buffer();
  for (const auto& [name, value] : results.scores) {
    *out++ = '<';
    if (name.length() != 0) memcpy(out, name.data(), name.length());
    out += name.length();
    *out++ = ';';
    out += FormatScore(static_cast<int>(value), out);
    *out++ = '>';
  }
  text->set_length(total);
  if (strlen(text->c_str()) != total) {
    ascommon::sstring cut(text->c_str());
    if (cut.error() != 0) return nullptr;
    *text = std::move(cut);
  }
  return text;
}

}  // namespace

int32_t CImMarkovianFilter::ProcessEntity(uint64_t session, ascommon::SItem* item,
                                          uint32_t command) {
  return RunEntityFrame(this, [&] {
    if (item == nullptr) {
      AS_RAISE(ASBadPtrException, __LINE__, MARKOVIAN_PREFIX " Invalid item to process");
    }
    auto_locker lock(&locker, auto_locker::kReadOnly, true);
    const ascommon::sstring* text = nullptr;
    ImSessionData* data = CheckTextItem(this, session, item, command, MARKOVIAN_PREFIX, &text);
    AS_LOG(0, __LINE__, MARKOVIAN_PREFIX " Processing current text - age category: %d",
           data->ageCategory);

    nsMarkovian::MarkovianResults results;
    nsMarkovian::MarkovianParams params;
    params.factor = data->ageFactor;
    params.allClasses = 1;
    const auto* shared = static_cast<MarkovianSharedData*>(sharedData);
    const int32_t rc = shared->engine.ClassifyText(text->c_str(), &results, &params);
    if (rc != 0) {
      AS_RAISE_CARRYING(ASException, __LINE__, rc,
                        MARKOVIAN_PREFIX " Problems analyzing the item");
    }
    // No class fired: the verdict text would be empty, and nothing is written.
    if (results.scores.empty()) return;
    OwnedText verdict = VerdictText(results);
    if (verdict == nullptr) AS_RAISE(ASMemException, __LINE__, MARKOVIAN_PREFIX " no memory");
    // The box takes the text over as it is, also when storing it fails.
    if (item->io->SetBool(ascommon::IM_MARKOVIAN_FLAG_KEY, true) != 0 ||
        item->io->StoreValue(ascommon::IM_MARKOVIAN_TEXT_KEY, ascommon::CBlackBox::kText,
                             verdict.release()) != 0 ||
        item->io->SetInt32(ascommon::IM_MARKOVIAN_VALUE_KEY, 0) != 0) {
      AS_RAISE(ASMemException, __LINE__, MARKOVIAN_PREFIX " could not write the verdict");
    }
  });
}

int32_t CImMarkovianFilter::ProcessCommand() {
  return RunCommandFrame(this, [&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    if (sharedData == nullptr) {
      AS_RAISE(ASBadPtrException, __LINE__, MARKOVIAN_PREFIX " invalid shared data struct");
    }
  });
}

}  // namespace nsImModules
