#include "src/engines/assl/incslf_file.h"

#include <stdio.h>
#include <string.h>

#include <new>

#include "common/asfile.h"
#include "src/trace/trace.h"

namespace nsAssl {

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kParseError = -1;
constexpr int32_t kNoMemory = -2;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsBlankLine(const ascommon::String& line) {
  for (char c : line) {
    if (!IsBlank(c)) return false;
  }
  return true;
}

// The first run of digits of `line` as a JID; false when there is none or
// it does not fit in 31 bits.
bool ReadJid(const ascommon::String& line, int32_t* jid) {
  size_t i = 0;
  while (i < line.size() && (line[i] < '0' || line[i] > '9')) ++i;
  if (i == line.size()) return false;
  int64_t value = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = value * 10 + (line[i] - '0');
    if (value > INT32_MAX) return false;
  }
  *jid = static_cast<int32_t>(value);
  return true;
}

// The word after the marker at line[0], blanks before it skipped, up to a
// blank or one of `stops`.
int32_t ReadName(const ascommon::String& line, const char* stops, sstring* name) {
  size_t begin = 1;
  while (begin < line.size() && IsBlank(line[begin])) ++begin;
  size_t end = begin;
  while (end < line.size() && !IsBlank(line[end]) && strchr(stops, line[end]) == nullptr) ++end;
  if (end == begin) return kParseError;
  return name->assign(line.data() + begin, end - begin) == 0 ? kOk : kNoMemory;
}

// Reads the lines one at a time into `jobs`; the answers are kOk, kParseError
// and kNoMemory. Vector growth raises std::bad_alloc.
class JobReader {
 public:
  explicit JobReader(ascommon::Vector<SJobInfo>* jobs) : jobs_(jobs) {}

  int32_t Read(const char* p, size_t n, bool ended_by_lf, int32_t number) {
    line_.assign(p, n);
    if (ended_by_lf && n > 0 && line_.back() == '\r') line_.back() = ' ';
    if (IsBlankLine(line_)) return kOk;
    if (IsBlank(line_[0])) return Text(number);
    if (EndText() != kOk) return kNoMemory;
    switch (line_[0]) {
      case '{':
        if (in_job_) return kParseError;
        in_job_ = true;
        stars_ = 0;
        job_ = SJobInfo();
        return kOk;
      case '}':
        if (!in_job_ || stars_ != 1) return kParseError;
        jobs_->push_back(std::move(job_));
        in_job_ = false;
        return kOk;
      case '*':
        if (!in_job_ || ++stars_ > 1 || !ReadJid(line_, &job_.jid)) return kParseError;
        return kOk;
      case '+':
      case '#':
        return Changed(number);
      case '-':
        if (!in_job_) return kParseError;
        job_.deleted.emplace_back();
        return ReadName(line_, "", &job_.deleted.back().name);
      default:
        return kParseError;
    }
  }

  // At the end of the file: a job left open is an error.
  int32_t Finish() const { return in_job_ ? kParseError : kOk; }

 private:
  int32_t Changed(int32_t number) {
    if (!in_job_) return kParseError;
    job_.changed.emplace_back();
    SChangedItem& item = job_.changed.back();
    item.line = number;
    const int32_t rc = ReadName(line_, "{/", &item.name);
    in_text_ = rc == kOk;
    text_lines_ = 0;
    return rc;
  }

  // A line of the current changed item; blank lines skipped since the last
  // one become empty lines of the text.
  int32_t Text(int32_t number) {
    if (!in_text_) return kParseError;
    const int32_t k = number - job_.changed.back().line;
    text_.append(k - (text_lines_ > 0 ? text_lines_ : 1), '\n');
    text_ += line_;
    text_lines_ = k;
    return kOk;
  }

  // Hands the collected text to its changed item.
  int32_t EndText() {
    if (!in_text_) return kOk;
    in_text_ = false;
    int32_t rc = 0;
    if (!text_.empty()) rc = job_.changed.back().text.assign(text_.data(), text_.size());
    text_.clear();
    return rc == 0 ? kOk : kNoMemory;
  }

  ascommon::Vector<SJobInfo>* jobs_;
  ascommon::String line_;
  bool in_job_ = false;
  int32_t stars_ = 0;
  SJobInfo job_;
  bool in_text_ = false;  // text lines go to job_.changed.back()
  ascommon::String text_;
  int32_t text_lines_ = 0;  // of text_
};

}  // namespace

int32_t CIncSlfFileInfo::Load(const char* path) {
  jobs_.clear();
  ascommon::String data;
  if (ascommon::ReadWholeFile(path, &data) != 0) return -1;
  return Parse(data.data(), data.size());
}

int32_t CIncSlfFileInfo::Parse(const char* data, size_t size) {
  jobs_.clear();
  error_line_ = 0;
  size_t pos = 0;
  while (pos < size && static_cast<unsigned char>(data[pos]) >= 128) ++pos;
  int32_t number = 0;
  int32_t rc = kOk;
  try {
    JobReader reader(&jobs_);
    while (rc == kOk && pos < size) {
      const char* lf = static_cast<const char*>(memchr(data + pos, '\n', size - pos));
      const size_t end = lf != nullptr ? static_cast<size_t>(lf - data) : size;
      rc = reader.Read(data + pos, end - pos, lf != nullptr, ++number);
      pos = end + 1;
    }
    if (rc == kOk && reader.Finish() != kOk) {
      rc = kParseError;
      ++number;
    }
  } catch (const std::bad_alloc&) {
    rc = kNoMemory;
  }
  if (rc == kParseError) {
    error_line_ = number;
    AS_LOG(0, __LINE__, "parse error : line=%d", number);
  }
  if (rc == kOk) return 0;
  jobs_.clear();
  return -1;
}

int32_t CIncSlfFileInfo::GetLastJID() const {
  int32_t last = -1;
  for (const SJobInfo& job : jobs_) {
    if (job.jid > last) last = job.jid;
  }
  return last;
}

int32_t CIncSlfFileInfo::GetJobsData(int32_t after_jid, sstring* buffer, uint32_t* changed_count,
                                     ascommon::Vector<sstring>* deleted) const {
  *changed_count = 0;
  try {
    deleted->clear();
    ascommon::String texts;
    for (const SJobInfo& job : jobs_) {
      if (job.jid <= after_jid) continue;
      for (const SChangedItem& item : job.changed) {
        texts.append(item.text.data() != nullptr ? item.text.data() : "", item.text.length());
        texts += '\n';
        ++*changed_count;
      }
      for (const SDeletedItem& item : job.deleted) {
        deleted->push_back(item.name);
        if (deleted->back().error() != 0) return -1;
      }
    }
    return buffer->assign(texts.data(), texts.size()) == 0 ? 0 : -1;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

}  // namespace nsAssl
