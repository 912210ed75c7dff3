// The firmware check from end to end: runs the firmware manager tool
// `flashkeeper.exe` from a given folder, captures its report and classifies it.
#pragma once

#include <cstdint>

#include "firmware/parser.h"
#include "setup/debug_log.h"

// Result when the tool's command line does not fit its 2048-byte buffer.
inline constexpr int32_t kFwCommandLineTooLong = 5111;

// Capacity of the tool's command line and of its captured report, terminator included.
inline constexpr uint32_t kFwCommandLineCapacity = 2048;
inline constexpr uint32_t kFwOutputCapacity = 102400;

// Runs "<toolDirectory>\flashkeeper.exe --no" (queryFlag non-zero) or
// "<toolDirectory>\flashkeeper.exe -u -y" (update), quoting the tool's path
// when the folder holds a blank, and classifies the report. The part-number
// list, its count, the supported-list flag and the OEM filter flag go to the
// parser unchanged.
//
// Returns 0 when the tool ran and its report was classified, kFwCommandLineTooLong
// (status kFwCommandLineFailed) when the command line does not fit (or no
// folder is given), or the
// runner's failure code (status stays kFwUpToDate). `status` receives the outcome:
// query mode: kFwUpdateRequired when an examined device needs an update, else
// the parser's result (0 or the first problem code 5..10); update mode after a
// normal run: kFwUpdated or kFwNoProblem.
//
// Needs about 104 KB of stack for its fixed buffers.
int32_t CheckAndUpdateFirmware(LogHandle handle, const char* toolDirectory, int32_t queryFlag,
                               bool oemFilter, FirmwareStatus* status, const char* const* partNumbers,
                               int32_t count, bool supportedList);

// The work of CheckAndUpdateFirmware, with the same parameters.
int32_t RunFlashKeeper(LogHandle handle, const char* toolDirectory, int32_t queryFlag,
                       bool oemFilter, FirmwareStatus* status, const char* const* partNumbers,
                       int32_t count, bool supportedList);
