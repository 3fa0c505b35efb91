// The file layer: the one place that talks to the operating system about
// files, folders, the current folder and run-time libraries.
//
// Every function takes a UTF-16 path (const char16_t*; pass a usstring's
// data()) and has an 8-bit twin taking UTF-8, which is converted first.
// Paths may use backslashes or slashes as folder separators; backslashes are
// turned into '/' only when the path is handed to the system. Paths these
// functions hand back keep the caller's separators.
//
// A null path is a failure, answered the way the function answers any other
// failure. Nothing here logs; failures are answered, not raised.
#ifndef TERVO_COMMON_ASFILE_H_
#define TERVO_COMMON_ASFILE_H_

#include <stdint.h>
#include <stdio.h>

#include "common/asalloc.h"
#include "common/sstring.h"
#include "common/ustring.h"
#include "src/common/array.h"

namespace ascommon {

// The array ListFiles fills.
using FileList = CArray<usstring, 64>;

// True when the entry's attributes can be read and it is not a folder
// (symbolic links are followed). False for a missing entry and for a folder.
bool FileExists(const char16_t* path);
bool FileExists(const char* path);

// The low 32 bits of the file's size; 0 when the entry cannot be read or is
// a folder (and for an empty file).
uint32_t FileSize(const char16_t* path);
uint32_t FileSize(const char* path);

// The full size of a file in `*size`. Answers false (leaving `*size`) when
// the entry cannot be read, is a folder, or `size` is null.
bool FileSize64(const char16_t* path, uint64_t* size);
bool FileSize64(const char* path, uint64_t* size);

// Deletes a file (not a folder). Answers 1, or 0 when nothing was deleted.
int32_t DeleteFile(const char16_t* path);
int32_t DeleteFile(const char* path);

// Moves `from` to `to`, replacing a file already at `to`; across file
// systems the file is copied and the source deleted. Answers 1 when the move
// is done (the name `from` is then gone), else 0.
int32_t MoveFile(const char16_t* from, const char16_t* to);
int32_t MoveFile(const char* from, const char* to);

// Copies the file `from` to `to`, overwriting a file already at `to`.
// Answers 1, or 0 (a missing source, a folder, an unwritable target).
int32_t CopyFile(const char16_t* from, const char16_t* to);
int32_t CopyFile(const char* from, const char* to);

// Makes a unique file name in `folder`: the folder as given, a separator
// (none when the folder already ends with one; a backslash when the folder
// uses backslashes only, else '/'), `prefix` and six generated characters.
// The file is created empty, so the name stays reserved until the caller
// deletes it. A null or empty folder means the current folder ("."); a null
// prefix is taken as empty. Answers 1 with the name in `*out`, or 0 with
// `*out` unchanged.
int32_t MakeTempFileName(const char16_t* folder, const char16_t* prefix, usstring* out);
int32_t MakeTempFileName(const char* folder, const char* prefix, sstring* out);

// As MakeTempFileName, but the name is made a folder instead of a file.
// Answers 0 with the folder's path in `*out`, or -3 with `*out` unchanged.
int32_t MakeTempFolder(const char16_t* folder, const char16_t* prefix, usstring* out);
int32_t MakeTempFolder(const char* folder, const char* prefix, sstring* out);

// Deletes a folder with everything in it. Answers 1, or 0 when `path` is not
// a folder or something in it could not be deleted.
int32_t RemoveFolder(const char16_t* path);
int32_t RemoveFolder(const char* path);

// Lists the entries matching `pattern` that are not folders. The pattern is a
// folder part up to its last separator (backslash or slash; none means the
// current folder) and a name in which '*' matches any run of characters and
// '?' any one UTF-16 unit; other characters match themselves regardless of
// case (simple lower-case mapping). Wildcards in the folder part are not
// expanded. `*out` is emptied, then gets, in byte order of the entry names,
// the pattern's folder part exactly as given followed by each entry's name.
// Answers the number of entries, 0 when none matches (or the folder cannot
// be read), -1 for a null pattern or null `out`, -2 when memory ran out.
int32_t ListFiles(const char16_t* pattern, FileList* out);
int32_t ListFiles(const char* pattern, FileList* out);

// The current folder, with '/' separators. Answers 1, or 0 with `*out`
// unchanged.
int32_t GetCurrentFolder(usstring* out);
int32_t GetCurrentFolder(sstring* out);
// Makes `path` the current folder of the process. Answers 1 or 0.
int32_t SetCurrentFolder(const char16_t* path);
int32_t SetCurrentFolder(const char* path);

// Opens a file with the C library's `mode` ("rb", "wb", "r+b" ...). Null on
// failure or for a null argument. Close it with fclose.
FILE* OpenFile(const char16_t* path, const char* mode);
FILE* OpenFile(const char* path, const char* mode);

// Replaces `*out` with the whole content of the file at `path`. Answers 0,
// -1 when the file cannot be opened, -2 when reading it fails, -3 when
// memory runs out.
int32_t ReadWholeFile(const char* path, String* out);

// Run-time libraries, by the naming rules of common/dynlib.h ("name.dll" is
// looked for as "libname.so"). LoadLibrary answers a handle or null;
// GetProcedure the address of `name` in `lib`, or null when either is missing
// or the library has no such export; FreeLibrary ignores null.
void* LoadLibrary(const char16_t* path);
void* LoadLibrary(const char* path);
void* GetProcedure(void* lib, const char* name);
void FreeLibrary(void* lib);

}  // namespace ascommon

#endif  // TERVO_COMMON_ASFILE_H_
