// Process entry of the memo board: single instance, command line, window,
// the main loop and the shutdown order.
#pragma once

#include <string>

// Runs the memo board; returns the process exit status.
int KiwaMemoMain(int argc, char** argv);

// The folder that holds notes and the instance lock: the --data folder, else
// programFolder + "/data/" when it can be created and written, else
// $XDG_DATA_HOME/kiwa-memo/data/ (default ~/.local/share). Creates it. Returns
// the folder with a trailing "/", or an empty string with error set.
std::string ResolveDataFolder(const std::string& programFolder, const std::string& requested, std::string& error);
