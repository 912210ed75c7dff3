// Entry of the Windows program: a GUI-subsystem process with no window of its own.
#include <windows.h>

#include <cstdlib>

#include "setup/setup_main.h"

// The program's own code never throws. Without this, the runtime's default
// handler for an uncaught exception brings a 45 KB name demangler along.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything else may load a DLL: never from the program's own folder.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return SetupMain(__argc, __argv);
}
