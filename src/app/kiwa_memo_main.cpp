#include <cstdio>
#include <exception>

#include "shell.h"

int main(int argc, char** argv) {
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
