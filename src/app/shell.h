// Process entry of the memo board: single instance, command line, window,
// the main loop and the shutdown order.
#pragma once

#include <string>

#include <functional>

#include "command_line.h"

class OrvoApp;
class SingleInstance;

// Runs the memo board; returns the process exit status.
int KiwaMemoMain(int argc, char** argv);

// Runs orvplay: any content file on the engine.
int OrvPlayMain(int argc, char** argv);

// The window, the main loop and the shutdown order around an application
// object made by `makeApp` (told whether a real display is there). The
// instance, when given, receives raise requests. Returns the exit status: 1
// also when a screenshot or scene dump could not be written, or, with
// contentMustLoad, when the content did not load completely.
int OvRunShell(const CommandLine& cl, const char* title, const char* contentName,
               const std::function<OrvoApp*(bool hasDisplay)>& makeApp, SingleInstance* instance,
               bool contentMustLoad = false, const char* program = nullptr);

// The folder that holds notes and the instance lock: the --data folder, else
// programFolder + "/data/" when it can be created and written and the program
// folder holds no "installed" mark, else
// $XDG_DATA_HOME/kiwa-memo/data/ (default ~/.local/share). Creates it. Returns
// the folder with a trailing "/", or an empty string with error set. When the
// folder beside the program cannot be used, `notice` names both folders.
// `readOnly` (reading notes only): nothing is created or needs write access;
// an existing folder is taken, the one beside the program when no other is.
std::string ResolveDataFolder(const std::string& programFolder, const std::string& requested, std::string& error,
                              std::string* notice = nullptr, bool readOnly = false);
