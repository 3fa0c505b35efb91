// What the four IM filters share: the session record of the words and
// Markovian filters, reading settings, the age rules, and the frames that turn
// exceptions into recorded status codes.
#ifndef TERVO_TERVO_FILTER_COMMON_H_
#define TERVO_TERVO_FILTER_COMMON_H_

#include <stdint.h>

#include <exception>

#include "platform/morvel/morvel.h"
#include "src/amodule/amodule.h"
#include "src/exceptions/asexception.h"
#include "tervo/tervo_names.h"

namespace nsImModules {

using ascommon::AgeCategory;
using ascommon::kAgeAdult;
using ascommon::kAgeChild;
using ascommon::kAgeTeen;

// The size of the data file a filter last took. The words, blacklist and
// Markovian filters read their file again only when its size is new: other
// than the size they last took, or any size while they have taken none.
class SizeStamp {
 public:
  SizeStamp() = default;
  // As if a file of `size` bytes had been taken already.
  explicit SizeStamp(uint64_t size) : size_(size), taken_(true) {}

  bool IsNew(uint64_t size) const { return !taken_ || size != size_; }
  void Take(uint64_t size) {
    size_ = size;
    taken_ = true;
  }
  bool taken() const { return taken_; }
  uint64_t size() const { return size_; }

 private:
  uint64_t size_ = 0;
  bool taken_ = false;
};

// Session record of the words and Markovian filters.
struct ImSessionData {
  float ageFactor = 0.0f;
  AgeCategory ageCategory = kAgeAdult;
};

// The string setting, or null when it has no value (or no provider is set).
const char* ReadStringSetting(CAModule* module, const char16_t* key, uint64_t session);
// True when "/im/filter/Enabled" of the session is 1; `fallback` is passed to
// the provider as its second argument.
bool ReadEnabled(CAModule* module, uint64_t session, int32_t fallback);

// Stores `folder` in `*out` ending in a path separator: a backslash is
// appended unless the folder already ends in one (or, with `slash_counts`, in
// a slash). `folder` may be `out`'s own text. False when the string cannot be
// built.
bool AppendSeparator(ascommon::sstring* out, const char* folder, bool slash_counts);

// The data-file steps the words and Markovian filters share: the path is the
// data folder (`folder`, the value of "/im/general/ImSharedDataPath"; "." when
// null or empty), a backslash and `file_name`. A missing file is created empty
// and -204 recorded ("<prefix> No data file. Creating 0"); an empty or unreadable one
// records -201 ("<prefix> Problems loading the file"). Otherwise the path is
// stored in `*stored_path`, `*size` gets its size, and the answer is 0. A
// string that cannot be built records -104 ("<prefix> no memory").
int32_t LocateDataFile(const char* folder, const char* prefix, const ascommon::sstring& file_name,
                       ascommon::sstring* stored_path, uint32_t* size);

// The words and Markovian filters' age rule: a missing value or one that
// contains "adult" gives (0.0, adult); else "child" (1.0, child); else "teen"
// (0.8, teen); else (0.0, adult).
ImSessionData AgeFromSetting(const char* value);
// The signature filter's rule: missing gives adult; "adult", "child", "teen"
// in that order; a value with none of them keeps `previous`.
AgeCategory SignAgeFromSetting(const char* value, AgeCategory previous);

// ApplySessionSettings of the words and Markovian filters: under the write
// lock, sets the session's record from "/im/general/UserAge". A missing record
// records -103 with "<prefix> invalid data struct".
int32_t ApplyAgeSessionSettings(CAModule* module, uint64_t session, const char* prefix);

// The checks the words and Markovian filters make on an item before scoring,
// made under the caller's read lock: shared data, session record, the
// input/output box, the text, the command (raising with "<prefix> ..." texts).
// Answers the session record and sets `*text`.
ImSessionData* CheckTextItem(CAModule* module, uint64_t session, ascommon::SItem* item,
                             uint32_t command, const char* prefix,
                             const ascommon::sstring** text);

// Runs a settings operation (ApplySessionSettings, ApplySharedSettings):
// answers what `body` answers; an exception is recorded as -104 with its text.
template <class F>
int32_t RunSettingsFrame(F&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    return as_set_err(-104, "%s", e.what());
  }
}

// Runs ProcessEntity's body: success records and answers 0; any exception
// records -104 with "Module <name> failed to process entity with message: <text>".
template <class F>
int32_t RunEntityFrame(CAModule* module, F&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    return as_set_err(-104, "Module %s failed to process entity with message: %s",
                      module->DisplayName(), e.what());
  }
  return as_set_err(0, nullptr);
}

// As RunEntityFrame, for ProcessCommand.
template <class F>
int32_t RunCommandFrame(CAModule* module, F&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    return as_set_err(-104, "Module %s failed to process command with message: %s",
                      module->DisplayName(), e.what());
  }
  return as_set_err(0, nullptr);
}

}  // namespace nsImModules

#endif  // TERVO_TERVO_FILTER_COMMON_H_
