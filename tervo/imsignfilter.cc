#include "tervo/imsignfilter.h"

#include <stdio.h>
#include <string.h>

#include "common/asalloc.h"
#include "common/asfile.h"
#include "src/common/shared_locker.h"
#include "src/engines/assl/execunit.h"
#include "src/engines/assl/imcontextif.h"

// The filter's log and error texts start with these.
#define SIGN_PREFIX "[IM Sign]"

namespace nsImModules {

using ascommon::auto_locker;

// One item's rule-run objects, kept from item to item so that an item does
// not pay for making them.
struct SignItemWork {
  nsAssl::ExecUnit unit;  // over an nsAssl::CImContextInterface
  ascommon::Vector<uint32_t> planned;
};

namespace {

// A spare work of the shared data, or a new one (null when memory runs out);
// given back, forgetting its item, when the lease ends, or freed when every
// slot is full.
class WorkLease {
 public:
  explicit WorkLease(SignSharedData* data) : data_(data) {
    for (auto& slot : data->spareWork) {
      if (slot.load(std::memory_order_relaxed) != nullptr && (work_ = slot.exchange(nullptr)) != nullptr) return;
    }
    ascommon::UniquePtr<SignItemWork> work(ascommon::NewNoThrow<SignItemWork>());
    auto* context = work != nullptr ? ascommon::NewNoThrow<nsAssl::CImContextInterface>() : nullptr;
    if (context == nullptr) return;
    work->unit.SetContext(context);
    work_ = work.release();
  }
  ~WorkLease() {
    if (work_ == nullptr) return;
    work_->unit.GetContext()->Reset();
    for (auto& slot : data_->spareWork) {
      SignItemWork* empty = nullptr;
      if (slot.compare_exchange_strong(empty, work_)) return;
    }
    ascommon::Delete(work_);
  }
  WorkLease(const WorkLease&) = delete;
  WorkLease& operator=(const WorkLease&) = delete;

  SignItemWork* get() const { return work_; }

 private:
  SignSharedData* data_;
  SignItemWork* work_ = nullptr;
};

// Whether `text`, its A-Z lowered, holds `word` (lower case) before its first
// zero byte (sstring::find_nocase would look past it).
bool HoldsLowered(const char* text, const char* word) {
  for (; *text != '\0'; ++text) {
    size_t k = 0;
    while (word[k] != '\0' && ascommon::AsciiLower(text[k]) == word[k]) ++k;
    if (word[k] == '\0') return true;
  }
  return false;
}

}  // namespace

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
  auto* shared = static_cast<SignSharedData*>(data);
  if (shared != nullptr) {
    ascommon::Delete(shared->engines);
    for (auto& slot : shared->spareWork) ascommon::Delete(slot.exchange(nullptr));
  }
  ascommon::Delete(shared);
}

