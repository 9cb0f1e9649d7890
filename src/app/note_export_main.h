// kiwa-memo --export DIR: every note of the data folder as a PNG, no window.
#pragma once

#include <string>

// Prints what was written and what was skipped; returns the exit status
// (0 every note written, 1 otherwise).
int OvRunNoteExport(const std::string& dataFolder, const std::string& outFolder);
