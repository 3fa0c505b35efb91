// libfernwick: regular expressions for the rule engine, over PCRE2 (8-bit,
// UTF mode). Loaded at run time as "fernwick.dll"; it exports exactly the five
// functions below, with C linkage. Callers use the objects only through the
// virtual operations declared here, in this order.
//
// Pattern dialect: PCRE2's, compiled with PCRE2_UTF and PCRE2_MATCH_INVALID_UTF,
// so any bytes can be searched: an invalid UTF-8 sequence in a subject matches
// no pattern character, and the rest of the subject is searched as usual.
// Without the FERNWICK_UCP option, \w, \d, \s and \b know only ASCII.
//
// Every search is bounded: a match limit and a depth limit cut off runaway
// backtracking (a pattern such as (a+)+$ on a long run of a's) after about a
// millisecond; such a search answers "no match" and is counted (LimitHits).
//
// Threads: Compile must not run at the same time as any other operation on
// the same object. Searches (Find, Search) on one compiled object may run
// from any number of threads at once: the compiled code is shared and every
// thread has its own match data.
#ifndef TERVO_PLATFORM_FERNWICK_FERNWICK_H_
#define TERVO_PLATFORM_FERNWICK_FERNWICK_H_

#include <stddef.h>
#include <stdint.h>

// Bits of the options word of Compile; 0 is the rule engine's plain pattern.
#define FERNWICK_CASELESS 0x1u   // letters match either case
#define FERNWICK_MULTILINE 0x2u  // ^ and $ match at line breaks too
#define FERNWICK_DOTALL 0x4u     // . matches a line feed too
#define FERNWICK_UCP 0x8u        // \w, \d, \s, \b and POSIX classes use Unicode

// Results of Compile. A refused pattern answers one of these or PCRE2's own
// compile error number: 100 and above, or negative for a pattern that is not
// valid UTF-8.
#define FERNWICK_OK 0
#define FERNWICK_E_ARGUMENT 1  // null pattern with a length, or unknown option bits
#define FERNWICK_E_MEMORY 2    // memory ran out

// Results of Find.
#define FERNWICK_MATCH 1
#define FERNWICK_NO_MATCH 0
#define FERNWICK_E_LIMIT (-1)  // the search was cut off by a limit (counted)

#ifdef __cplusplus

// A regular expression. Create with NewRegEx or NewFastRegEx, destroy with
// DeleteRegEx.
class FernwickRegEx {
 public:
  // 1. The reason the last Compile refused its pattern ("" when it did not),
  // for example "missing closing parenthesis at offset 3".
  virtual const char* ErrorText() const = 0;

  // 2. Compiles `length` bytes at `pattern` (no terminator needed; it may hold
  // zero bytes) with the FERNWICK_* bits in `options`. Answers FERNWICK_OK,
  // or a non-zero code when the pattern is refused; the object then matches
  // nothing until a later Compile succeeds. Replaces any earlier pattern.
  virtual int32_t Compile(const char* pattern, size_t length, uint32_t options) = 0;

  // 3. Looks for the first match in `subject[start, length)`. On a match
  // answers FERNWICK_MATCH and stores the span [*begin, *end) of it (either
  // pointer may be null); else FERNWICK_NO_MATCH (also for an object without
  // a compiled pattern, a null subject with a length, or a start past the
  // end) or FERNWICK_E_LIMIT. The two kinds may place an empty match
  // differently around an invalid UTF-8 sequence.
  virtual int32_t Find(const char* subject, size_t length, size_t start, size_t* begin,
                       size_t* end) const = 0;

  // 4. 1 when `subject[start, length)` holds a match, else 0: Find without
  // the span, with a limit counted as no match.
  virtual uint8_t Search(const char* subject, size_t length, size_t start) const = 0;

  // 5. How many searches on this object a limit has cut off since it was made.
  virtual uint64_t LimitHits() const = 0;

 protected:
  ~FernwickRegEx() = default;  // DeleteRegEx destroys
};

// A buffer map: an owned copy of a text with the offsets of its lines, so
// that one copy can be searched by many expressions and a match offset told
// as a line. Create with MakeBuffMap, destroy with DeleteBuffMap; every
// operation may be called from many threads at once.
class FernwickBuffMap {
 public:
  // 1. The copied bytes (with a zero byte after them) and their number.
  virtual const char* Data() const = 0;
  virtual size_t Size() const = 0;
  // 3. The number of lines: line feeds plus one.
  virtual size_t LineCount() const = 0;
  // 4. The 0-based line that holds byte `offset` (offsets at or past the end
  // give the last line).
  virtual size_t LineOf(size_t offset) const = 0;

 protected:
  ~FernwickBuffMap() = default;  // DeleteBuffMap destroys
};

extern "C" {
#else
typedef struct FernwickRegEx FernwickRegEx;
typedef struct FernwickBuffMap FernwickBuffMap;
#endif

// A regular expression run by PCRE2's interpreter; null when memory runs out.
FernwickRegEx* NewRegEx(void);
// A regular expression compiled to machine code by PCRE2's JIT (the
// interpreter runs it where the JIT is not available); null when memory runs
// out. The rule engine's match conditions use this kind.
FernwickRegEx* NewFastRegEx(void);
// Destroys a regular expression of either kind; null is ignored.
void DeleteRegEx(FernwickRegEx* regex);
// A buffer map over a copy of `length` bytes at `data`; null when memory runs
// out or `data` is null with a length.
FernwickBuffMap* MakeBuffMap(const char* data, size_t length);
// Destroys a buffer map; null is ignored.
void DeleteBuffMap(FernwickBuffMap* map);

#ifdef __cplusplus
}  // extern "C"
#endif

// The signatures as function-pointer types, for callers that look the
// functions up at run time.
typedef FernwickRegEx* (*FernwickNewRegExFn)(void);
typedef void (*FernwickDeleteRegExFn)(FernwickRegEx*);
typedef FernwickBuffMap* (*FernwickMakeBuffMapFn)(const char*, size_t);
typedef void (*FernwickDeleteBuffMapFn)(FernwickBuffMap*);

#endif  // TERVO_PLATFORM_FERNWICK_FERNWICK_H_
