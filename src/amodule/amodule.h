// CAModule and CAFilter, the module and filter interfaces the host drives, and
// ISettingsProvider, the host's settings interface. Virtual operations are
// declared in the order the host's tables expect; do not reorder them.
#ifndef TERVO_SRC_AMODULE_AMODULE_H_
#define TERVO_SRC_AMODULE_AMODULE_H_

#include <stdint.h>

#include "common/item.h"
#include "common/sstring.h"
#include "src/notifobj/notifobj.h"

// The host's settings: string and integer values by key (UTF-16) and session
// id (0 for global settings).
class ISettingsProvider {
 public:
  virtual ~ISettingsProvider() = default;
  // Host-side editing of the settings tree; the plug-in never calls these.
  virtual int32_t SetStringSetting(const char16_t* key, const char* value, uint64_t session) = 0;
  virtual int32_t SetIntSetting(const char16_t* key, int32_t value, uint64_t session) = 0;
  virtual int32_t RemoveSetting(const char16_t* key, uint64_t session) = 0;
  // Non-zero when the plug-in may create missing data files for what `key`
  // names (the signature filter asks with "/im/general/ImSharedDataPath").
  virtual int32_t AllowsCreate(const char16_t* key, uint64_t session) = 0;
  // Host-side: re-reads the settings tree. The plug-in never calls it.
  virtual int32_t Reload() = 0;
  // The string value, owned by the host, or null when the key has none.
  virtual const char* GetStringSetting(const char16_t* key, uint64_t session) = 0;
  // The integer value. `fallback` is what the host answers when the key has
  // no value (the words and Markovian filters pass 0, the others 1).
  virtual int32_t GetIntSetting(const char16_t* key, int32_t fallback, uint64_t session) = 0;
};

class CAModule : public CNotifiableObject {
 public:
  CAModule();
  ~CAModule() override;

  // Both answer 0 for every module of this plug-in.
  virtual int32_t ReservedQuery1() = 0;
  virtual int32_t ReservedQuery2() = 0;
  // Self test. The default logs that the module has none and answers 1.
  virtual int32_t UnitTest();

  // The name, or the fallback name while the name was never assigned.
  const char* DisplayName() const;

  bool isFilter = false;
  ascommon::sstring name;
  ascommon::sstring fallbackName;
  ISettingsProvider* settings = nullptr;
};

class CAFilter : public CAModule {
 public:
  // Sets the filter flag and copies `module_name` into the name.
  explicit CAFilter(const ascommon::sstring& module_name);

  // A constant per filter: 200 blacklist, 203 the others.
  virtual uint8_t GetFilterCode() = 0;
  // Examines `item` for `session` (command 0: classify) and writes the
  // verdict into its input/output box. 0, or a recorded failure code.
  virtual int32_t ProcessEntity(uint64_t session, ascommon::SItem* item, uint32_t command) = 0;
  // A command addressed to the filter itself. 0, or a recorded failure code.
  virtual int32_t ProcessCommand() = 0;
};

#endif  // TERVO_SRC_AMODULE_AMODULE_H_
