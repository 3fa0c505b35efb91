// The process-wide trace pointer and the log-line macro.
#ifndef TERVO_SRC_TRACE_TRACE_H_
#define TERVO_SRC_TRACE_TRACE_H_

#include <string>

#include "platform/quintrel/quintrel.h"

// A trace that writes nothing: in force whenever no trace library is loaded.
class CDummyTrace final : public CATrace {
 public:
  void Flush() override {}
  int32_t MaxLevel() override { return -1; }
  void VTrace(int32_t, const char*, va_list) override {}
  void Trace(int32_t, const char*, ...) override {}
};

// Points at the dummy trace until ASTraceSetUp installs the library's trace.
// Written only by set-up and take-down.
extern CATrace* g_pTrace;

// The part of `path` after its last backslash, the whole path when it has
// none, "[no file]" for null. Forward slashes are not separators here.
const char* ASFileName(const char* path);
const char16_t* ASFileNameW(const char16_t* path);

// The log path handed to the trace library: $AS_TRACER_PATH (or ".") then
// "\as2_debug.log".
std::u16string ASTracerLogPath();

// Loads the trace library and installs its trace; keeps the dummy trace when
// the library, its export or its trace is missing. Called when the plug-in is
// loaded, before any other thread runs in it.
void ASTraceSetUp();
// Restores the dummy trace and unloads the trace library.
void ASTraceTakeDown();

#define AS_LOG_PREFIX "[ANTISPAM          ] [%20s:%-4d] - "
#define AS_EXCEPTION_PREFIX "[ANTISPAM EXCEPTION] [%20s:%-4d] - "

// Writes one log line: the prefix with this source file's name and `line`,
// then `text` formatted with the arguments, then a line break. `text` must be
// a string literal. Above the trace's level nothing is evaluated: hot paths
// may log freely when the host turns the trace down.
#define AS_LOG(level, line, text, ...)                                               \
  do {                                                                               \
    if ((level) <= g_pTrace->MaxLevel()) {                                           \
      g_pTrace->Trace((level), AS_LOG_PREFIX text "\n", ASFileName(__FILE_NAME__),    \
                      (line)__VA_OPT__(, ) __VA_ARGS__);                             \
    }                                                                                \
  } while (0)

#endif  // TERVO_SRC_TRACE_TRACE_H_
