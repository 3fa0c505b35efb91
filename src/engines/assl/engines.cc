#include "src/engines/assl/engines.h"

#include "common/asalloc.h"
#include "src/engines/assl/asslengine.h"
#include "src/engines/codeheur/codeheur.h"
#include "src/trace/trace.h"

namespace nsAssl {

Engines::~Engines() {
  ascommon::Delete(assl);
  ascommon::Delete(code_heur);
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

int32_t Engines::Init(const char* path, int32_t prefix_index, uint8_t flag) {
  if (assl == nullptr) {
    assl = ascommon::NewNoThrow<CASSLEngine>();
    if (assl == nullptr) {
      AS_LOG(0, __LINE__, "memory problems");
      return -1;
    }
  }
  const int32_t rc = static_cast<CASSLEngine*>(assl)->Init(this, path, prefix_index, flag);
  if (rc != 0) {
    ascommon::Delete(assl);
    assl = nullptr;
    AS_LOG(0, __LINE__, "pASSLEngine->Init(...) failed (code: %d)", rc);
  }
  return rc;
}

int32_t Engines::SetupCodeHeur() {
  if (code_heur != nullptr) return 0;
  try {
    code_heur = ascommon::NewNoThrow<nsCodeHeur::CCodeHeurEngine>();
  } catch (const std::bad_alloc&) {
    code_heur = nullptr;
  }
  if (code_heur == nullptr) {
    AS_LOG(0, __LINE__, "memory problems");
    return -1;
  }
  return 0;
}

CASSLEngine* Engines::AsslEngine() const {
  if (assl == nullptr) AS_LOG(0, __LINE__, "invalid handle to ASSL engine");
  return static_cast<CASSLEngine*>(assl);
}

}  // namespace nsAssl
