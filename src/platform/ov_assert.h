// OV_ASSERT: a check for programmer errors (a call the code itself got
// wrong), never for bad input. Bad content or files are reported with a
// trace line and a false or null result instead.
//
// It fires in Debug builds and in sanitizer builds of any type: it writes the
// condition, file and line to standard error (whatever the trace is set to)
// and aborts. Elsewhere it compiles to nothing, so the code after it must
// still cope (refuse the call).
#pragma once

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define OV_ASSERT_ON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OV_ASSERT_ON 1
#endif
#endif
#if !defined(OV_ASSERT_ON) && !defined(NDEBUG)
#define OV_ASSERT_ON 1
#endif

#if defined(OV_ASSERT_ON)
[[noreturn]] inline void OvAssertFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "!!! %s:%d: OV_ASSERT(%s) failed\n", file, line, condition);
  std::abort();
}
#define OV_ASSERT(condition) ((condition) ? (void)0 : OvAssertFailed(#condition, __FILE__, __LINE__))
#else
#define OV_ASSERT(condition) ((void)0)
#endif
