// The names plug-in and host agree on: module type names, data-file names,
// settings keys and the rule-engine variables behind the signature verdict.
// Every part that spells one of them (the plug-in, the host, the command, the
// tests) takes it from here; the verdict keys are in common/item.h.
#ifndef TERVO_TERVO_TERVO_NAMES_H_
#define TERVO_TERVO_TERVO_NAMES_H_

#include "common/sstring.h"

namespace nsImModules {

// Module type names. The factory registers the first four.
inline constexpr char kBlacklistFilterName[] = "Im Blacklist Filter";
inline constexpr char kWordsFilterName[] = "Im Words Filter";
inline constexpr char kSignFilterName[] = "Im Signature Filter";
inline constexpr char kMarkovianFilterName[] = "Im Markovian Filter";
inline constexpr char kDispatcherName[] = "Im Dispatcher";
inline constexpr char kBreakerName[] = "Im Breaker";
inline constexpr char kPerformerName[] = "Im Performer";
inline constexpr char kStreamerName[] = "Im Streamer";

// Data files in the data folder.
inline constexpr char kWordsDataFile[] = "imwords.dat";
inline constexpr char kMarkovianDataFile[] = "im_markovian.dat";
inline constexpr char kBlacklistDataFile[] = "imblacklist.dat";
inline constexpr char kSignDataFile[] = "im_sign.slf";

// Settings keys: global ones (session 0) first, then per session.
inline constexpr char16_t kSharedDataPathKey[] = u"/im/general/ImSharedDataPath";
inline constexpr char16_t kGlobalTempPathKey[] = u"/im/general/GlobalTempPath";
inline constexpr char16_t kSharedLibsPathKey[] = u"/im/general/SharedLibsPath";
inline constexpr char16_t kUserAgeKey[] = u"/im/general/UserAge";
inline constexpr char16_t kEnabledKey[] = u"/im/filter/Enabled";

// Rule-engine context variables the signature filter reads.
inline constexpr char kCategoryVariable[] = "CATEGORY";
inline constexpr char kScoreVariable[] = "SCORE";

// The same names as the strings the plug-in builds when it is loaded.
extern const ascommon::sstring g_strBlacklistFilterName;
extern const ascommon::sstring g_strWordsFilterName;
extern const ascommon::sstring g_strSignFilterName;
extern const ascommon::sstring g_strMarkovianFilterName;
extern const ascommon::sstring g_strDispatcherName;
extern const ascommon::sstring g_strBreakerName;
extern const ascommon::sstring g_strPerformerName;
extern const ascommon::sstring g_strStreamerName;
extern const ascommon::sstring g_strWordsDataFile;
extern const ascommon::sstring g_strMarkovianDataFile;
extern const ascommon::sstring g_strBlacklistDataFile;
extern const ascommon::sstring g_strSignDataFile;
extern const ascommon::sstring g_strCategoryVariable;
extern const ascommon::sstring g_strScoreVariable;

}  // namespace nsImModules

#endif  // TERVO_TERVO_TERVO_NAMES_H_
