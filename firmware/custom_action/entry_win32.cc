// The DLL's custom action entry points. No exception leaves them: the
// actions catch at their own boundary.
#include <windows.h>
#include <msi.h>

#include "firmware/custom_action/custom_action.h"

extern "C" UINT __stdcall CheckFirmware(MSIHANDLE session) { return CheckFirmwareAction(session); }

extern "C" UINT __stdcall UpdateFirmware(MSIHANDLE session) {
  return UpdateFirmwareAction(session);
}

extern "C" UINT __stdcall ScheduleFirmwareRestart(MSIHANDLE session) {
  return ScheduleFirmwareRestartAction(session);
}
