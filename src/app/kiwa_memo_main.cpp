#include <csignal>
#include <cstdio>
#include <exception>

#include "shell.h"

int main(int argc, char** argv) {
  // A write past the file-size limit must fail and be reported like a full
  // disk, not end the board in the middle of saving.
  std::signal(SIGXFSZ, SIG_IGN);
  // Nothing may end the program through an exception.
  try {
    return KiwaMemoMain(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kiwa-memo: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "kiwa-memo: unexpected failure\n");
  }
  return 1;
}
