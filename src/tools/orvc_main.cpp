// orvc: compiles a stage source (Lua) into a content file.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "orvc_compiler.h"
#include "ov_node_type.h"
#include "ov_nodes.h"
#include "ov_scene.h"
#include "ov_trace.h"

namespace {

const char* kUsage =
    "Usage: orvc [options] STAGE.lua -o OUT.orv\n"
    "\n"
    "Runs the stage source STAGE.lua (Lua 5.4 in a sandbox, with the builder\n"
    "functions described in docs/content.md) and writes the content file it\n"
    "describes. Files the source names are found next to it.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE        the content file to write (required)\n"
    "  --depfile FILE           also write the files the stage read, as a\n"
    "                           make-style dependency list for OUT.orv\n"
    "  --max-instructions N     stop a stage that runs more than N Lua\n"
    "                           instructions (default 4000000000)\n"
    "  --max-memory MB          stop a stage that uses more than MB megabytes\n"
    "                           of memory, Lua's and the builders' (default 1024)\n"
    "  --max-seconds S          stop a stage that runs longer than S seconds\n"
    "                           (default 60)\n"
    "  --help                   show this text\n"
    "\n"
    "Exit status: 0 when the content file was written, 1 when the stage has an\n"
    "error (shown as FILE:LINE: message), 2 for a bad command line.\n";

bool ParseCount(const char* text, unsigned long long& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  out = std::strtoull(text, &end, 10);
  return *end == '\0' && text[0] != '-';
}

int Usage(const char* problem, const char* arg) {
  std::fprintf(stderr, "orvc: %s%s%s\n\n%s", problem, arg ? " " : "", arg ? arg : "", kUsage);
  return 2;
}

void DropTrace(void*, const char*) {}

// The compiler stops a stage at its time limit between Lua instructions; a
// single library call that never returns (a pathological pattern match) is
// stopped here, a little later, with the same kind of message.
char g_overrun[600];
size_t g_overrunLength = 0;

void Overrun(int) {
  [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, g_overrun, g_overrunLength);
  _exit(1);
}

void ArmOverrun(const std::string& source, double seconds) {
  const int n = std::snprintf(g_overrun, sizeof g_overrun,
                              "%s: the stage ran longer than %g %s (--max-seconds); stopped inside a library call\n",
                              source.c_str(), seconds, seconds == 1 ? "second" : "seconds");
  g_overrunLength = n < 0 ? 0 : std::min(size_t(n), sizeof g_overrun - 1);
  struct sigaction action {};
  action.sa_handler = Overrun;
  sigaction(SIGALRM, &action, nullptr);
  alarm(unsigned(std::ceil(seconds)) + 2);
}

}  // namespace

int main(int argc, char** argv) {
  OrvcOptions options;
  std::string output, depfile;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)name;
      return argv[++i];
    };
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(a, "-o") == 0 || std::strcmp(a, "--output") == 0) {
      const char* v = value(a);
      if (!v) return Usage("missing file after", a);
      output = v;
    } else if (std::strcmp(a, "--depfile") == 0) {
      const char* v = value(a);
      if (!v) return Usage("missing file after", a);
      depfile = v;
    } else if (std::strcmp(a, "--max-instructions") == 0) {
      unsigned long long n = 0;
      if (!ParseCount(value(a), n) || n == 0) return Usage("expected a count above 0 after", a);
      options.maxInstructions = n;
    } else if (std::strcmp(a, "--max-seconds") == 0) {
      const char* v = value(a);
      char* end = nullptr;
      const double n = v ? std::strtod(v, &end) : 0.0;
      if (!v || *end != '\0' || !(n > 0 && n <= 1e6)) return Usage("expected seconds above 0 after", a);
      options.maxSeconds = n;
    } else if (std::strcmp(a, "--max-memory") == 0) {
      unsigned long long n = 0;
      if (!ParseCount(value(a), n) || n == 0 || n > (1ull << 20)) return Usage("expected megabytes above 0 after", a);
      options.maxMemory = size_t(n) << 20;
    } else if (a[0] == '-' && a[1] != '\0') {
      return Usage("unknown option", a);
    } else if (!options.source.empty()) {
      return Usage("more than one stage source:", a);
    } else {
      options.source = a;
    }
  }
  if (options.source.empty()) return Usage("no stage source given", nullptr);
  if (output.empty()) return Usage("no output file given (-o OUT.orv)", nullptr);

  // The engine's record types, so nodes are found by their display names.
  OvRegisterNodeTypes();
  OvRegisterRendererNodeTypes();
  OvRegisterSceneExtensionTypes();
  // Everything the compiler has to say comes back as its own message.
  OvTraceSetSink(&DropTrace, nullptr);

  int status = 0;
  {
    OrvcCompiler compiler(options);
    ArmOverrun(options.source, options.maxSeconds);
    const bool compiled = compiler.Compile();
    alarm(0);
    if (!compiled || !compiler.Save(output) || (!depfile.empty() && !compiler.WriteDepfile(depfile, output))) {
      std::fprintf(stderr, "%s\n", compiler.Error().c_str());
      status = 1;
    }
  }
  OvTraceSetSink(nullptr, nullptr);
  OvRegistriesShutdown();
  return status;
}
