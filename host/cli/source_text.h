// Line and number parsing shared by the readable sources of the data files.
#ifndef TERVO_HOST_CLI_SOURCE_TEXT_H_
#define TERVO_HOST_CLI_SOURCE_TEXT_H_

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

namespace tervo_cli {

// The blank-separated fields of `line`; a field starting with '#' ends it.
inline std::vector<std::string> SourceFields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; in >> field;) {
    if (field[0] == '#') break;
    fields.push_back(field);
  }
  return fields;
}

// Parses a whole decimal field that fits a signed 32-bit integer.
inline bool ParseInt32(const std::string& text, int32_t* value) {
  errno = 0;
  char* end = nullptr;
  long long v = strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) {
    return false;
  }
  *value = static_cast<int32_t>(v);
  return true;
}

// Calls `handle(fields, fail)` for each line of `text` that has fields, in
// order; `fail(problem)` puts "FILE:LINE: problem" in `*error` and answers
// false. Stops at the first line `handle` answers false for, answering false.
template <class F>
bool ForEachSourceLine(const std::string& text, const std::string& file_name,
                       std::string* error, F&& handle) {
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::vector<std::string> fields = SourceFields(line);
    if (fields.empty()) continue;
    auto fail = [&](const std::string& problem) {
      *error = file_name + ":" + std::to_string(number) + ": " + problem;
      return false;
    };
    if (!handle(fields, fail)) return false;
  }
  return true;
}

}  // namespace tervo_cli

#endif  // TERVO_HOST_CLI_SOURCE_TEXT_H_
