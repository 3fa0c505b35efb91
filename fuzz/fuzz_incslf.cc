// Fuzzes the reader of the incremental rule list: the input is parsed as an
// <pfx>_incslf.txt file. A refused input keeps no job and names its line; an
// accepted one hands over, after -1, every changed rule and deleted name, and
// nothing after its last JID.
#include <stddef.h>
#include <stdint.h>

#include "fuzz/fuzz_support.h"
#include "src/engines/assl/incslf_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nsAssl::CIncSlfFileInfo info;
  if (info.Parse(reinterpret_cast<const char*>(data), size) != 0) {
    FUZZ_CHECK(info.jobs().empty() && info.GetLastJID() == -1, "a refused file keeps jobs");
    return 0;
  }
  FUZZ_CHECK(info.error_line() == 0, "an accepted file names an error line");
  uint64_t changed = 0, deleted = 0;
  int32_t last = -1;
  for (const nsAssl::SJobInfo& job : info.jobs()) {
    FUZZ_CHECK(job.jid >= 0, "a job without a JID");
    if (job.jid > last) last = job.jid;
    for (const auto& item : job.changed) FUZZ_CHECK(item.name.length() > 0, "a changed rule without a name");
    for (const auto& item : job.deleted) FUZZ_CHECK(item.name.length() > 0, "a deleted rule without a name");
    changed += job.changed.size();
    deleted += job.deleted.size();
  }
  FUZZ_CHECK(info.GetLastJID() == last, "the last JID is not the largest");

  ascommon::sstring buffer;
  uint32_t count = 0;
  ascommon::Vector<ascommon::sstring> names;
  FUZZ_CHECK(info.GetJobsData(-1, &buffer, &count, &names) == 0, "GetJobsData failed");
  FUZZ_CHECK(count == changed && names.size() == deleted, "GetJobsData after -1 misses jobs");
  FUZZ_CHECK(info.GetJobsData(last, &buffer, &count, &names) == 0, "GetJobsData failed");
  FUZZ_CHECK(count == 0 && names.empty() && buffer.length() == 0, "GetJobsData after the last JID");
  return 0;
}
