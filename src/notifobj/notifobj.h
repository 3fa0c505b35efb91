// CNotifiableObject: the root of every module the host drives. It holds the
// module's open sessions, its shared data and the locker that guards both.
// The host reads and writes the fields directly, so they are public and keep
// their order.
#ifndef TERVO_SRC_NOTIFOBJ_NOTIFOBJ_H_
#define TERVO_SRC_NOTIFOBJ_NOTIFOBJ_H_

#include <stdint.h>

#include "src/common/array.h"
#include "src/common/shared_locker.h"

// One open session: the filter's session data (null: never initialised) and
// the flag the host sets (the blacklist and signature filters process items
// only when it is true).
struct nobjSessionInfo {
  void* sessionData;
  bool sessionFlag;
};

class CNotifiableObject {
 public:
  // An empty session map of 64 buckets and a free locker.
  CNotifiableObject();
  // Destroys the locker and the session map; session data left in the map is
  // not destroyed (ReleaseAllAndShutdown does that).
  virtual ~CNotifiableObject();

  // Reads the session's settings into its session data; 0 on success.
  virtual int32_t ApplySessionSettings(uint64_t session) = 0;
  // A fresh session data object of the filter's type, or null.
  virtual void* CreateSessionData() = 0;
  // Frees an object from CreateSessionData; null is ignored.
  virtual void DestroySessionData(void* data) = 0;
  // True exactly when "/im/filter/Enabled" of the session is 1.
  virtual bool IsEnabled(uint64_t session) = 0;
  // The filter's empty shared data structure, or null.
  virtual void* CreateSharedData() = 0;
  // Frees an object from CreateSharedData; null is ignored.
  virtual void DestroySharedData(void* data) = 0;
  // Reads the global settings and loads the filter's data; 0 on success.
  virtual int32_t ApplySharedSettings() = 0;

  // The session's data, or null (logged at level 1) when the id is unknown or
  // its data was never made.
  void* GetSessionData(uint64_t session);
  // False when the module is not initialised; else the session's flag (false,
  // logged at level 1, for an unknown id).
  bool IsSessionFlagSet(uint64_t session);
  // Under the write lock (so after the items passing through have left),
  // destroys the session's data and forgets the session. An unknown id, or one
  // whose data was never made, records -104 and changes nothing; so does a
  // locker marked deleted (-104 with the locker's text). Never raises.
  void ReleaseSession(uint64_t session);
  // Releases every session, destroys the shared data under a deleted locker,
  // and resets the locker. Always 0.
  int32_t ReleaseAllAndShutdown();
  // Sets the initialised flag and makes the shared data; -102 (recorded) when
  // it cannot be allocated, else 0.
  int32_t PrepareSharedData();

  ascommon::CMap<uint64_t, nobjSessionInfo> sessions;
  bool initialized = false;
  void* sharedData = nullptr;
  ascommon::CSharedLocker locker;
};

#endif  // TERVO_SRC_NOTIFOBJ_NOTIFOBJ_H_
