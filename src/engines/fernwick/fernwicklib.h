// The bridge to the regular-expression library: loads "fernwick.dll" (found
// as libfernwick.so) from a folder, fetches its five entry points (and the
// optional pattern-set pair when the library has it) and hands out objects
// made by it.
//
// A handle is written only by Load and Release; the create and delete
// operations may be called from many threads at once on one handle.
#ifndef TERVO_SRC_ENGINES_FERNWICK_FERNWICKLIB_H_
#define TERVO_SRC_ENGINES_FERNWICK_FERNWICKLIB_H_

#include "platform/fernwick/fernwick.h"

namespace nsFernwick {

// The loaded library and its entry points, in the order they are fetched.
struct RegExLib {
  void* module = nullptr;
  FernwickNewRegExFn NewRegEx = nullptr;
  FernwickNewRegExFn NewFastRegEx = nullptr;
  FernwickDeleteRegExFn DeleteRegEx = nullptr;
  FernwickMakeBuffMapFn MakeBuffMap = nullptr;
  FernwickDeleteBuffMapFn DeleteBuffMap = nullptr;
  // Optional: null when the library has no pattern sets.
  FernwickNewRegExSetFn NewRegExSet = nullptr;
  FernwickDeleteRegExSetFn DeleteRegExSet = nullptr;
};

// Loads "<directory>\fernwick.dll" (no backslash is added when the directory
// ends in one). Null for a null or empty directory, a library that does not
// load, or one that lacks an entry point (each with its warning lines).
RegExLib* Load(const char* directory);
// Unloads the library and frees the handle; null is ignored.
void Release(RegExLib* lib);
// A new interpreted or JIT-compiled regex object; null with a warning when
// the handle, its module or the entry point is missing, or the library
// refuses.
FernwickRegEx* CreateRegEx(RegExLib* lib);
FernwickRegEx* CreateFastRegEx(RegExLib* lib);
// Destroys an object made through `lib`; does nothing without the handle or
// its entry point.
void DeleteRegEx(RegExLib* lib, FernwickRegEx* regex);
// A new pattern set, or null (without a warning) when the library has none
// or memory runs out.
FernwickRegExSet* CreateRegExSet(RegExLib* lib);
void DeleteRegExSet(RegExLib* lib, FernwickRegExSet* set);

}  // namespace nsFernwick

#endif  // TERVO_SRC_ENGINES_FERNWICK_FERNWICKLIB_H_
