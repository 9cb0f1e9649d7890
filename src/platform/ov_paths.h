// Data-file lookup and small path helpers.
#pragma once

#include <string>

// True when the path names a regular file that can be opened for reading.
bool FileExists(const char* path);

// Opens a regular file for reading without ever waiting (a FIFO or a device
// is refused before anything is read). Returns the descriptor (close-on-exec),
// or -1 with the reason in *error (EISDIR for a folder, EINVAL for anything
// else that is no regular file, or the system's own).
int OvOpenRegularFile(const char* path, int* error);

// A name inside content stays inside its folder: not absolute (no leading
// separator, no drive letter) and no ".." part.
bool OvContentNameAllowed(const char* name);

// The path up to and including its last "/" or "\\"; "./" when it has none.
void FolderOf(std::string& out, const char* path);

// Finds an existing file for a content-supplied name relative to a folder:
// the folder/name overlap, then growing tails of the name under the folder.
// Part names compare ASCII case-insensitively; "/" and "\\" both separate.
// Names OvContentNameAllowed refuses are refused with a trace line. Returns
// false (out cleared) when nothing exists.
bool ResolveDataPath(std::string& out, const char* name, const char* folder);
// The same lookup where only "\\" separates the parts of the name (sound
// names); the folder is a disk path either way.
bool ResolveDataPathBackslash(std::string& out, const char* name, const char* folder);

// Folder of the running executable, without a trailing separator.
std::string OvProgramFolder();
