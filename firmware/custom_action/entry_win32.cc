// The DLL's custom action entry points. No exception leaves them: the
// actions catch at their own boundary.
#include <windows.h>
#include <msi.h>

#include <cstdlib>

#include "firmware/custom_action/custom_action.h"

// No exception goes uncaught here. Without this, the runtime's default handler
// for an uncaught exception brings a 45 KB name demangler along.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

extern "C" UINT __stdcall CheckFirmware(MSIHANDLE session) { return CheckFirmwareAction(session); }

extern "C" UINT __stdcall UpdateFirmware(MSIHANDLE session) {
  return UpdateFirmwareAction(session);
}
