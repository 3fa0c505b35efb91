#include "src/engines/assl/rules/prefilter.h"

#include <stdlib.h>
#include <string.h>

#include "src/engines/assl/rules/items.h"
#include "src/trace/trace.h"

namespace nsAssl {

void Prefilter::Clear() {
  for (FernwickRegExSet*& set : sets_) {
    nsFernwick::DeleteRegExSet(lib_, set);
    set = nullptr;
  }
  lib_ = nullptr;
  taken_ = refused_ = 0;
}

void Prefilter::Begin(nsFernwick::RegExLib* lib) {
  Clear();
  const char* setting = getenv("TERVO_PREFILTER");
  if (setting != nullptr && strcmp(setting, "0") == 0) {
    AS_LOG(3, __LINE__, "the prefilter is switched off by TERVO_PREFILTER=0");
    return;
  }
  lib_ = lib;
  sets_[0] = nsFernwick::CreateRegExSet(lib);
  sets_[1] = nsFernwick::CreateRegExSet(lib);
  if (sets_[0] == nullptr || sets_[1] == nullptr) {
    AS_LOG(3, __LINE__, "no prefilter: the regex library has no pattern sets");
    Clear();
  }
}

bool Prefilter::Add(MatchCondition* match) {
  match->ClearPrefilter();
  if (sets_[0] == nullptr || match->where != kImText ||
      (match->how != kRegex && match->how != kRegexInsensitive) || !match->has_regex()) {
    return false;
  }
  const bool second = match->how == kRegexInsensitive;
  sstring pattern;
  if (match->Pattern(&pattern) != 0) return false;
  const int32_t id = sets_[second]->Add(pattern.data(), pattern.length());
  if (id < 0) {
    ++refused_;
    AS_LOG(3, __LINE__, "the prefilter does not take [%s]: %s", pattern.c_str(), sets_[second]->ErrorText());
    return false;
  }
  ++taken_;
  match->SetPrefilter(this, id);
  return true;
}

void Prefilter::Compile() {
  for (FernwickRegExSet* set : sets_) {
    if (set != nullptr && set->Compile() != FERNWICK_OK) {
      AS_LOG(0, __LINE__, "WARNING: the prefilter could not be compiled; every pattern will run");
    }
  }
  AS_LOG(3, __LINE__, "[ASSL] %d PATTERNS   prefiltered, %d refused", static_cast<int>(taken_),
         static_cast<int>(refused_));
}

const PrefilterScan& Prefilter::Scan(CImContextInterface* im, bool second) const {
  PrefilterScan& scan = im->prefilter_scan(second);
  if (scan.state == PrefilterScan::kNotScanned) {
    const FernwickRegExSet* set = sets_[second];
    scan.bits.resize((set->Count() + 63) / 64);
    const char* subject = second ? im->GetSecondText() : im->GetText();
    scan.state = set->Scan(subject, im->text_length(second), scan.bits.data()) == 1 ? PrefilterScan::kScanned
                                                                                    : PrefilterScan::kUndecided;
  }
  return scan;
}

}  // namespace nsAssl
