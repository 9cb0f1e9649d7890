// The script host: one Lua interpreter for the whole run, the engine's script
// functions, the script files of the "Script" folder, the script chunks of
// content files, the Script node's controller, and the `__ov_` settings store.
//
// Every call from the engine into Lua runs protected and under an
// instruction budget; Lua's memory is capped. Errors never stop the engine:
// each distinct message goes to the trace once as "lua error: MESSAGE".
#pragma once

#include <cstddef>
#include <cstdint>

class OvAniCtrl;
class OvClump;
struct lua_State;

// Lua instructions one call from the engine may run, and Lua's memory cap.
inline constexpr int64_t OV_SCRIPT_INSTRUCTION_BUDGET = 20000000;
// Lua instructions the script ticks of one scene frame may run together
// (some 50 ms on a desktop); the frame's remaining ticks are skipped. One
// tick that cannot end within it, over the calls in a row it was cut short,
// stops its controller.
inline constexpr int64_t OV_SCRIPT_FRAME_BUDGET = 5000000;
inline constexpr size_t OV_SCRIPT_MEMORY_CAP = size_t(256) << 20;

// Starts the host once (a second call does nothing): libraries, functions,
// constants, operators, then every script file of `scriptFolder` (null: the
// "Script" folder next to the program), then the content-loader hook and the
// Script node's controller factory. False when the interpreter cannot start.
bool OvScriptStart(const char* scriptFolder = nullptr);
// Closes the interpreter; every entry point is inert afterwards.
void OvScriptShutdown();
bool OvScriptStarted();

// Runs one chunk as content does: text only (a precompiled chunk is refused
// with a trace line). False when it was refused, failed to compile or raised.
bool OvScriptRunContentChunk(const void* bytes, size_t length);
// Runs a text chunk (tests, tools). False on error.
bool OvScriptRunString(const char* text);

// The number global `name` (0 when undefined, not a number, or no host).
int32_t OvScriptGetSettingInt(const char* name);
float OvScriptGetSettingFloat(const char* name);

// The first script controller of the clump whose node names `scriptName`.
OvAniCtrl* OvFindScriptCtrl(OvClump* clump, const char* scriptName);
// The number field `name` of a script controller's instance table (0 when
// absent, not a number, or ctrl is no script controller).
float OvGetInstanceNumber(OvAniCtrl* ctrl, const char* name);
bool OvSetInstanceNumber(OvAniCtrl* ctrl, const char* name, float value);
// True when ctrl is a script controller that ran out of budget and calls
// Lua no more.
bool OvScriptCtrlStopped(const OvAniCtrl* ctrl);

// Controller ID of script controllers.
inline constexpr int32_t OV_ACID_SCRIPT = 740;

// The interpreter (null while not started), for tests and tools.
lua_State* OvScriptState();
// Bytes Lua holds now.
size_t OvScriptMemoryInUse();
