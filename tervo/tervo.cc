// The plug-in: its three exports, the factory, and what happens when the
// shared object is loaded and unloaded.
#include "tervo/tervo.h"

#include <new>

#include "common/asalloc.h"
#include "src/class_factory/class_factory.h"
#include "src/trace/trace.h"
#include "tervo/imblacklistfilter.h"
#include "tervo/immarkovianfilter.h"
#include "tervo/imsignfilter.h"
#include "tervo/imwordsfilter.h"
#include "tervo/tervo_names.h"

namespace nsImModules {

const ascommon::sstring g_strBlacklistFilterName(kBlacklistFilterName);
const ascommon::sstring g_strWordsFilterName(kWordsFilterName);
const ascommon::sstring g_strSignFilterName(kSignFilterName);
const ascommon::sstring g_strMarkovianFilterName(kMarkovianFilterName);
const ascommon::sstring g_strDispatcherName(kDispatcherName);
const ascommon::sstring g_strBreakerName(kBreakerName);
const ascommon::sstring g_strPerformerName(kPerformerName);
const ascommon::sstring g_strStreamerName(kStreamerName);

const ascommon::sstring g_strWordsDataFile(kWordsDataFile);
const ascommon::sstring g_strMarkovianDataFile(kMarkovianDataFile);
const ascommon::sstring g_strBlacklistDataFile(kBlacklistDataFile);
const ascommon::sstring g_strSignDataFile(kSignDataFile);

const ascommon::sstring g_strCategoryVariable(kCategoryVariable);
const ascommon::sstring g_strScoreVariable(kScoreVariable);

}  // namespace nsImModules

namespace {

using namespace nsImModules;

// The factory of this plug-in: the four filter allocators, in this order.
class CIMFClassFactory : public CAClassFactory {
 public:
  CIMFClassFactory() {
    Register<CImBlacklistFilter>(g_strBlacklistFilterName);
    Register<CImWordsFilter>(g_strWordsFilterName);
    Register<CImSignFilter>(g_strSignFilterName);
    Register<CImMarkovianFilter>(g_strMarkovianFilterName);
  }

  // Shuts every module down and destroys it, then the allocators; the base
  // frees the arrays.
  ~CIMFClassFactory() override {
    AS_LOG(3, 8, "Releasing CIMFClassFactory");
    for (uint64_t i = 0; i < modules.GetCount(); ++i) {
      CAModule* module = modules[i];
      if (module == nullptr) continue;
      module->ReleaseAllAndShutdown();
      ascommon::Delete(module);
    }
    for (uint64_t i = 0; i < allocators.GetCount(); ++i) ascommon::Delete(allocators[i]);
  }

 private:
  // Appends an allocator for T; a failed allocation leaves a null entry.
  template <class T>
  void Register(const ascommon::sstring& type_name) {
    CBasicAllocator* allocator = nullptr;
    try {
      allocator = ascommon::New<TAllocator<T>>(type_name.c_str());
    } catch (const std::bad_alloc&) {
      allocator = nullptr;
    }
    if (allocators.Add(allocator) != 0) ascommon::Delete(allocator);
  }
};

CIMFClassFactory* g_factory = nullptr;

__attribute__((constructor)) void AttachPlugin() { ASTraceSetUp(); }
__attribute__((destructor)) void DetachPlugin() { ASTraceTakeDown(); }

}  // namespace

extern "C" {

void GetASVersion(uint32_t version[4]) {
  version[0] = 2;
  version[1] = 13;
  version[2] = 1;
  version[3] = 14950;
}

CAClassFactory* GetClassFactory() {
  if (g_factory != nullptr) return g_factory;
  try {
    g_factory = ascommon::NewNoThrow<CIMFClassFactory>();
  } catch (const std::exception&) {
    g_factory = nullptr;
  }
  return g_factory;
}

int32_t ReleaseClassFactory() {
  if (g_factory != nullptr) ascommon::Delete(g_factory);
  g_factory = nullptr;
  return 0;
}

}  // extern "C"
