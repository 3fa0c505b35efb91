#include "src/engines/assl/prealloc_list.h"

#include <stdio.h>
#include <string.h>

#include "common/asalloc.h"
#include "common/asfile.h"

namespace nsAssl {

namespace {

constexpr char kKey[] = "Signature number: ";

struct CloseFile {
  void operator()(FILE* f) const { fclose(f); }
};

}  // namespace

const char* ReadPreallocCount(const char* path, int32_t* count) {
  if (path == nullptr || path[0] == '\0') return "empty filename";
  uint64_t size = 0;
  if (!ascommon::FileSize64(path, &size)) return "could not get file size";
  ascommon::Vector<char> text;
  try {
    text.resize(size + 1);
  } catch (const std::bad_alloc&) {
    return "allocation error";
  }
  std::unique_ptr<FILE, CloseFile> file(ascommon::OpenFile(path, "rb"));
  if (file == nullptr) return "could not open file for reading";
  if (size != 0 && fread(text.data(), 1, size, file.get()) != size) return "could not read from file";
  text[size] = '\0';
  // The key is looked for in the text up to its first zero byte.
  const char* key = strstr(text.data(), kKey);
  if (key == nullptr) return "could not find key";
  if (sscanf(key + sizeof kKey - 1, "%d", count) != 1) return "could not parse value";
  return nullptr;
}

}  // namespace nsAssl
