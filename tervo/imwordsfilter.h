// The words filter ("Im Words Filter"): scores the text of each message with
// the words engine for the session's age and writes the score as the verdict.
#ifndef TERVO_TERVO_IMWORDSFILTER_H_
#define TERVO_TERVO_IMWORDSFILTER_H_

#include "common/sstring.h"
#include "src/amodule/amodule.h"
#include "tervo/filter_common.h"
#include "src/engines/wordsheur/wordsheur.h"

namespace nsImModules {

// The module's shared data, one per module; guarded by its locker.
struct WordsSharedData {
  nsWordsHeur::CWordsHeurEngine engine;
  ascommon::sstring dataPath;     // path of imwords.dat once found
  SizeStamp stamp;                // the file's size at the last load that succeeded
  ascommon::sstring tempFolder;   // ends in a path separator once set
};

class CImWordsFilter : public CAFilter {
 public:
  explicit CImWordsFilter(const ascommon::sstring& module_name);

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

#endif  // TERVO_TERVO_IMWORDSFILTER_H_