int32_t CImSignFilter::ApplySharedSettings() {
  return RunSettingsFrame([&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    const char* libraries = ReadStringSetting(this, kSharedLibsPathKey, 0);
    if (libraries == nullptr) libraries = ".";
    const char* folder = ReadStringSetting(this, kSharedDataPathKey, 0);
    if (folder == nullptr || *folder == '\0') folder = ".";
    ascommon::sstring path;
    if (path.assign(folder) != 0 || path.append("\\", 1) != 0 || path.append("im_sign.slf", 11) != 0) {
      return as_set_err(-104, SIGN_PREFIX " no memory");
    }
    if (!ascommon::FileExists(path.c_str())) {
      if (settings != nullptr && settings->AllowsCreate(kSharedDataPathKey, 0) != 0) {
        if (FILE* created = ascommon::OpenFile(path.c_str(), "w")) fclose(created);
        return as_set_err(-201, SIGN_PREFIX " no data file im_sign");
      }
      return as_set_err(-201, SIGN_PREFIX " no data file im_sign, not creating");
    }
    auto* data = static_cast<SignSharedData*>(sharedData);
    if (data == nullptr) return as_set_err(-103, SIGN_PREFIX " invalid shared data struct");
    if (data->engines == nullptr) {
      data->engines = ascommon::NewNoThrow<nsAssl::Engines>();
      if (data->engines == nullptr) return as_set_err(-104, SIGN_PREFIX " memory problems");
    }
    const char* loaded = data->libraryPath.c_str();
    if (loaded == nullptr || strcmp(libraries, loaded) != 0) {
      if (data->libraryPath.assign(libraries) != 0) return as_set_err(-104, SIGN_PREFIX " no memory");
      if (data->engines->LoadRegexLibrary(libraries) != 0) {
        AS_RAISE(ASException, 249, SIGN_PREFIX " could not obtain a handle to the Regular Expressions library");
      }
    } else {
      AS_LOG(0, 252, SIGN_PREFIX " Same fernwick lib. Not reloading");
    }
    if (data->engines->SetupCodeHeur() != 0) {
      return as_set_err(-104, SIGN_PREFIX " Error setting up the code heuristics engine");
    }
    if (data->engines->Init(folder, 4, 1) != 0) {
      return as_set_err(-104, SIGN_PREFIX " IM: the ASSL engine failed to initialize properly. Do you have im*.slf files?");
    }
    return 0;
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
    const auto* age = static_cast<const AgeCategory*>(GetSessionData(session));
    if (age == nullptr) AS_RAISE(ASBadPtrException, 47, SIGN_PREFIX " invalid data struct");

    WorkLease work(data);
    if (work.get() == nullptr) AS_RAISE(ASException, 50, SIGN_PREFIX " memory problems");
    nsAssl::ExecUnit* unit = &work.get()->unit;
    nsAssl::ContextInterface* context = unit->GetContext();
    context->SetItem(item);
    nsAssl::CASSLEngine* engine =
        data->engines != nullptr ? static_cast<nsAssl::CASSLEngine*>(data->engines->assl) : nullptr;
    if (engine != nullptr) {
      // Each record is copied in when its rule first runs on the item.
      if (context->UseRuleStates(engine->GetStateInfo()) != 0) {
        AS_RAISE(ASException, 54, SIGN_PREFIX " memory problems");
      }
    }
    unit->SetEngines(data->engines);
    if (command != 0) {
      AS_LOG(0, 153, SIGN_PREFIX " this command is not supported");
      return;
    }
    const nsAssl::SignatureArray* signatures = unit->GetSignatures();
    if (signatures == nullptr) {
      AS_LOG(0, 75, "pExecUnit->GetSignatures() returned NULL");
      return;
    }
    AS_LOG(0, 81, SIGN_PREFIX " obtained %d signatures", static_cast<int>(signatures->GetCount()));
    const ascommon::sstring kCategory("CATEGORY"), kScore("SCORE");
    // When the walk logs nothing it runs only the signatures that may answer
    // non-zero: the others would change nothing but the log.
    const bool logging = 0 <= g_pTrace->MaxLevel();
    ascommon::Vector<uint32_t>& planned = work.get()->planned;
    const bool quiet = !logging && engine != nullptr && engine->plan().Candidates(context, &planned);
    const uint64_t count = quiet ? planned.size() : signatures->GetCount();
    // A hit marks the item when its category names the session's age group.
    const char* const word = *age == kAgeAdult   ? "adult"
                             : *age == kAgeChild ? "child"
                             : *age == kAgeTeen  ? "teen"
                                                 : nullptr;
    int32_t score = 0;  // carried from one hit to the next
    // The item is marked once, after the walk, as the last hit left it.
    bool flagged = false;
    int32_t flagged_score = 0;
    for (uint64_t k = 0; k < count; ++k) {
      const uint64_t i = quiet ? planned[k] : k;
      const nsAssl::CRule::SignatureInfo* record = (*signatures)[i];
      if (record == nullptr) {
        AS_LOG(0, 90, SIGN_PREFIX " index %d in signatures array contains an invalid entry", static_cast<int>(i));
        continue;
      }
      const char* name = logging ? engine->GetRuleName(record->index) : nullptr;
      if (name == nullptr) name = "N/A";
      AS_LOG(0, 98, SIGN_PREFIX " will execute signature %s", name);
      float result = 0.0f;
      if (unit->ExecSignature(record->index, &result) != 0) {
        AS_LOG(0, 104, SIGN_PREFIX " signature %s failed to execute successfully", name);
        continue;
      }
      AS_LOG(0, 108, SIGN_PREFIX " signature %s executed successfully and returned %lf", name,
             static_cast<double>(result));
      if (result == 0.0f) continue;
      const ascommon::sstring* category = context->StringVariable(kCategory);
      if (category == nullptr) continue;
      int32_t hit_score = 0;
      if (context->GetIntVariable(kScore, &hit_score) == 0) score = hit_score;
      if (word != nullptr && HoldsLowered(category->c_str() != nullptr ? category->c_str() : "", word)) {
        flagged = true;
        flagged_score = score;
      }
    }
    if (flagged && (item->io->SetBool(ascommon::IM_SIGN_FLAG_KEY, true) != 0 ||
                    item->io->SetInt32(ascommon::IM_SIGN_SCORE_KEY, flagged_score) != 0)) {
      AS_RAISE(ASException, 140, SIGN_PREFIX " memory problems");
    }
    AS_LOG(0, 145, "[Parental Sign] has finished searching");
  });
}

int32_t CImSignFilter::ProcessCommand() { return as_set_err(0, nullptr); }

}  // namespace nsImModules
