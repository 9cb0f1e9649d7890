// The choose-file dialog, shown by an external helper when one is installed.
#pragma once

#include <cstddef>

// Error codes reported by a dialog that did not deliver a file.
constexpr unsigned long kDialogCancelled = 0;
constexpr unsigned long kDialogFailed = 0xFFFF;
constexpr unsigned long kDialogBufferTooSmall = 0x3003;

// filter is a list of (description, pattern) text pairs ended by an empty
// description, e.g. {"Orvo Files", "*.orv", "All Files", "*.*", nullptr}.
// On success the chosen path is in buffer (always terminated).
bool OvChooseFile(char* buffer, size_t size, const char* title, const char* const* filter,
                  unsigned long* errorCode);
