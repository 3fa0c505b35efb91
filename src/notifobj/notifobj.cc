#include "src/notifobj/notifobj.h"

#include <exception>

#include "platform/morvel/morvel.h"
#include "src/trace/trace.h"

CNotifiableObject::CNotifiableObject() { sessions.ReHash(64); }

CNotifiableObject::~CNotifiableObject() = default;

void* CNotifiableObject::GetSessionData(uint64_t session) {
  const nobjSessionInfo* info = sessions.Lookup(session);
  if (info == nullptr || info->sessionData == nullptr) {
    AS_LOG(1, 196, "invalid session or session not initialized for ID (%d)",
           static_cast<int>(session));
    return nullptr;
  }
  return info->sessionData;
}

bool CNotifiableObject::IsSessionFlagSet(uint64_t session) {
  if (!initialized) return false;
  const nobjSessionInfo* info = sessions.Lookup(session);
  if (info == nullptr) {
    AS_LOG(1, 233, "invalid session ID (%d)", static_cast<int>(session));
    return false;
  }
  return info->sessionFlag;
}

// No exception leaves: a locker marked deleted refuses the write lock, and
// that is recorded as -104 with its text.
void CNotifiableObject::ReleaseSession(uint64_t session) try {
  // Items of the session may be passing through on other threads, using its
  // data under the read lock: the write lock waits for them before the data
  // goes.
  ascommon::auto_locker lock(&locker, ascommon::auto_locker::kWrite, true);
  const nobjSessionInfo* info = sessions.Lookup(session);
  if (info == nullptr) {
    as_set_err(-104, "Invalid session ID: %d", static_cast<int>(session));
    return;
  }
  if (info->sessionData == nullptr) {
    as_set_err(-104, "Session ID not defined! [%d]. Cannot release", static_cast<int>(session));
    return;
  }
  DestroySessionData(info->sessionData);
  sessions.Remove(session);
  // The session's error state ends with it.
  as_get_err()->Current(0)->Clear();
} catch (const std::exception& e) {
  as_set_err(-104, "%s", e.what());
}

int32_t CNotifiableObject::ReleaseAllAndShutdown() {
  while (sessions.GetCount() > 0) {
    auto first = sessions.begin();
    const uint64_t id = first->key;
    if (first->value.sessionData == nullptr) {
      // Never initialised: nothing to destroy, and ReleaseSession refuses it.
      sessions.Remove(id);
      continue;
    }
    ReleaseSession(id);
    // Still there: the locker refused (recorded by ReleaseSession).
    if (sessions.Lookup(id) != nullptr) break;
  }
  try {
    locker.MarkDeleted();
    DestroySharedData(sharedData);
    sharedData = nullptr;
    locker.ResetDeleteFlag();
  } catch (const std::exception& e) {
    AS_LOG(0, __LINE__, "shutdown of the shared data failed: %s", e.what());
  }
  return 0;
}

int32_t CNotifiableObject::PrepareSharedData() {
  initialized = true;
  sharedData = CreateSharedData();
  if (sharedData == nullptr) {
    return as_set_err(-102, "Memory error while trying to allocate a new Shared data structure");
  }
  return 0;
}
