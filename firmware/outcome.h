// What a firmware check's outcome means: the rules that fwcheck and the
// installer's actions share, decided here once.
#pragma once

#include <cstdint>
#include <string>

#include "firmware/invocation.h"

// fwcheck's exit codes.
inline constexpr int kExitCheckRan = 0;
inline constexpr int kExitCheckFailed = 1;
inline constexpr int kExitUsage = 2;
// With --detailed-exitcode, for a check that gave an answer:
inline constexpr int kExitUpdateRequiredOrMade = 3;
inline constexpr int kExitDeviceProblem = 4;
// With --detailed-exitcode, while a restart is pending after an earlier
// update, whatever the status: nothing to do until then.
inline constexpr int kExitRestartPending = 5;

// What a result of RunFirmwareCheck means, in a few words.
const char* FirmwareResultMeaning(int32_t result);

// Why the check's outcome is no answer (one line, no line end), or empty
// when it is one. The same rules decide fwcheck's exit code 1, the
// installer's FIRMWARE_CHECK_FAILED and whether its update failed.
std::string FirmwareCheckFailureReason(const FirmwareCheckRequest& request,
                                       const FirmwareCheckReport& report);

// What the status of a check that gave an answer means, in a few words. In
// update mode the status tells only whether an update was reported, so a
// status 0 says what else the examined devices reported.
std::string StatusMeaning(bool update, const FirmwareCheckReport& report);

// Whether an examined device reported an update ("Update required"): in
// update mode, its new firmware waits for a restart, whatever else failed.
bool ExaminedDeviceReportsUpdate(const FirmwareCheckReport& report);

// The answer "an examined device needs an update": a query that gave an answer with status 2.
bool UpdateRequiredAnswer(const FirmwareCheckRequest& request, const FirmwareCheckReport& report);

// --detailed-exitcode for a check that gave an answer: 5 while a restart is
// pending after an earlier update (`report` then null for an update, which
// ran nothing), else 3 an update is required (query) or was made (update),
// 4 a device problem (query), else 0. It follows the status, so an update
// required wins over another device's problem.
int DetailedExitCode(bool update, const FirmwareCheckReport* report, bool restartPending);
