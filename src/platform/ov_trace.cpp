// Trace log. OutputDebugStringA becomes standard error; a trace
// file (--trace FILE) and an in-process sink (tests) may receive the text too.
// All state is constant-initialised, so Trace works before anything is set up.
#include "ov_trace.h"

#include <time.h>

#include <cstdio>
#include <cstring>

#include "ov_memory.h"

namespace {

FILE* g_traceFile = nullptr;
OvTraceSinkFn g_sinkFn = nullptr;
void* g_sinkContext = nullptr;
bool g_quiet = false;

char g_formatBuffer[OV_TRACE_BUFFER_SIZE];

struct Budget {
  uint64_t perSecond = OV_TRACE_BYTES_PER_SECOND;
  uint64_t perRun = OV_TRACE_BYTES_PER_RUN;
  uint64_t runBytes = 0;
  uint64_t secondBytes = 0;
  int64_t second = -1;  // the monotonic second secondBytes counts in
  bool secondToldOnce = false;
  bool runToldOnce = false;
} g_budget;

// Standard error and the trace file: what may fill a disk.
void Emit(const char* text) {
  if (!g_sinkFn && !g_quiet) std::fputs(text, stderr);
  if (g_traceFile) {
    std::fputs(text, g_traceFile);
    std::fflush(g_traceFile);
  }
}

// Whether `bytes` more may go out now; the first refusal of each cap writes
// its line (outside the counts).
bool WithinBudget(uint64_t bytes) {
  Budget& b = g_budget;
  if (b.runBytes + bytes > b.perRun) {
    if (!b.runToldOnce) Emit("!!! Trace output reached its limit for this run: further trace text is dropped.\n");
    b.runToldOnce = true;
    return false;
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (now.tv_sec != b.second) {
    b.second = now.tv_sec;
    b.secondBytes = 0;
  }
  if (b.secondBytes + bytes > b.perSecond) {
    if (!b.secondToldOnce)
      Emit("!!! Trace output is over its limit a second: trace text is dropped until the rate falls (said once).\n");
    b.secondToldOnce = true;
    return false;
  }
  b.secondBytes += bytes;
  b.runBytes += bytes;
  return true;
}

}  // namespace

void OvTraceSetLimits(uint64_t perSecond, uint64_t perRun) {
  g_budget = Budget{};
  g_budget.perSecond = perSecond;
  g_budget.perRun = perRun;
}

void Trace(const char* text) {
  if (!text) return;
  // The in-process sink keeps everything: it is a test's or a tool's memory.
  if (g_sinkFn) g_sinkFn(g_sinkContext, text);
  if ((g_traceFile || (!g_sinkFn && !g_quiet)) && WithinBudget(std::strlen(text))) Emit(text);
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
