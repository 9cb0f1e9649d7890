// Captures the trace log in process for the duration of a test.
#pragma once

#include <string>

#include "ov_trace.h"

class TraceCapture {
 public:
  TraceCapture() { OvTraceSetSink(&TraceCapture::Sink, this); }
  ~TraceCapture() { OvTraceSetSink(nullptr, nullptr); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  const std::string& Text() const { return m_text; }
  void Clear() { m_text.clear(); }
  bool Contains(const std::string& s) const { return m_text.find(s) != std::string::npos; }

 private:
  static void Sink(void* self, const char* text) { static_cast<TraceCapture*>(self)->m_text += text; }
  std::string m_text;
};
