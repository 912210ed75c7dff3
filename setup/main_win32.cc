// Entry of the Windows program: a GUI-subsystem process with no window of its own.
#include <windows.h>

#include <cstdlib>

#include "setup/setup_main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything else may load a DLL: never from the program's own folder.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return SetupMain(__argc, __argv);
}
