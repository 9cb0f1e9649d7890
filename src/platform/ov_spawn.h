// Starting other programs: never through a shell, with no descriptor of ours
// but the standard three, and every child reaped. The "External Execution"
// node and the choose-file dialog both start their programs here.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

struct OvSpawnOptions {
  const char* directory = nullptr;  // the child's working directory; null: ours
  int stdoutFd = -1;                // the child's standard output; -1: ours
};

// The full name of a bare program name on PATH, or "" when there is none.
// Only absolute PATH entries count: the current directory is never searched.
std::string OvFindOnPath(const char* name);

// Starts the program at `path` (no search) with `args` as its argument list
// (args[0] is the name it sees). Standard input is /dev/null. Returns the
// child's process id, or -1.
pid_t OvSpawn(const std::string& path, const std::vector<std::string>& args, const OvSpawnOptions& options = {});

// Waits for a child started by OvSpawn and gives its wait status. False when
// the process is not one of ours.
bool OvSpawnWait(pid_t pid, int* status);

// Reaps every child started by OvSpawn that has ended, without waiting.
// Returns how many still run.
size_t OvReapChildren();

// Splits a parameter text into arguments: blanks separate, double quotes
// group and are removed, a backslash before a double quote makes it literal
// (other backslashes stay, as in paths).
std::vector<std::string> OvSplitArguments(const char* text);

// A program or document named by content.
struct OvProgramRequest {
  const char* file = nullptr;        // never null or empty
  const char* parameters = nullptr;  // may be null
  const char* directory = nullptr;   // working directory; relative to baseFolder; null: none
  const char* baseFolder = nullptr;  // the content's folder
};

// Starts what content names: a bare name is a program on PATH (or, when no
// program has that name, a non-executable file in the base folder opened as
// a document, or an address such as "mailto:..."); a name with a slash ("\\"
// counts as one) must stay under the base folder (relative, no "..", no link
// out of it; "scheme://" addresses aside) and runs when it is an executable
// file, or is opened with xdg-open otherwise. The working directory keeps to
// the same rule. Returns the child's process id, or -1 (a refused name also
// with a trace line).
pid_t OvStartProgram(const OvProgramRequest& request);
