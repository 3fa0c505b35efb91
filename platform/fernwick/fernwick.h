// libfernwick: regular expressions for the rule engine, over PCRE2 (8-bit,
// UTF mode). Loaded at run time as "fernwick.dll"; it exports exactly the five
// functions below, with C linkage, and two optional ones for pattern sets
// (NewRegExSet, DeleteRegExSet): a caller must work without them. Callers use
// the objects only through the virtual operations declared here, in this
// order.
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

// A prefilter over many patterns: one scan of a subject tells, for every
// pattern of the set, whether it may match. A clear bit is exact: the
// pattern, compiled by Compile above with options 0, finds no match there.
// A set bit says only "may match": the caller asks the pattern itself.
//
// The set engine (RE2) differs from PCRE2 in places, so the set holds a
// pattern without its lookarounds (which only widens it) and refuses those
// whose meaning may differ (backreferences, inline flags, named, atomic and
// conditional groups, Unicode properties, \v, octal-or-backreference
// escapes, "{,n}"), and it declines subjects it cannot decide: invalid UTF-8, a vertical tab (in \s
// for PCRE2 only), a final line feed (before which PCRE2's $ also matches),
// or more than FERNWICK_SET_MAX_SUBJECT bytes.
//
// A pattern may begin with "(?i)", caseless through to its end. The set then
// refuses it when it holds a character past ASCII (written or as \x, \o or
// \N), which the engines may fold differently, and declines every subject
// that is not all ASCII.
//
// Threads: Add and Compile run alone; Scan may run from any number of
// threads at once after Compile.
class FernwickRegExSet {
 public:
  // 1. Adds a pattern of `length` bytes. Answers its number in the set (0,
  // 1, ... in the order accepted), or -1 when the set refuses it; the reason
  // is then in ErrorText.
  virtual int32_t Add(const char* pattern, size_t length) = 0;
  // 2. Why the last Add refused its pattern ("" when it did not).
  virtual const char* ErrorText() const = 0;
  // 3. Builds the set after the last Add; FERNWICK_OK or FERNWICK_E_MEMORY.
  virtual int32_t Compile() = 0;
  // 4. The number of patterns accepted.
  virtual size_t Count() const = 0;
  // 5. Scans `subject[0, length)` once. Answers 1 and sets in `bits` (room
  // for Count() bits, 64 to a word, all written) the bit of every pattern
  // that may match; or answers 0 when the set cannot decide this subject
  // (or is not compiled) and every pattern must be asked.
  virtual int32_t Scan(const char* subject, size_t length, uint64_t* bits) const = 0;

 protected:
  ~FernwickRegExSet() = default;  // DeleteRegExSet destroys
};

#define FERNWICK_SET_MAX_SUBJECT (1u << 20)

extern "C" {
#else
typedef struct FernwickRegEx FernwickRegEx;
typedef struct FernwickBuffMap FernwickBuffMap;
typedef struct FernwickRegExSet FernwickRegExSet;
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
// Optional: an empty pattern set; null when memory runs out.
FernwickRegExSet* NewRegExSet(void);
// Optional: destroys a pattern set; null is ignored.
void DeleteRegExSet(FernwickRegExSet* set);

#ifdef __cplusplus
}  // extern "C"
#endif

// The signatures as function-pointer types, for callers that look the
// functions up at run time.
typedef FernwickRegEx* (*FernwickNewRegExFn)(void);
typedef void (*FernwickDeleteRegExFn)(FernwickRegEx*);
typedef FernwickBuffMap* (*FernwickMakeBuffMapFn)(const char*, size_t);
typedef void (*FernwickDeleteBuffMapFn)(FernwickBuffMap*);
typedef FernwickRegExSet* (*FernwickNewRegExSetFn)(void);
typedef void (*FernwickDeleteRegExSetFn)(FernwickRegExSet*);

#endif  // TERVO_PLATFORM_FERNWICK_FERNWICK_H_
