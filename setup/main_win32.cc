// Entry of the Windows program: a GUI-subsystem process with no window of its own.
#include <windows.h>

#include "platform/command_line.h"
#include "platform/os.h"
#include "setup/setup_main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything else may load a DLL: never from the program's own folder.
  os::RestrictDllSearch();
  // An argument the code page cannot hold exactly would name another file.
  os::ProgramArguments arguments(__argc, __argv);
  if (!arguments.exact()) return kSetupMsiexecNotStarted;
  return SetupMain(arguments.count(), arguments.values());
}
