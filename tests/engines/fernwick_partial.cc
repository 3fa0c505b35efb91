// A regular-expression library that lacks the entry points named by the
// OMIT_* definitions it is built with; the others make nothing.
#include "platform/fernwick/fernwick.h"

extern "C" {
#ifndef OMIT_NEW_FAST_REGEX
FernwickRegEx* NewFastRegEx(void) { return nullptr; }
#endif
FernwickRegEx* NewRegEx(void) { return nullptr; }
void DeleteRegEx(FernwickRegEx*) {}
FernwickBuffMap* MakeBuffMap(const char*, size_t) { return nullptr; }
#ifndef OMIT_DELETE_BUFF_MAP
void DeleteBuffMap(FernwickBuffMap*) {}
#endif
}
