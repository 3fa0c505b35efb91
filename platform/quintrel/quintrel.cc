// libquintrel: the trace library. GetTracerW(path, 1) answers a trace that
// appends every formatted line to the file at `path` (backslashes become
// slashes). One trace exists per path; traces live until the library is
// unloaded. Lines above the level in TERVO_TRACE_LEVEL (0 to 3) are dropped;
// unset, every line is written.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/quintrel/quintrel.h"

namespace {

// The file name in UTF-8; an unpaired surrogate becomes U+FFFD. The library
// stands alone, so it carries this small conversion itself.
std::string FileNameOf(const char16_t* path) {
  std::string out;
  for (const char16_t* p = path; *p != u'\0'; ++p) {
    char32_t cp = *p;
    if (cp >= 0xD800 && cp < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (*++p - 0xDC00);
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    int extra = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    static constexpr unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out.push_back(static_cast<char>(kLead[extra] | (cp >> (6 * extra))));
    for (int k = extra - 1; k >= 0; --k) {
      out.push_back(static_cast<char>(0x80 | ((cp >> (6 * k)) & 0x3F)));
    }
  }
  return out;
}

int LevelFromEnvironment() {
  const char* text = getenv("TERVO_TRACE_LEVEL");
  if (text == nullptr || *text == '\0') return 3;
  char* end = nullptr;
  long level = strtol(text, &end, 10);
  if (*end != '\0') return 3;
  return static_cast<int>(level);
}

class FileTrace final : public CATrace {
 public:
  FileTrace(int fd, int max_level) : fd_(fd), max_level_(max_level) {}
  ~FileTrace() override { close(fd_); }

  void Flush() override {}
  int32_t MaxLevel() override { return max_level_; }

  void VTrace(int32_t level, const char* format, va_list args) override {
    if (level > max_level_ || format == nullptr) return;
    char stack_buffer[1024];
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(stack_buffer, sizeof stack_buffer, format, copy);
    va_end(copy);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof stack_buffer) {
      Write(stack_buffer, static_cast<size_t>(n));
      return;
    }
    std::unique_ptr<char[]> heap_buffer(new char[n + 1]);
    vsnprintf(heap_buffer.get(), n + 1, format, args);
    Write(heap_buffer.get(), static_cast<size_t>(n));
  }

  void Trace(int32_t level, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    VTrace(level, format, args);
    va_end(args);
  }

 private:
  // One write per line under the lock, so lines from different threads never
  // interleave.
  void Write(const char* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (size > 0) {
      ssize_t written = write(fd_, data, size);
      if (written < 0) {
        if (errno == EINTR) continue;
        return;
      }
      data += written;
      size -= static_cast<size_t>(written);
    }
  }

  std::mutex mutex_;
  const int fd_;
  const int max_level_;
};

std::mutex g_traces_mutex;
std::map<std::string, std::unique_ptr<FileTrace>> g_traces;

}  // namespace

extern "C" CATrace* GetTracerW(const char16_t* path, int32_t) {
  if (path == nullptr) return nullptr;
  std::string file = FileNameOf(path);
  for (char& c : file) {
    if (c == '\\') c = '/';
  }
  std::lock_guard<std::mutex> lock(g_traces_mutex);
  auto found = g_traces.find(file);
  if (found != g_traces.end()) return found->second.get();
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  auto trace = std::make_unique<FileTrace>(fd, LevelFromEnvironment());
  CATrace* result = trace.get();
  g_traces.emplace(file, std::move(trace));
  return result;
}
