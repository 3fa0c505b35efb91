#include "src/engines/assl/engines.h"

#include "src/trace/trace.h"

namespace nsAssl {

Engines::~Engines() {
  delete assl;
  nsFernwick::Release(regex);
}

int32_t Engines::LoadRegexLibrary(const char* directory) {
  nsFernwick::Release(regex);
  regex = nullptr;
  regex_path.clear();
  regex = nsFernwick::Load(directory);
  if (regex == nullptr) {
    AS_LOG(0, __LINE__, "could not obtain handle to regular expressions library from %s", directory);
    return -1;
  }
  if (regex_path.assign(directory) != 0) return -1;
  return 0;
}

}  // namespace nsAssl
