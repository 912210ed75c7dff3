// Entry of the Windows program: a GUI-subsystem process with no window of its own.
#include <windows.h>

#include "platform/os.h"
#include "setup/setup_main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything else may load a DLL: never from the program's own folder.
  os::RestrictDllSearch();
  return SetupMain(__argc, __argv);
}
