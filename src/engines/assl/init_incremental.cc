// Bringing a signature set up to date from its incremental list: the jobs
// newer than the last one applied replace rules by name, add new ones and
// delete named ones. Any other outcome leaves the set to a full rebuild.
#include "src/engines/assl/asslengine.h"
#include "src/engines/assl/incslf_file.h"
#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsAssl {

int32_t CASSLEngine::InitIncSlf(Engines* engines, const char* path, int32_t prefix_index) {
  const char* prefix = SignatureSetPrefix(prefix_index);
  sstring name, list;
  if (prefix == nullptr || path == nullptr || name.assign(prefix) != 0 ||
      name.append("_incslf.txt", 11) != 0 || !BuildPath(path, name.c_str(), &list)) {
    return -1;
  }
  AS_LOG(0, __LINE__, "incslfpath='%s'", list.c_str());
  CIncSlfFileInfo file;
  if (file.Load(list.c_str()) != 0) {
    AS_LOG(0, __LINE__, "fail to load/parse file '%s'", list.c_str());
    last_jid_ = -1;
    return -1;
  }
  const int32_t file_jid = file.GetLastJID();
  if (last_jid_ < 0) {
    AS_LOG(0, __LINE__, "last_JID=%d  --->  exit InitIncSlf", last_jid_);
    last_jid_ = file_jid;
    return -1;
  }
  if (last_jid_ >= file_jid) {
    AS_LOG(0, __LINE__, "last_JID=%d / inc_slf_file_info.GetLastJID():%d  --->  exit InitIncSlf",
           last_jid_, file_jid);
    last_jid_ = file_jid;
    return -1;
  }
  const uint64_t slots = rules_.RuleCount();
  if (slots != 0 && static_cast<double>(free_.GetCount()) / static_cast<double>(slots) > 0.4) {
    AS_LOG(0, __LINE__, "vectorul Rules are %.1f%% pozitii neocupate --> exit InitIncSlf",
           100.0 * static_cast<double>(free_.GetCount()) / static_cast<double>(slots));
    last_jid_ = file_jid;
    return -1;
  }
  sstring buffer;
  uint32_t changed = 0;
  ascommon::Vector<sstring> deleted;
  if (file.GetJobsData(last_jid_, &buffer, &changed, &deleted) != 0) {
    AS_LOG(0, __LINE__, "fail on GetJobsData()");
    return -1;
  }
  if (ApplyJobs(engines, buffer, changed, deleted) != 0) {
    AS_LOG(0, __LINE__, "fail on InitIncSlf_ASSL()");
    return -1;
  }
  last_jid_ = file_jid;
  return Reindex(engines);
}

int32_t CASSLEngine::ApplyJobs(Engines* engines, const sstring& buffer, uint32_t changed,
                               const ascommon::Vector<sstring>& deleted) {
  try {
    // The changed rules are parsed on their own first, so that a text that
    // does not give one rule per change leaves the set as it was.
    RuleTable incoming;
    {
      ParserState state(&incoming);
      state.SetInputString(buffer.c_str(), buffer.length(), "inc-buffer");
      AS_LOG(0, __LINE__, "will parse inc-buffer");
      state.Parse();
      AS_LOG(0, __LINE__, "parsed %d rules from inc-buffer", static_cast<int>(incoming.RuleCount()));
    }
    if (incoming.RuleCount() != changed) {
      AS_LOG(0, __LINE__, "yyparse error :   nr_changed_items=%d  vs.  %d yyparse count",
             static_cast<int>(changed), static_cast<int>(incoming.RuleCount()));
      return -1;
    }
    ascommon::Vector<uint64_t> placed;
    for (uint64_t i = 0; i < incoming.RuleCount(); ++i) {
      CRule* rule = incoming.Take(i);
      uint64_t slot = rules_.RuleCount();
      if (!rules_.IndexOf(ascommon::String(rule->name().c_str()), &slot) && free_.GetCount() != 0) {
        slot = free_[free_.GetCount() - 1];
        free_.SetSize(free_.GetCount() - 1, false);
      }
      rules_.Put(slot, rule);
      placed.push_back(slot);
    }
    for (const sstring& name : deleted) {
      uint64_t slot = 0;
      if (!rules_.IndexOf(ascommon::String(name.c_str()), &slot)) {
        AS_LOG(0, __LINE__, "%s not found !", name.c_str());
        continue;
      }
      rules_.Drop(slot);
      if (free_.Add(slot) != 0) return -1;
    }
    for (uint64_t slot : placed) {
      CRule* rule = rules_.Rule(slot);
      if (rule == nullptr) continue;  // deleted by a later job
      if (InitRule(slot, engines) != 0 || !rule->is_initialized()) {
        AS_LOG(0, __LINE__, "rule %s failed to initialize", rule->name().c_str());
        rules_.Drop(slot);
        if (free_.Add(slot) != 0) return -1;
      }
    }
    AS_LOG(0, __LINE__, "nr_items=%d  Rules.size():%d  FreePosInRules.size():%d",
           static_cast<int>(changed + deleted.size()), static_cast<int>(rules_.RuleCount()),
           static_cast<int>(free_.GetCount()));
  } catch (const ASException&) {
    return -1;
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 0;
}

}  // namespace nsAssl
