#include "shell.h"

int main(int argc, char** argv) { return KiwaMemoMain(argc, argv); }
