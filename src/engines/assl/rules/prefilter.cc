#include "src/engines/assl/rules/prefilter.h"

#include <ctype.h>
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
  DropJoint();
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
  joint_ = nsFernwick::CreateRegExSet(lib);
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
  // A caseless pattern would make its set decline every text past ASCII.
  const bool caseless = pattern.length() >= 4 && memcmp(pattern.data(), "(?i)", 4) == 0;
  const int32_t id = caseless ? -1 : sets_[second]->Add(pattern.data(), pattern.length());
  if (id < 0) {
    ++refused_;
    AS_LOG(3, __LINE__, "the prefilter does not take [%s]: %s", pattern.c_str(),
           caseless ? "an inline caseless flag" : sets_[second]->ErrorText());
    return false;
  }
  ++taken_;
  match->SetPrefilter(this, id);
  if (joint_ != nullptr) AddJoint(pattern, second, id);
  return true;
}

namespace {

// Whether `p`, made caseless, matches an ASCII text wherever it matches the
// text with A-Z lowered. Taking a letter or a class in both cases only lets
// more through, but for a negated class that holds an upper-case letter and
// not its lower case: the caseless class refuses both. So a negated class
// ("[^" not after a backslash) may hold only lower-case letters, digits,
// punctuation but '[', escaped punctuation, \d \s \w and their negations,
// \n \t \r \f \e \a, and ranges within a-z or 0-9. Conservative.
bool CaselessStandsForLowered(const char* p, size_t n) {
  for (size_t i = 0; i + 1 < n; ++i) {
    if (p[i] == '\\') {
      ++i;
      continue;
    }
    if (p[i] != '[' || p[i + 1] != '^') continue;
    const size_t first = i + 2;
    size_t j = first < n && p[first] == ']' ? first + 1 : first;  // a ']' first is a member
    for (; j < n && p[j] != ']'; ++j) {
      const unsigned char c = static_cast<unsigned char>(p[j]);
      if (c == '\\') {
        if (++j == n || (isalnum(static_cast<unsigned char>(p[j])) && strchr("dswDSWntrfea", p[j]) == nullptr)) {
          return false;
        }
      } else if (c == '-' && j != first && j + 1 < n && p[j + 1] != ']') {
        const unsigned char from = static_cast<unsigned char>(p[j - 1]), to = static_cast<unsigned char>(p[j + 1]);
        if (!(islower(from) && islower(to)) && !(isdigit(from) && isdigit(to))) return false;
      } else if (c == '[' || isupper(c) || c >= 0x80) {
        return false;
      }
    }
    i = j;
  }
  return true;
}

}  // namespace

void Prefilter::AddJoint(const sstring& pattern, bool second, int32_t id) {
  const char* why = second && !CaselessStandsForLowered(pattern.data(), pattern.length())
                        ? "a negated class that may hold an upper-case letter"
                        : nullptr;
  if (why == nullptr) {
    sstring held;
    const bool made = second ? held.assign("(?i)") == 0 && held.append(pattern) == 0 : held.assign(pattern) == 0;
    const int32_t joint_id = made ? joint_->Add(held.data(), held.length()) : -1;
    if (joint_id >= 0 && static_cast<size_t>(joint_id) == joint_ids_.size()) {
      joint_ids_.push_back(static_cast<uint32_t>(id) | (second ? kSecondSet : 0));
      return;
    }
    why = made ? joint_->ErrorText() : "memory problems";
  }
  AS_LOG(3, __LINE__, "the prefilter scans the two texts apart: the joint set does not take [%s]: %s",
         pattern.c_str(), why);
  DropJoint();
}

void Prefilter::DropJoint() {
  nsFernwick::DeleteRegExSet(lib_, joint_);
  joint_ = nullptr;
  joint_ids_.clear();
}

void Prefilter::Compile() {
  for (FernwickRegExSet* set : sets_) {
    if (set != nullptr && set->Compile() != FERNWICK_OK) {
      AS_LOG(0, __LINE__, "WARNING: the prefilter could not be compiled; every pattern will run");
    }
  }
  // With one kind only there is one text to scan anyway. A joint set that
  // failed to compile declines every scan: the texts are then scanned apart.
  if (joint_ != nullptr && (sets_[0]->Count() == 0 || sets_[1]->Count() == 0)) DropJoint();
  if (joint_ != nullptr) joint_->Compile();
  AS_LOG(3, __LINE__, "[ASSL] %d PATTERNS   prefiltered, %d refused", static_cast<int>(taken_),
         static_cast<int>(refused_));
}

namespace {

// Whether `lowered` is `text` with A-Z turned into a-z, eight bytes at a time.
bool IsAsciiLowered(const char* text, const char* lowered, size_t length) {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word, other;
    memcpy(&word, text + i, 8);
    memcpy(&other, lowered + i, 8);
    // High bit of each byte from 'A' up, and of each from past 'Z' up, on
    // the low seven bits; a byte with its own high bit is never a letter.
    const uint64_t low7 = word & ~kHigh;
    const uint64_t upper = (low7 + (0x80 - 'A') * kOnes) & ~(low7 + (0x80 - 'Z' - 1) * kOnes) & ~word & kHigh;
    if ((word | upper >> 2) != other) return false;
  }
  for (; i < length; ++i) {
    if (ascommon::AsciiLower(text[i]) != lowered[i]) return false;
  }
  return true;
}

}  // namespace

bool Prefilter::ScanJointly(CImContextInterface* im) const {
  PrefilterScan& joint = im->joint_scan();
  if (joint.state == PrefilterScan::kNotScanned) {
    const size_t length = im->text_length(false);
    joint.state = PrefilterScan::kUndecided;
    if (im->GetText() == nullptr || im->GetSecondText() == nullptr || im->text_length(true) != length ||
        !IsAsciiLowered(im->GetText(), im->GetSecondText(), length)) {
      return false;
    }
    joint.bits.resize((joint_->Count() + 63) / 64);
    if (joint_->Scan(im->GetText(), length, joint.bits.data()) != 1) return false;
    joint.state = PrefilterScan::kScanned;
  }
  if (joint.state != PrefilterScan::kScanned) return false;
  PrefilterScan* scans[2] = {&im->prefilter_scan(false), &im->prefilter_scan(true)};
  for (int s = 0; s < 2; ++s) {
    scans[s]->bits.assign((sets_[s]->Count() + 63) / 64, 0);
    scans[s]->state = PrefilterScan::kScanned;
  }
  for (size_t w = 0; w < joint.bits.size(); ++w) {
    for (uint64_t bits = joint.bits[w]; bits != 0; bits &= bits - 1) {
      const uint32_t id = joint_ids_[w * 64 + static_cast<size_t>(__builtin_ctzll(bits))];
      const uint32_t own = id & ~kSecondSet;
      scans[(id & kSecondSet) != 0]->bits[own / 64] |= uint64_t{1} << (own % 64);
    }
  }
  return true;
}

const PrefilterScan& Prefilter::Scan(CImContextInterface* im, bool second) const {
  PrefilterScan& scan = im->prefilter_scan(second);
  if (scan.state == PrefilterScan::kNotScanned && (joint_ == nullptr || !ScanJointly(im))) {
    const FernwickRegExSet* set = sets_[second];
    scan.bits.resize((set->Count() + 63) / 64);
    const char* subject = second ? im->GetSecondText() : im->GetText();
    scan.state = set->Scan(subject, im->text_length(second), scan.bits.data()) == 1 ? PrefilterScan::kScanned
                                                                                    : PrefilterScan::kUndecided;
  }
  return scan;
}

}  // namespace nsAssl
