#include "src/engines/assl/prealloc_list.h"

#include <stdio.h>
#include <string.h>

#include "common/asalloc.h"
#include "common/asfile.h"

namespace nsAssl {

namespace {

constexpr char kKey[] = "Signature number: ";

}  // namespace

const char* ReadPreallocCount(const char* path, int32_t* count) {
  if (path == nullptr || path[0] == '\0') return "empty filename";
  uint64_t size = 0;
  if (!ascommon::FileSize64(path, &size)) return "could not get file size";
  ascommon::String text;
  try {
    text.reserve(size + 1);
  } catch (const std::bad_alloc&) {
    return "allocation error";
  }
  switch (ascommon::ReadWholeFile(path, &text)) {
    case 0: break;
    case -1: return "could not open file for reading";
    case -3: return "allocation error";
    default: return "could not read from file";
  }
  // The key is looked for in the text up to its first zero byte.
  const char* key = strstr(text.c_str(), kKey);
  if (key == nullptr) return "could not find key";
  if (sscanf(key + sizeof kKey - 1, "%d", count) != 1) return "could not parse value";
  return nullptr;
}

}  // namespace nsAssl
