// The blacklist filter ("Im Blacklist Filter"): marks an item whose other
// party is listed in imblacklist.dat.
#ifndef TERVO_TERVO_IMBLACKLISTFILTER_H_
#define TERVO_TERVO_IMBLACKLISTFILTER_H_

#include "common/sstring.h"
#include "src/amodule/amodule.h"
#include "tervo/filter_common.h"

class CUrlDb2Engine;

namespace nsImModules {

struct BlacklistSharedData {
  CUrlDb2Engine* engine = nullptr;  // the loaded digest tables; null: no list
  // The size of imblacklist.dat when last examined, loaded or not; starting
  // at 0, a file that stays empty is never read.
  SizeStamp stamp{0};
  ascommon::sstring tempFolder;     // ends in a path separator once set
};

// A session only needs to exist; its record carries nothing.
struct BlacklistSessionData {
  uint8_t unused = 0;
};

class CImBlacklistFilter : public CAFilter {
 public:
  explicit CImBlacklistFilter(const ascommon::sstring& module_name);
  ~CImBlacklistFilter() override;

  int32_t ApplySessionSettings(uint64_t session) override;
  void* CreateSessionData() override;
  void DestroySessionData(void* data) override;
  bool IsEnabled(uint64_t session) override;
  void* CreateSharedData() override;
  void DestroySharedData(void* data) override;
  int32_t ApplySharedSettings() override;
  int32_t ReservedQuery1() override { return 0; }
  int32_t ReservedQuery2() override { return 0; }
  uint8_t GetFilterCode() override { return 200; }
  int32_t ProcessEntity(uint64_t session, ascommon::SItem* item, uint32_t command) override;
  int32_t ProcessCommand() override;
};

}  // namespace nsImModules

#endif  // TERVO_TERVO_IMBLACKLISTFILTER_H_
