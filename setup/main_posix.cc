// Entry of the native build, for tests of the whole run.
#include "setup/setup_main.h"

int main(int argc, char** argv) { return SetupMain(argc, argv); }
