#include <cstdio>
#include <exception>

#include "shell.h"

int main(int argc, char** argv) {
  // Nothing may end the program through an exception.
  try {
    return OrvPlayMain(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvplay: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "orvplay: unexpected failure\n");
  }
  return 1;
}
