// Trace log: every diagnostic line of the program goes through Trace().
#pragma once

#include <cstdarg>
#include <cstdint>

// Sends text unchanged to the trace sinks (standard error, the optional trace
// file, and an installed in-process sink). Callers end their lines with "\n".
// Standard error and the file are capped per second and per run (see
// OvTraceSetLimits): texts past a cap are dropped there, and one line says so
// the first time each cap is hit.
void Trace(const char* text);

// printf-style Trace through one 500-byte buffer; longer lines are cut at 499
// characters, never overflowing.
void _TraceFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

constexpr int OV_TRACE_BUFFER_SIZE = 500;

// Appends every traced text to this file as well (nullptr stops). Returns false
// when the file cannot be opened for appending.
bool OvTraceSetFile(const char* path);

// Replaces standard error as the console sink (tests use this to capture the
// log in process). Pass nullptr to restore standard error.
using OvTraceSinkFn = void (*)(void* context, const char* text);
void OvTraceSetSink(OvTraceSinkFn fn, void* context);

// Silences standard error (the file and sink still receive the text).
void OvTraceSetQuiet(bool quiet);

// Trace output caps in bytes: a script that traces in a loop must not fill
// the disk the notes are saved on. Defaults below; setting them also starts
// the counts again.
constexpr uint64_t OV_TRACE_BYTES_PER_SECOND = uint64_t(256) << 10;
constexpr uint64_t OV_TRACE_BYTES_PER_RUN = uint64_t(32) << 20;
void OvTraceSetLimits(uint64_t perSecond, uint64_t perRun);
