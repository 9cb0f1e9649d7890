#include "shell.h"

int main(int argc, char** argv) { return OrvPlayMain(argc, argv); }
