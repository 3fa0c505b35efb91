// Building a signature set in full from the files of its data folder.
#include "common/asfile.h"
#include "common/utf8.h"
#include "src/engines/assl/asslengine.h"
#include "src/engines/assl/prealloc_list.h"
#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsAssl {

int32_t CASSLEngine::InitFull(Engines* engines, const char* path, int32_t prefix_index) {
  if (Release() != 0) AS_LOG(0, __LINE__, "this->Release() failed");
  const char* prefix = SignatureSetPrefix(prefix_index);
  sstring name, mask;
  if (prefix == nullptr || path == nullptr) {
    AS_LOG(0, __LINE__, "problems concatenating strings");
    return -1;
  }
  if (name.assign(prefix) != 0 || name.append("*.slf", 5) != 0 || !BuildPath(path, name.c_str(), &mask)) {
    return -1;
  }
  Prealloc(path, prefix);
  AS_LOG(0, __LINE__, "File list mask: %s", mask.c_str());
  if (ExtractRules(mask.c_str()) != 0) {
    AS_LOG(0, __LINE__, "ExtractRules failed");
    return -1;
  }
  if (InitRules(engines) != 0) {
    AS_LOG(0, __LINE__, "InitRules failed");
    return -1;
  }
  return 0;
}

void CASSLEngine::Prealloc(const char* path, const char* prefix) {
  sstring name, list;
  if (name.assign(prefix) != 0 || name.append("_update.txt", 11) != 0 ||
      !BuildPath(path, name.c_str(), &list)) {
    return;
  }
  int32_t count = 0;
  const char* error = ReadPreallocCount(list.c_str(), &count);
  if (error == nullptr) {
    AS_LOG(0, __LINE__, "%s: read prealloc size: %d", list.c_str(), count);
    if (count < 0 || !rules_.Reserve(static_cast<uint64_t>(count))) error = "could not prealloc";
  }
  if (error != nullptr) {
    AS_LOG(0, __LINE__, "error: %s", error);
    AS_LOG(0, __LINE__, "WARNING: could not prealloc rules from '%s' !", list.c_str());
  }
}

int32_t CASSLEngine::ExtractRules(const char* mask) {
  ascommon::FileList files;
  const int32_t listed = ascommon::ListFiles(mask, &files);
  if (listed < 0) {
    AS_LOG(0, __LINE__, "problems building file list");
    return -1;
  }
  if (listed == 0) {
    AS_LOG(0, __LINE__, "specified path does not contain any scripting language files");
    return -1;
  }
  try {
    ParserState state(&rules_);
    for (uint64_t i = 0; i < files.GetCount(); ++i) {
      const std::string file = ascommon::Utf16ToUtf8({files[i].data(), files[i].length()});
      AS_LOG(0, __LINE__, "will parse %s", file.c_str());
      const uint64_t before = rules_.RuleCount();
      if (!state.SetInputFile(file.c_str())) {
        AS_LOG(0, __LINE__, "could not create scan buffer from file %s", file.c_str());
        continue;
      }
      try {
        state.Parse();
      } catch (const ASException&) {
        AS_LOG(0, __LINE__, "exception caught while parsing %s - continuing...", file.c_str());
        continue;
      }
      AS_LOG(0, __LINE__, "parsed %d rules from %s", static_cast<int>(rules_.RuleCount() - before),
             file.c_str());
      AS_LOG(0, __LINE__, "total so far: %d", static_cast<int>(rules_.RuleCount()));
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 0;
}

}  // namespace nsAssl
