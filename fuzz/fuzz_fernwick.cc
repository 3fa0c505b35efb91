// Fuzzes libfernwick: the input is a pattern length byte, an options byte,
// the pattern and the subject. The pattern is compiled by both kinds of
// object, which must agree on refusing it; then both search the subject from
// a few offsets. Search must answer as Find, a match span must lie inside the
// subject, and the buffer map must put it on the line the line feeds before
// it say. The two kinds must give the same answer and span from the start of
// a subject PCRE2 takes as valid UTF-8; around invalid UTF-8 its JIT and its
// interpreter differ (an empty match after a trailing invalid byte, for one),
// which is PCRE2's own behaviour. The per-input time limit of the run catches
// a search the limits fail to stop.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <stddef.h>
#include <stdint.h>

#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "platform/fernwick/fernwick.h"

namespace {

struct Objects {
  FernwickRegEx* kinds[2] = {NewRegEx(), NewFastRegEx()};
  ~Objects() {
    for (FernwickRegEx* regex : kinds) DeleteRegEx(regex);
  }
};

// Whether PCRE2 in UTF mode takes the subject as valid: the empty pattern
// matches any subject that passes its check.
bool ValidUtf8(const char* subject, size_t length) {
  int code = 0;
  PCRE2_SIZE offset = 0;
  static pcre2_code* const empty = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(""), 0, PCRE2_UTF, &code, &offset, nullptr);
  static pcre2_match_data* const data = pcre2_match_data_create(1, nullptr);
  FUZZ_CHECK(empty != nullptr && data != nullptr, "no PCRE2 to check UTF-8 with");
  return pcre2_match(empty, reinterpret_cast<PCRE2_SPTR>(length != 0 ? subject : ""), length, 0, 0, data, nullptr) > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t pattern_length = std::min<size_t>(data[0], size - 2);
  const uint32_t options = data[1] & 0x1F;  // one unknown bit, to see it refused
  const char* pattern = reinterpret_cast<const char*>(data + 2);
  const char* subject = pattern + pattern_length;
  const size_t length = size - 2 - pattern_length;

  static Objects objects;
  int32_t codes[2];
  for (int k = 0; k < 2; ++k) codes[k] = objects.kinds[k]->Compile(pattern, pattern_length, options);
  FUZZ_CHECK((codes[0] == 0) == (codes[1] == 0), "the two kinds disagree on a pattern");
  if ((options & 0x10) != 0) FUZZ_CHECK(codes[0] == FERNWICK_E_ARGUMENT, "unknown option taken");
  if (codes[0] != 0) {
    FUZZ_CHECK(objects.kinds[0]->Search(subject, length, 0) == 0, "a refused pattern matched");
    return 0;
  }

  if (ValidUtf8(subject, length)) {
    size_t spans[2][2] = {};
    int32_t found[2];
    for (int k = 0; k < 2; ++k) found[k] = objects.kinds[k]->Find(subject, length, 0, &spans[k][0], &spans[k][1]);
    if (found[0] != FERNWICK_E_LIMIT && found[1] != FERNWICK_E_LIMIT) {
      FUZZ_CHECK(found[0] == found[1], "the two kinds disagree on a valid UTF-8 subject");
      FUZZ_CHECK(found[0] != FERNWICK_MATCH || (spans[0][0] == spans[1][0] && spans[0][1] == spans[1][1]),
                 "the two kinds find different spans");
    }
  }

  FernwickBuffMap* map = MakeBuffMap(subject, length);
  FUZZ_CHECK(map != nullptr && map->Size() == length, "buffer map lost the text");
  for (size_t start : {size_t{0}, length / 2, length}) {
    for (FernwickRegEx* regex : objects.kinds) {
      size_t begin = 0, end = 0;
      const int32_t found = regex->Find(subject, length, start, &begin, &end);
      FUZZ_CHECK(regex->Search(subject, length, start) == (found == FERNWICK_MATCH) ||
                     found == FERNWICK_E_LIMIT,
                 "Search and Find disagree");
      if (found != FERNWICK_MATCH) continue;
      FUZZ_CHECK(start <= begin && begin <= end && end <= length, "match span outside the subject");
      const size_t line = static_cast<size_t>(std::count(subject, subject + begin, '\n'));
      FUZZ_CHECK(map->LineOf(begin) == line, "buffer map puts a match on the wrong line");
    }
  }
  DeleteBuffMap(map);
  return 0;
}
