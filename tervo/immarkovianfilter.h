// The Markovian filter ("Im Markovian Filter"): classifies the word sequences
// of each message, thresholds scaled by the session's age, and writes the
// classes that fired into the item.
#ifndef TERVO_TERVO_IMMARKOVIANFILTER_H_
#define TERVO_TERVO_IMMARKOVIANFILTER_H_

#include "common/sstring.h"
#include "src/amodule/amodule.h"
#include "tervo/filter_common.h"
#include "src/engines/markovian/markovian.h"

namespace nsImModules {

// The module's shared data, one per module; guarded by its locker.
struct MarkovianSharedData {
  nsMarkovian::CIMMarkovianEngine engine;
  ascommon::sstring dataPath;     // path of im_markovian.dat once found
  SizeStamp stamp;                // the file's size at the last load that succeeded
};

class CImMarkovianFilter : public CAFilter {
 public:
  explicit CImMarkovianFilter(const ascommon::sstring& module_name);

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

#endif  // TERVO_TERVO_IMMARKOVIANFILTER_H_
