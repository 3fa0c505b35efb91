#include "tervo/filter_common.h"

#include <stdio.h>
#include <string.h>

#include "common/asfile.h"

#include "common/blackbox.h"
#include "src/common/shared_locker.h"

namespace nsImModules {

const char* ReadStringSetting(CAModule* module, const char16_t* key, uint64_t session) {
  if (module->settings == nullptr) return nullptr;
  return module->settings->GetStringSetting(key, session);
}

bool ReadEnabled(CAModule* module, uint64_t session, int32_t fallback) {
  if (module->settings == nullptr) return false;
  return module->settings->GetIntSetting(kEnabledKey, fallback, session) == 1;
}

bool AppendSeparator(ascommon::sstring* out, const char* folder, bool slash_counts) {
  if (out->assign(folder) != 0) return false;
  const uint64_t n = out->length();
  const char last = n > 0 ? out->c_str()[n - 1] : '\0';
  if (last == '\\' || (slash_counts && last == '/')) return true;
  return out->append("\\", 1) == 0;
}

int32_t LocateDataFile(const char* folder, const char* prefix, const ascommon::sstring& file_name,
                       ascommon::sstring* stored_path, uint32_t* size) {
  if (folder == nullptr || *folder == '\0') folder = ".";
  ascommon::sstring path;
  if (path.assign(folder) != 0 || path.append("\\", 1) != 0 || path.append(file_name) != 0) {
    return as_set_err(-104, "%s no memory", prefix);
  }
  if (!ascommon::FileExists(path.c_str())) {
    if (FILE* created = ascommon::OpenFile(path.c_str(), "w")) fclose(created);
    return as_set_err(-204, "%s No data file. Creating 0", prefix);
  }
  if (ascommon::FileSize(path.c_str()) == 0) {
    return as_set_err(-201, "%s Problems loading the file", prefix);
  }
  if (stored_path->assign(path) != 0) return as_set_err(-104, "%s no memory", prefix);
  *size = ascommon::FileSize(stored_path->c_str());
  return 0;
}

ImSessionData AgeFromSetting(const char* value) {
  AgeCategory age = kAgeAdult;
  if (value != nullptr && strstr(value, "adult") == nullptr) {
    if (strstr(value, "child") != nullptr) {
      age = kAgeChild;
    } else if (strstr(value, "teen") != nullptr) {
      age = kAgeTeen;
    }
  }
  return {ascommon::AgeFactor(age), age};
}

AgeCategory SignAgeFromSetting(const char* value, AgeCategory previous) {
  if (value == nullptr || strstr(value, "adult") != nullptr) return kAgeAdult;
  if (strstr(value, "child") != nullptr) return kAgeChild;
  if (strstr(value, "teen") != nullptr) return kAgeTeen;
  return previous;
}

int32_t ApplyAgeSessionSettings(CAModule* module, uint64_t session, const char* prefix) {
  return RunSettingsFrame([&] {
    ascommon::auto_locker lock(&module->locker, ascommon::auto_locker::kWrite, true);
    auto* data = static_cast<ImSessionData*>(module->GetSessionData(session));
    if (data == nullptr) return as_set_err(-103, "%s invalid data struct", prefix);
    *data = AgeFromSetting(ReadStringSetting(module, kUserAgeKey, session));
    return 0;
  });
}

ImSessionData* CheckTextItem(CAModule* module, uint64_t session, ascommon::SItem* item,
                             uint32_t command, const char* prefix,
                             const ascommon::sstring** text) {
  if (module->sharedData == nullptr) {
    AS_RAISE(ASBadPtrException, __LINE__, "%s invalid shared data struct", prefix);
  }
  auto* data = static_cast<ImSessionData*>(module->GetSessionData(session));
  if (data == nullptr) AS_RAISE(ASBadPtrException, __LINE__, "%s invalid data struct", prefix);
  if (item->io == nullptr) AS_RAISE(ASBadPtrException, __LINE__, "%s invalid IO blackbox", prefix);
  *text = item->input.GetText(ascommon::IM_TEXT_KEY);
  if (*text == nullptr || (*text)->is_null()) {
    AS_RAISE(ASBadPtrException, __LINE__, "%s null parsed text buffers", prefix);
  }
  if (command != 0) AS_RAISE(ASException, __LINE__, "%s Unknown command", prefix);
  return data;
}

}  // namespace nsImModules
