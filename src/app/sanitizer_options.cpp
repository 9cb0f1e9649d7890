// Linked into the programs only in sanitizer builds. They load a GL driver
// that is unloaded at exit, so its process-lifetime allocations can be
// neither symbolised nor suppressed; the engine's own allocations are checked
// by the balance report at the end of the trace.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
