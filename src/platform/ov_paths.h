// Data-file lookup and small path helpers.
#pragma once

#include <string>

// True when the file can be opened for reading.
bool FileExists(const char* path);

// The path up to and including its last "/" or "\\"; "./" when it has none.
void FolderOf(std::string& out, const char* path);

// Finds an existing file for a content-supplied name relative to a folder:
// the folder/name overlap, then growing tails of the name under the folder,
// then the name itself. Part names compare ASCII case-insensitively; "/" and
// "\\" both separate. Returns false (out cleared) when nothing exists.
bool ResolveDataPath(std::string& out, const char* name, const char* folder);
// The same lookup where only "\\" separates the parts of the name (sound
// names); the folder is a disk path either way.
bool ResolveDataPathBackslash(std::string& out, const char* name, const char* folder);

// Folder of the running executable, without a trailing separator.
std::string OvProgramFolder();
