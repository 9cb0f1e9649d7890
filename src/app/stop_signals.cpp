#include "stop_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <lua.hpp>
#include "ov_script_host.h"

namespace {

// The watchdog reaches the main thread with this signal; it is ignored by
// default, so a late one after the handlers are gone does no harm.
constexpr int kInterruptSignal = SIGURG;
constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t g_signal = 0;
std::atomic<OvStopInterruptFn> g_interrupt{nullptr};
std::atomic<bool> g_finished{false};
int g_wake[2] = {-1, -1};
pthread_t g_mainThread;

void Say(const char* text) {
  const ssize_t n = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)n;
}

void OnSignal(int sig) {
  const int saved = errno;
  if (sig == kInterruptSignal) {
    if (OvStopInterruptFn fn = g_interrupt.load()) fn();
  } else {
    if (g_signal == 0) g_signal = sig;
    const char c = 1;
    const ssize_t n = ::write(g_wake[1], &c, 1);
    (void)n;
  }
  errno = saved;
}

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Sleeps until `until` or the end of the program; true when it ended.
bool WaitForEnd(double until) {
  while (!g_finished.load()) {
    const double left = until - Now();
    if (left <= 0) return false;
    const double step = left < 0.05 ? left : 0.05;
    timespec t{0, long(step * 1e9)};
    nanosleep(&t, nullptr);
  }
  return true;
}

void* Watchdog(void*) {
  char c = 0;
  ssize_t n;
  do {
    n = ::read(g_wake[0], &c, 1);
  } while (n < 0 && errno == EINTR);
  if (n != 1) return nullptr;
  const double grace = OV_STOP_GRACE_MS / 1000.0;
  if (WaitForEnd(Now() + grace)) return nullptr;
  Say("The program has not ended 2 s after a stop signal: its scripts are interrupted.\n");
  // The interpreter resets its hook at each call from the engine: keep at it.
  const double giveUp = Now() + grace;
  while (!g_finished.load() && Now() < giveUp) {
    pthread_kill(g_mainThread, kInterruptSignal);
    if (WaitForEnd(Now() + 0.05)) return nullptr;
  }
  if (g_finished.load()) return nullptr;
  Say("The program could not reach a safe point to save from: it ends without saving.\n");
  _exit(128 + int(g_signal));
}

}  // namespace

bool OvStopSignalsInstall() {
  static bool installed = false;
  if (installed) return true;
  if (::pipe2(g_wake, O_CLOEXEC) != 0) return false;
  g_mainThread = pthread_self();
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : kStopSignals) sigaction(sig, &sa, nullptr);
  sigaction(kInterruptSignal, &sa, nullptr);
  // The watchdog takes no signal itself: they all reach the main thread.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pthread_t thread;
  const bool started = pthread_create(&thread, nullptr, Watchdog, nullptr) == 0;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (started) pthread_detach(thread);
  installed = started;
  return started;
}

void OvStopSetInterrupt(OvStopInterruptFn fn) { g_interrupt.store(fn); }

namespace {
void StopHook(lua_State* L, lua_Debug*) { luaL_error(L, "stopped: the program is ending"); }
}  // namespace

void OvStopInterruptScripts() {
  // Setting a hook is what the interpreter allows from a signal handler; with
  // a count of 1 every instruction fails, so a pcall cannot carry on.
  if (lua_State* L = OvScriptState()) lua_sethook(L, StopHook, LUA_MASKCOUNT, 1);
}

bool OvStopRequested() { return g_signal != 0; }

void OvStopFinished() { g_finished.store(true); }
