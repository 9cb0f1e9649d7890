// Trace log. OutputDebugStringA becomes standard error; a trace
// file (--trace FILE) and an in-process sink (tests) may receive the text too.
// All state is constant-initialised, so Trace works before anything is set up.
#include "ov_trace.h"

#include <cstdio>
#include <cstring>

#include "ov_memory.h"

namespace {

FILE* g_traceFile = nullptr;
OvTraceSinkFn g_sinkFn = nullptr;
void* g_sinkContext = nullptr;
bool g_quiet = false;

char g_formatBuffer[OV_TRACE_BUFFER_SIZE];

}  // namespace

void Trace(const char* text) {
  if (!text) return;
  if (g_sinkFn) {
    g_sinkFn(g_sinkContext, text);
  } else if (!g_quiet) {
    std::fputs(text, stderr);
  }
  if (g_traceFile) {
    std::fputs(text, g_traceFile);
    std::fflush(g_traceFile);
  }
}

void _TraceFormat(const char* format, ...) {
  std::memset(g_formatBuffer, 0, sizeof g_formatBuffer);
  if (format) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_formatBuffer, sizeof g_formatBuffer, format, args);
    va_end(args);
  }
  Trace(g_formatBuffer);
  if (OvTextCollector* collector = OvMemoryTextCollector()) collector->AppendLine(g_formatBuffer);
}

bool OvTraceSetFile(const char* path) {
  if (g_traceFile) {
    std::fclose(g_traceFile);
    g_traceFile = nullptr;
  }
  if (!path) return true;
  g_traceFile = std::fopen(path, "a");
  return g_traceFile != nullptr;
}

void OvTraceSetSink(OvTraceSinkFn fn, void* context) {
  g_sinkFn = fn;
  g_sinkContext = fn ? context : nullptr;
}

void OvTraceSetQuiet(bool quiet) { g_quiet = quiet; }
