#include "src/trace/trace.h"

#include <stdlib.h>

#include "common/dynlib.h"
#include "common/utf8.h"

namespace {

CDummyTrace g_dummy_trace;
void* g_trace_lib = nullptr;

}  // namespace

CATrace* g_pTrace = &g_dummy_trace;

const char* ASFileName(const char* path) {
  if (path == nullptr) return "[no file]";
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\') name = p + 1;
  }
  return name;
}

const char16_t* ASFileNameW(const char16_t* path) {
  if (path == nullptr) return u"[no file]";
  const char16_t* name = path;
  for (const char16_t* p = path; *p != u'\0'; ++p) {
    if (*p == u'\\') name = p + 1;
  }
  return name;
}

std::u16string ASTracerLogPath() {
  const char* folder = getenv("AS_TRACER_PATH");
  std::u16string path = folder != nullptr ? ascommon::Utf8ToUtf16(folder) : u".";
  path += u"\\as2_debug.log";
  return path;
}

void ASTraceSetUp() {
  ASTraceTakeDown();
  void* lib = ascommon::LoadDynLib("quintrel.dll");
  if (lib == nullptr) return;
  auto get_tracer =
      reinterpret_cast<GetTracerWFn>(ascommon::GetDynLibSymbol(lib, "GetTracerW"));
  CATrace* trace = get_tracer != nullptr ? get_tracer(ASTracerLogPath().c_str(), 1) : nullptr;
  g_trace_lib = lib;
  if (trace != nullptr) g_pTrace = trace;
}

void ASTraceTakeDown() {
  g_pTrace = &g_dummy_trace;
  if (g_trace_lib != nullptr) {
    ascommon::FreeDynLib(g_trace_lib);
    g_trace_lib = nullptr;
  }
}
