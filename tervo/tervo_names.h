// Names the plug-in builds when it is loaded.
#ifndef TERVO_TERVO_TERVO_NAMES_H_
#define TERVO_TERVO_TERVO_NAMES_H_

#include "common/sstring.h"

namespace nsImModules {

// Module type names. The factory registers the first four.
extern const ascommon::sstring g_strBlacklistFilterName;  // "Im Blacklist Filter"
extern const ascommon::sstring g_strWordsFilterName;      // "Im Words Filter"
extern const ascommon::sstring g_strSignFilterName;       // "Im Signature Filter"
extern const ascommon::sstring g_strMarkovianFilterName;  // "Im Markovian Filter"
extern const ascommon::sstring g_strDispatcherName;       // "Im Dispatcher"
extern const ascommon::sstring g_strBreakerName;          // "Im Breaker"
extern const ascommon::sstring g_strPerformerName;        // "Im Performer"
extern const ascommon::sstring g_strStreamerName;         // "Im Streamer"

// Data files in the data folder.
extern const ascommon::sstring g_strWordsDataFile;      // "imwords.dat"
extern const ascommon::sstring g_strMarkovianDataFile;  // "im_markovian.dat"
extern const ascommon::sstring g_strBlacklistDataFile;  // "imblacklist.dat"
extern const ascommon::sstring g_strSignDataFile;       // "im_sign.slf"

// Rule-engine context variables the signature filter reads.
extern const ascommon::sstring g_strCategoryVariable;  // "CATEGORY"
extern const ascommon::sstring g_strScoreVariable;     // "SCORE"

}  // namespace nsImModules

#endif  // TERVO_TERVO_TERVO_NAMES_H_
