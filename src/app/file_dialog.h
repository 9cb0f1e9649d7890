// The choose-file dialog, shown by an external helper when one is installed.
#pragma once

#include <string>

// Error codes reported by a dialog that did not deliver a file.
constexpr unsigned long kDialogCancelled = 0;
constexpr unsigned long kDialogFailed = 0xFFFF;

// filter is a list of (description, pattern) text pairs ended by an empty
// description, e.g. {"Orvo Files", "*.orv", "All Files", "*.*", nullptr}.
// On success the chosen path is in `chosen`.
bool OvChooseFile(std::string& chosen, const char* title, const char* const* filter, unsigned long* errorCode);
