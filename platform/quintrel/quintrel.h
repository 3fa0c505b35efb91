// The trace interface: every log line of the system goes through one object
// of this type. The trace library (libquintrel.so) hands one out through
// GetTracerW; this header is its whole interface.
#ifndef TERVO_PLATFORM_QUINTREL_QUINTREL_H_
#define TERVO_PLATFORM_QUINTREL_QUINTREL_H_

#include <stdarg.h>
#include <stdint.h>

class CATrace {
 public:
  virtual ~CATrace() = default;
  // Writes out whatever the trace holds back. The system never calls it.
  virtual void Flush() = 0;
  // The highest level the trace writes. The system never calls it.
  virtual int32_t MaxLevel() = 0;
  // Trace with a va_list. The system never calls it.
  virtual void VTrace(int32_t level, const char* format, va_list args) = 0;
  // Formats printf-style and writes the line at `level` (0 to 3). Callable
  // from any thread; thread safety is the implementation's.
  virtual void Trace(int32_t level, const char* format, ...)
      __attribute__((format(printf, 3, 4))) = 0;
};

// GetTracerW(path, 1): the one export of the trace library. `path` is the
// UTF-16 log file path; answers a trace owned by the library, or null.
extern "C" typedef CATrace* (*GetTracerWFn)(const char16_t* path, int32_t flag);

#endif  // TERVO_PLATFORM_QUINTREL_QUINTREL_H_
