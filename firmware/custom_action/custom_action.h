// The firmware check as Windows Installer custom actions, on an installer
// session handle (an MSIHANDLE, which is also the check's LogHandle). The
// DLL's entry points call these; every line the check logs goes to the
// installer's own log as well.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os.h"

inline constexpr uint32_t kActionSuccess = 0;      // ERROR_SUCCESS
inline constexpr uint32_t kActionUserExit = 1602;  // ERROR_INSTALL_USEREXIT
inline constexpr uint32_t kActionInstallFailure = os::kErrorInstallFailure;

// The query's time limit: a tool that hangs must not hold the install forever.
inline constexpr uint32_t kInstallerQueryTimeoutMs = 5 * 60 * 1000;
// While the query runs, the installer is asked this often whether the user
// cancelled.
inline constexpr uint32_t kQueryCancelPollMs = 1000;
// While the update runs, the installer hears this often how long it has run.
inline constexpr uint32_t kUpdateReportIntervalMs = 60 * 1000;

// Immediate action, query mode. Reads FIRMWARE_TOOL_DIR (made full against
// the current folder), FIRMWARE_OEM_FILTER, FIRMWARE_SUPPORTED or
// FIRMWARE_SKIP, FIRMWARE_UPDATE_MUST_SUCCEED and FIRMWARE_REBOOT; sets
// FIRMWARE_STATUS, FIRMWARE_RESULT, FIRMWARE_DEVICES_REPORTED,
// FIRMWARE_DEVICES_EXAMINED, FIRMWARE_UPDATE_REQUIRED ("1" or empty),
// FIRMWARE_CHECK_FAILED ("1" or empty), FIRMWARE_RESTART_PENDING ("1" or
// empty) and the UpdateFirmware action's CustomActionData. While a restart is
// pending after an earlier update, no update is asked for, and the marker
// for ScheduleFirmwareRestart is left unless FIRMWARE_REBOOT is 0.
// kActionSuccess: the check informs, it does not fail the install;
// kActionUserExit when the user cancelled while the query ran (the query is
// ended then).
uint32_t CheckFirmwareAction(uint32_t session);

// Deferred action, update mode, settings from CustomActionData only. Tells
// the installer that the update runs, hides its Cancel button meanwhile and
// reports every `reportIntervalMs` how long it has run. A failed update
// (malformed data included) gives kActionInstallFailure when the data asks
// the update to succeed, else it is logged and the action goes on. A cancel
// that came while the update ran does not end it; the action gives
// kActionUserExit once it is over. An update in which an examined device
// reported an update, failed or not, records that a restart is pending; when
// the install goes on it also leaves a marker for ScheduleFirmwareRestart,
// unless the data holds FIRMWARE_REBOOT=0.
uint32_t UpdateFirmwareAction(uint32_t session,
                              uint32_t reportIntervalMs = kUpdateReportIntervalMs);

// Immediate action after InstallFinalize. When UpdateFirmware left its
// marker: asks for a restart at the end of the install (msiexec ends with
// 3010) and, unless REBOOT is set or the user interface is reduced or full
// (UILevel 4 or 5, where the installer asks the user), sets
// REBOOT=ReallySuppress so that the installer never restarts by itself.
// Always kActionSuccess.
uint32_t ScheduleFirmwareRestartAction(uint32_t session);

// A log line as a record template that the installer's formatting gives back
// unchanged: brackets and braces escaped as "[\[]", "[\]]", "[\{]", "[\}]".
std::string InstallerLogTemplate(std::string_view first, std::string_view second = {},
                                 std::string_view third = {});
