// The firmware check as two Windows Installer custom actions, on an installer
// session handle (an MSIHANDLE, which is also the check's LogHandle). The
// DLL's entry points call these; every line the check logs goes to the
// installer's own log as well.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr uint32_t kActionSuccess = 0;            // ERROR_SUCCESS
inline constexpr uint32_t kActionInstallFailure = 1603;  // ERROR_INSTALL_FAILURE

// The query's time limit: a tool that hangs must not hold the install forever.
inline constexpr uint32_t kInstallerQueryTimeoutMs = 5 * 60 * 1000;

// Immediate action, query mode. Reads FIRMWARE_TOOL_DIR, FIRMWARE_OEM_FILTER,
// FIRMWARE_SUPPORTED or FIRMWARE_SKIP and FIRMWARE_UPDATE_MUST_SUCCEED; sets
// FIRMWARE_STATUS, FIRMWARE_RESULT, FIRMWARE_UPDATE_REQUIRED ("1" or empty),
// FIRMWARE_CHECK_FAILED ("1" or empty) and the UpdateFirmware action's
// CustomActionData. Always kActionSuccess: the check informs, it does not
// fail the install.
uint32_t CheckFirmwareAction(uint32_t session);

// Deferred action, update mode, settings from CustomActionData only. A failed
// update (malformed data included) gives kActionInstallFailure when the data
// holds FIRMWARE_UPDATE_MUST_SUCCEED=1, else kActionSuccess after logging it.
uint32_t UpdateFirmwareAction(uint32_t session);

// A log line as a record template that the installer's formatting gives back
// unchanged: "[" and "]" escaped as "[\[]" and "[\]]".
std::string InstallerLogTemplate(std::string_view first, std::string_view second = {},
                                 std::string_view third = {});
