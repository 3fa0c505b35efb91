// The incremental rule list <pfx>_incslf.txt: jobs, each with a job id (JID),
// the new texts of changed rules and the names of deleted rules. The engine
// applies the jobs newer than the last one it applied.
//
// The file is read line by line (LF ends a line; a CR before the LF is read
// as a space; bytes of value 128 and above at the very start are skipped),
// each line classified by its first character:
//   {            opens a job (not inside one); the rest of the line is not read
//   }            closes the job, which must have had exactly one * line
//   *            the JID: the first run of digits on the line (0..2^31-1)
//   + or #       a changed rule: the word after the marker (blanks before it
//                skipped), up to white space, { or /
//   -            a deleted rule: the word after the marker, up to white space
//   space, tab   a line of the text of the changed rule just introduced,
//                leading blank kept
// Empty lines and lines of only blanks are ignored. Any other line, a marker
// outside a job, a text line not after a + or # line of the same job, a
// marker without its name and a file ending inside a job log
// "parse error : line=N" (level 0; N is 1-based, the number of lines + 1 for
// a job left open) and make the load fail.
//
// Concurrency: the const operations may run from several threads at once;
// Load and Parse need the object to themselves.
#ifndef TERVO_SRC_ENGINES_ASSL_INCSLF_FILE_H_
#define TERVO_SRC_ENGINES_ASSL_INCSLF_FILE_H_

#include <stddef.h>
#include <stdint.h>

#include "common/asalloc.h"
#include "common/sstring.h"

namespace nsAssl {

using ascommon::sstring;

struct SChangedItem {
  sstring name;
  // The rule's lines, each but the last followed by a line feed. Blank lines
  // after the + or # line are kept as empty lines, so line k of the text is
  // line `line + k` of the file.
  sstring text;
  int32_t line = 0;  // of the + or # line
};

struct SDeletedItem {
  sstring name;
};

struct SJobInfo {
  int32_t jid = -1;
  ascommon::Vector<SChangedItem> changed;
  ascommon::Vector<SDeletedItem> deleted;
};

class CIncSlfFileInfo {
 public:
  // Reads the file at `path` and parses it as Parse does. Answers 0, or -1
  // when the file cannot be read, memory runs out or Parse fails.
  int32_t Load(const char* path);
  // Replaces the jobs with those of the `size` bytes at `data`. Answers 0,
  // or -1 (no jobs are kept) on a parse error, which is logged, or when
  // memory runs out.
  int32_t Parse(const char* data, size_t size);

  // The largest JID of the jobs, -1 when there is none.
  int32_t GetLastJID() const;
  const ascommon::Vector<SJobInfo>& jobs() const { return jobs_; }
  // The line of the last parse error, 0 when the last Parse met none.
  int32_t error_line() const { return error_line_; }

  // Over the jobs whose JID is greater than `after_jid`, in file order: the
  // texts of their changed rules into `*buffer`, each followed by a line
  // feed; their number into `*changed_count`; their deleted names into
  // `*deleted`, in order. The outputs are replaced, not added to; none may be
  // null. Answers 0, or -1 when memory runs out.
  int32_t GetJobsData(int32_t after_jid, sstring* buffer, uint32_t* changed_count,
                      ascommon::Vector<sstring>* deleted) const;

 private:
  ascommon::Vector<SJobInfo> jobs_;
  int32_t error_line_ = 0;
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_INCSLF_FILE_H_
