#include "src/engines/fernwick/fernwicklib.h"

#include <string>

#include "common/asalloc.h"
#include "common/dynlib.h"
#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsFernwick {

namespace {

// Makes an object through one of the two create entry points; the handle
// checks raise, and the caller turns every failure into its warning.
FernwickRegEx* Create(RegExLib* lib, FernwickNewRegExFn RegExLib::*entry) {
  if (lib == nullptr || lib->module == nullptr || lib->*entry == nullptr) {
    AS_RAISE(ASBadPtrException, __LINE__, "invalid handle to the regex library");
  }
  FernwickRegEx* regex = (lib->*entry)();
  if (regex == nullptr) AS_RAISE(ASMemException, __LINE__, "the regex library made no object");
  return regex;
}

}  // namespace

RegExLib* Load(const char* directory) {
  if (directory == nullptr || *directory == '\0') return nullptr;
  std::string path = directory;
  if (path.back() != '\\') path += '\\';
  path += "fernwick.dll";
  AS_LOG(0, __LINE__, "Trying to load the lib %s", path.c_str());

  void* module = ascommon::LoadDynLib(path.c_str());
  if (module == nullptr) {
    AS_LOG(0, __LINE__, "WARNING: cannot load the regex library (%s): %s", path.c_str(),
           ascommon::DynLibError());
    return nullptr;
  }
  RegExLib found;
  found.module = module;
  struct Entry {
    const char* name;
    void** slot;
  };
  const Entry entries[] = {
      {"NewRegEx", reinterpret_cast<void**>(&found.NewRegEx)},
      {"NewFastRegEx", reinterpret_cast<void**>(&found.NewFastRegEx)},
      {"DeleteRegEx", reinterpret_cast<void**>(&found.DeleteRegEx)},
      {"MakeBuffMap", reinterpret_cast<void**>(&found.MakeBuffMap)},
      {"DeleteBuffMap", reinterpret_cast<void**>(&found.DeleteBuffMap)},
  };
  for (const Entry& entry : entries) {
    *entry.slot = ascommon::GetDynLibSymbol(module, entry.name);
    if (*entry.slot == nullptr) {
      AS_LOG(0, __LINE__,
             "WARNING: invalid Regex DLL library ! The product will run, but with a lot less "
             "functionality.");
      AS_LOG(0, __LINE__, "WARNING: could not obtain functor %s. The error was: %s", entry.name,
             ascommon::DynLibError());
      ascommon::FreeDynLib(module);
      return nullptr;
    }
  }
  // The pattern-set pair is optional: both or neither.
  found.NewRegExSet = reinterpret_cast<FernwickNewRegExSetFn>(ascommon::GetDynLibSymbol(module, "NewRegExSet"));
  found.DeleteRegExSet =
      reinterpret_cast<FernwickDeleteRegExSetFn>(ascommon::GetDynLibSymbol(module, "DeleteRegExSet"));
  if (found.NewRegExSet == nullptr || found.DeleteRegExSet == nullptr) {
    found.NewRegExSet = nullptr;
    found.DeleteRegExSet = nullptr;
  }
  RegExLib* lib = ascommon::NewNoThrow<RegExLib>(found);
  if (lib == nullptr) ascommon::FreeDynLib(module);
  return lib;
}

void Release(RegExLib* lib) {
  if (lib == nullptr) return;
  if (!ascommon::FreeDynLib(lib->module)) {
    AS_LOG(0, __LINE__, "WARNING: could not release the regex lib!");
  }
  ascommon::Delete(lib);
}

FernwickRegEx* CreateRegEx(RegExLib* lib) {
  try {
    return Create(lib, &RegExLib::NewRegEx);
  } catch (const ASException&) {
    AS_LOG(0, __LINE__, "WARNING: could not create a new regex!");
    return nullptr;
  }
}

FernwickRegEx* CreateFastRegEx(RegExLib* lib) {
  try {
    return Create(lib, &RegExLib::NewFastRegEx);
  } catch (const ASException&) {
    AS_LOG(0, __LINE__, "WARNING: could not create a new fast regex!");
    return nullptr;
  }
}

void DeleteRegEx(RegExLib* lib, FernwickRegEx* regex) {
  if (lib != nullptr && lib->DeleteRegEx != nullptr) lib->DeleteRegEx(regex);
}

FernwickRegExSet* CreateRegExSet(RegExLib* lib) {
  return lib != nullptr && lib->NewRegExSet != nullptr ? lib->NewRegExSet() : nullptr;
}

void DeleteRegExSet(RegExLib* lib, FernwickRegExSet* set) {
  if (lib != nullptr && lib->DeleteRegExSet != nullptr) lib->DeleteRegExSet(set);
}

}  // namespace nsFernwick
