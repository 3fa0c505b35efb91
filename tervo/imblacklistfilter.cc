#include "tervo/imblacklistfilter.h"

#include <stdio.h>
#include <string.h>

#include "common/asalloc.h"
#include "common/asfile.h"
#include "src/engines/urldb2/urldb2.h"
#include "src/common/shared_locker.h"
#include "tervo/filter_common.h"
#include "tervo/tervo_names.h"

// The filter's log and error texts start with these.
#define BLACKLIST_PREFIX "[Parental BW List Advanced]"
#define BLACKLIST_IM_PREFIX "[IM BW List Advanced]"
#define BLACKLIST_DATA_PREFIX "[IM Black List Advanced]"

namespace nsImModules {

using ascommon::auto_locker;

CImBlacklistFilter::CImBlacklistFilter(const ascommon::sstring& module_name)
    : CAFilter(module_name) {
  AS_LOG(0, 74, "Constructing Parental BWList Advanced Filter with name %s", DisplayName());
}

CImBlacklistFilter::~CImBlacklistFilter() {
  AS_LOG(0, 79, "The Parental BW List Advanced Filter with name %s is about to be destructed",
         DisplayName());
}

int32_t CImBlacklistFilter::ApplySessionSettings(uint64_t session) {
  return RunSettingsFrame([&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    if (GetSessionData(session) == nullptr) {
      return as_set_err(-103, BLACKLIST_PREFIX " invalid data struct");
    }
    return 0;
  });
}

void* CImBlacklistFilter::CreateSessionData() {
  return ascommon::NewNoThrow<BlacklistSessionData>();
}

void CImBlacklistFilter::DestroySessionData(void* data) {
  ascommon::Delete(static_cast<BlacklistSessionData*>(data));
}

bool CImBlacklistFilter::IsEnabled(uint64_t session) { return ReadEnabled(this, session, 1); }

void* CImBlacklistFilter::CreateSharedData() {
  return ascommon::NewNoThrow<BlacklistSharedData>();
}

void CImBlacklistFilter::DestroySharedData(void* data) {
  auto* shared = static_cast<BlacklistSharedData*>(data);
  if (shared != nullptr) ascommon::Delete(shared->engine);
  ascommon::Delete(shared);
}

int32_t CImBlacklistFilter::ApplySharedSettings() {
  AS_LOG(0, 108, "ApplySharedSettings start");
  return RunSettingsFrame([&] {
    auto_locker lock(&locker, auto_locker::kWrite, true);
    auto* data = static_cast<BlacklistSharedData*>(sharedData);
    if (data == nullptr) {
      return as_set_err(-103, BLACKLIST_PREFIX " invalid pointer to shared data struct");
    }
    const char* temp = ReadStringSetting(this, kGlobalTempPathKey, 0);
    if (temp == nullptr) {
      AS_LOG(0, 120, "Module %s failed to apply shared settings with message: invalid "
             "EmlGlobalTempPath", DisplayName());
      temp = ".";
    }
    const char* setting = ReadStringSetting(this, kSharedDataPathKey, 0);
    ascommon::sstring folder(setting != nullptr && *setting != '\0' ? setting : ".");
    ascommon::sstring path;
    // Only a backslash counts as the folder's end here; a slash gets one more.
    if (!AppendSeparator(&data->tempFolder, temp, true) ||
        !AppendSeparator(&folder, folder.c_str(), false) || path.assign(folder) != 0 ||
        path.append(g_strBlacklistDataFile) != 0) {
      AS_RAISE(ASMemException, __LINE__, BLACKLIST_PREFIX " no memory");
    }
    AS_LOG(0, 141, "FilePath %s", folder.c_str());
    if (!ascommon::FileExists(path.c_str())) {
      AS_LOG(0, 149, "file does not exist %s", path.c_str());
      if (FILE* created = ascommon::OpenFile(path.c_str(), "w")) fclose(created);
    }
    const uint32_t size = ascommon::FileSize(path.c_str());
    AS_LOG(0, 156, "file size of %s is %d (original is %d)", path.c_str(), static_cast<int>(size),
           static_cast<int>(data->stamp.size()));
    if (!data->stamp.IsNew(size)) return 0;
    data->stamp.Take(size);
    if (data->engine != nullptr) {
      AS_LOG(0, 168, "engine not null, cleanDatabase");
      data->engine->Clear();
    } else {
      AS_LOG(0, 163, "engine null, create new");
      data->engine = ascommon::NewNoThrow<CUrlDb2Engine>();
    }
    if (data->engine == nullptr) {
      AS_LOG(0, 173, BLACKLIST_IM_PREFIX " Memory allocation problems with the Im Black list "
             "blacklist.");
      return 0;
    }
    AS_LOG(0, 177, BLACKLIST_IM_PREFIX " will load the Im Black list blacklist.");
    if (data->engine->Load(path.c_str(), data->tempFolder) != 0) {
      AS_LOG(0, 181, BLACKLIST_IM_PREFIX " Problems loading the Im Black list URLs, no "
             "blacklist?");
      ascommon::Delete(data->engine);
      data->engine = nullptr;
    }
    return 0;
  });
}

int32_t CImBlacklistFilter::ProcessEntity(uint64_t session, ascommon::SItem* item,
                                          uint32_t command) {
  return RunEntityFrame(this, [&] {
    // The session map is read under the lock too: sessions come and go under
    // the write lock.
    auto_locker lock(&locker, auto_locker::kReadOnly, true);
    // One look at the session map for an open session with its flag and its
    // data; anything else takes the checks below, with their log lines.
    const nobjSessionInfo* info = initialized ? sessions.Lookup(session) : nullptr;
    const bool session_open = info != nullptr && info->sessionFlag && info->sessionData != nullptr;
    if (!session_open && !IsSessionFlagSet(session)) return;
    if (item == nullptr) {
      AS_RAISE(ASBadPtrException, 226,
               BLACKLIST_PREFIX " invalid item received for processing");
    }
    auto* data = static_cast<BlacklistSharedData*>(sharedData);
    if (data == nullptr) {
      AS_RAISE(ASBadPtrException, 232, BLACKLIST_DATA_PREFIX " invalid shared data struct");
    }
    if (!session_open && GetSessionData(session) == nullptr) {
      AS_RAISE(ASBadPtrException, 235, BLACKLIST_DATA_PREFIX " invalid data struct");
    }
    if (command != 0) {
      AS_LOG(0, 259, BLACKLIST_PREFIX " this command is not supported");
      return;
    }
    const ascommon::sstring* user =
        item->io != nullptr ? item->io->GetText(ascommon::IM_USER_INFO_KEY) : nullptr;
    if (user == nullptr || user->is_null()) {
      AS_RAISE(ASBadPtrException, 244, "invalid pointer to the user info");
    }
    // Without loaded tables (engine null) nothing is listed.
    if (data->engine != nullptr && data->engine->IsListedUrl(user->c_str(), strlen(user->c_str()))) {
      if (item->io->SetBool(ascommon::IM_BLACKLIST_FLAG_KEY, true) != 0) {
        AS_RAISE(ASMemException, __LINE__, BLACKLIST_PREFIX " could not write the verdict");
      }
      AS_LOG(0, 251, "[Im BlackList] %s user", user->c_str());
    }
  });
}

int32_t CImBlacklistFilter::ProcessCommand() { return as_set_err(0, nullptr); }

}  // namespace nsImModules
