// Linked into test binaries that open GL contexts: the GL driver is unloaded
// at exit, so its process-lifetime allocations can be neither symbolised nor
// suppressed. The engine's own allocations are checked by the balance report.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
