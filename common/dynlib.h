// Run-time loading of libraries under the names the system gives them.
//
// "name.dll" is looked for as "libname.so": in the folder the name gives, or,
// for a bare name, first in the folder holding the module that contains this
// code (the plug-in or the program), then on the loader's path; after that the
// name is tried as given. "iconv.dll" is the C library, whose iconv_open,
// iconv and iconv_close serve. Backslashes in names count as folder separators.
#ifndef TERVO_COMMON_DYNLIB_H_
#define TERVO_COMMON_DYNLIB_H_

namespace ascommon {

// Answers a handle, or null when no candidate loads. Free it with FreeDynLib.
void* LoadDynLib(const char* name);
// The address of `symbol` in `lib`, or null when either is missing.
void* GetDynLibSymbol(void* lib, const char* symbol);
// Unloads a handle from LoadDynLib; false when the loader refuses (null is
// ignored and answers true).
bool FreeDynLib(void* lib);
// The loader's text for the last failure of the three calls above in this
// thread (LoadDynLib: its last candidate), or "unknown error".
const char* DynLibError();

}  // namespace ascommon

#endif  // TERVO_COMMON_DYNLIB_H_
