// Timing services: the high-resolution seconds clock, the 32-bit millisecond
// tick counter and the start-up timer-resolution report.
#pragma once

#include <cstdint>

// Performance counter in seconds (raw counts if the frequency is unreadable).
double Seconds();

// Milliseconds since start, wrapping at 2^32 like the system tick counter.
uint32_t OvTickCount();

// Sleeps the calling thread.
void OvSleep(uint32_t ms);

// Traces the counter frequency and the cost of reading the clocks.
void OvTimerResolutionReport();
