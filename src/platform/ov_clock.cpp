// Timing services: QueryPerformanceCounter/Frequency become
// SDL_GetPerformanceCounter/Frequency, GetTickCount the 32-bit SDL_GetTicks,
// Sleep SDL_Delay. None of them needs SDL_Init.
#include "ov_clock.h"

#include <SDL.h>

#include "ov_trace.h"

double Seconds() {
  // The reciprocal of the frequency is computed once; an unreadable (zero)
  // frequency leaves the factor at 1.0 and is not asked again.
  static double factor = 1.0;
  static bool asked = false;
  if (!asked) {
    asked = true;
    Uint64 frequency = SDL_GetPerformanceFrequency();
    if (frequency != 0) factor = 1.0 / static_cast<double>(frequency);
  }
  return static_cast<double>(SDL_GetPerformanceCounter()) * factor;
}

uint32_t OvTickCount() { return static_cast<uint32_t>(SDL_GetTicks()); }

void OvSleep(uint32_t ms) { SDL_Delay(ms); }

void OvTimerResolutionReport() {
  const Uint64 frequency = SDL_GetPerformanceFrequency();
  const double f = static_cast<double>(frequency);
  auto span = [f](Uint64 from, Uint64 to) { return f != 0.0 ? static_cast<double>(to - from) / f : 0.0; };

  // The trace line keeps its 32-bit form: the low 32 bits of the frequency
  // as a signed number, and 1/f rounded to single precision.
  const long low = static_cast<int32_t>(static_cast<uint32_t>(frequency));
  const float resolution = f != 0.0 ? static_cast<float>(1.0 / f) : 0.0f;
  _TraceFormat("QueryPerformanceFrequency: %ld. So the resolution is %12.11f second.\n", low,
               static_cast<double>(resolution));

  Uint64 c1 = SDL_GetPerformanceCounter();
  Uint64 c2 = SDL_GetPerformanceCounter();
  _TraceFormat("QueryPerformanceCounter() takes: %12.11f second.\n", span(c1, c2));

  c1 = SDL_GetPerformanceCounter();
  (void)OvTickCount();
  c2 = SDL_GetPerformanceCounter();
  _TraceFormat("GetTickCount() takes: %12.11f second.\n", span(c1, c2));
}
