// Small helpers shared by the test suites.
#ifndef TERVO_TESTS_SUPPORT_TEST_SUPPORT_H_
#define TERVO_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "src/trace/trace.h"

namespace tervo_test {

// A fresh folder "<tag>-XXXXXX" under the system's temporary folder ($TMPDIR
// or /tmp), removed with its contents when the object goes away; its path is
// empty when it cannot be made.
class TempDir {
 public:
  explicit TempDir(const char* tag = "tervo") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(tag) + "-XXXXXX")).string();
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The folder that holds the running test program (and the built libraries).
inline std::string ProgramFolder() {
  return std::filesystem::canonical("/proc/self/exe").parent_path().string();
}

// The exit status and output of the built tervo command, run with `args` in
// folder `dir` as a user runs it.
struct CommandResult {
  int status;
  std::string out;  // stdout, and stderr unless only stdout was asked for
};

inline CommandResult RunTervo(const std::string& args, const std::string& dir,
                              bool stdout_only = false) {
  std::string command = "cd '" + dir + "' && '" + ProgramFolder() + "/tervo' " + args +
                        (stdout_only ? " 2>/dev/null" : " 2>&1");
  CommandResult run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
  int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_old_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::string old_;
  bool had_old_ = false;
};

// A trace that keeps every formatted line; installed in g_pTrace for the life
// of the object.
class CapturingTrace final : public CATrace {
 public:
  CapturingTrace() : previous_(g_pTrace) { g_pTrace = this; }
  ~CapturingTrace() override { g_pTrace = previous_; }

  void Flush() override {}
  int32_t MaxLevel() override { return 3; }
  void VTrace(int32_t level, const char* format, va_list args) override {
    char buffer[4096];
    vsnprintf(buffer, sizeof buffer, format, args);
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(buffer);
    levels_.push_back(level);
  }
  void Trace(int32_t level, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    VTrace(level, format, args);
    va_end(args);
  }

  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  // The lines without their "[TAG] [file:line] - " prefix and line break:
  // the texts the code logged.
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const std::string& line : lines()) {
      size_t dash = line.find("] - ");
      std::string text = dash == std::string::npos ? line : line.substr(dash + 4);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      out.push_back(text);
    }
    return out;
  }
  std::vector<int32_t> levels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return levels_;
  }

 private:
  CATrace* previous_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::vector<int32_t> levels_;
};

}  // namespace tervo_test

#endif  // TERVO_TESTS_SUPPORT_TEST_SUPPORT_H_
