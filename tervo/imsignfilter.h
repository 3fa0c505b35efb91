// The signature filter ("Im Signature Filter"): runs the "im" signature set of
// the rule engine over each item and marks the items whose firing signature
// names the session's age group.
#ifndef TERVO_TERVO_IMSIGNFILTER_H_
#define TERVO_TERVO_IMSIGNFILTER_H_

#include <atomic>

#include "common/sstring.h"
#include "src/amodule/amodule.h"
#include "tervo/filter_common.h"

namespace nsAssl {
struct Engines;
}

namespace nsImModules {

struct SignItemWork;

struct SignSharedData {
  nsAssl::Engines* engines = nullptr;  // built by the first settings pass that finds the data
  ascommon::sstring libraryPath;    // folder the regular-expression library came from
  // What finished items left for the next ones (a context, its unit, the
  // walk's plan), taken and given back without a lock; null slots are empty.
  std::atomic<SignItemWork*> spareWork[4] = {};
};

class CImSignFilter : public CAFilter {
 public:
  explicit CImSignFilter(const ascommon::sstring& module_name);
  ~CImSignFilter() override;

  int32_t ApplySessionSettings(uint64_t session) override;
  void* CreateSessionData() override;
  void DestroySessionData(void* data) override;
  bool IsEnabled(uint64_t session) override;
  void* CreateSharedData() override;
  void DestroySharedData(void* data) override;
  int32_t ApplySharedSettings() override;
  int32_t ReservedQuery1() override { return 0; }
  int32_t ReservedQuery2() override { return 0; }
  uint8_t GetFilterCode() override { return 203; }
  int32_t ProcessEntity(uint64_t session, ascommon::SItem* item, uint32_t command) override;
  int32_t ProcessCommand() override;
};

}  // namespace nsImModules

#endif  // TERVO_TERVO_IMSIGNFILTER_H_
