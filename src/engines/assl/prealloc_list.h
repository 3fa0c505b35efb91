// The prealloc list of a signature set, "<pfx>_update.txt": the number after
// the first "Signature number: " tells how many rules the set holds, so that
// the rule array can be sized once. Nothing else in the file is read.
#ifndef TERVO_SRC_ENGINES_ASSL_PREALLOC_LIST_H_
#define TERVO_SRC_ENGINES_ASSL_PREALLOC_LIST_H_

#include <stdint.h>

namespace nsAssl {

// Reads the count into `*count` and answers null, or answers why it could
// not: "empty filename", "could not get file size", "allocation error",
// "could not open file for reading", "could not read from file", "could not
// find key" or "could not parse value".
const char* ReadPreallocCount(const char* path, int32_t* count);

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_PREALLOC_LIST_H_
