// Ending on SIGTERM, SIGINT and SIGHUP, also when a frame hangs.
//
// A stop signal asks the loop to end (OvStopRequested) and its normal
// shutdown saves the notes. A watchdog thread gives that 2 s; then it runs the
// interrupt (on the main thread, from a signal handler) every 50 ms so that a
// hung script fails at its next instruction and the loop gets back to its
// own safe point. If the process still runs 2 s later, it exits at once
// without saving (every save replaces files atomically, so none is half
// written).
#pragma once

// Runs inside a signal handler on the main thread: async-signal-safe only.
using OvStopInterruptFn = void (*)();

// Installs the handlers and starts the watchdog (once per process). Call
// before the video system starts, so it does not take the signals itself.
bool OvStopSignalsInstall();
// The interrupt the watchdog uses; null while nothing may be interrupted
// (for example while the interpreter closes).
void OvStopSetInterrupt(OvStopInterruptFn fn);
// The interrupt for the script interpreter: the running script fails at its
// next instruction.
void OvStopInterruptScripts();
// A stop signal arrived: the loop should end.
bool OvStopRequested();
// The program has shut down: the watchdog stands down.
void OvStopFinished();

// Within this long of a stop signal the program is expected to have ended.
constexpr int OV_STOP_GRACE_MS = 2000;
