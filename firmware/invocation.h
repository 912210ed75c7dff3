// The firmware check from end to end: runs the firmware manager tool
// `flashkeeper.exe` from a given folder, captures its report and classifies it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "firmware/parser.h"
#include "firmware/report_view.h"
#include "firmware/runner.h"
#include "setup/debug_log.h"

// Result when the tool's command line does not fit its 2048-byte buffer.
inline constexpr int32_t kFwCommandLineTooLong = 5111;
// Result when an elevated check does not run the tool, since an account
// that is not trusted can change it (FirmwareCheckReport::refusal says how).
inline constexpr int32_t kFwToolNotProtected = 5112;

// Capacity of the tool's command line and of its captured report, terminator included.
inline constexpr uint32_t kFwCommandLineCapacity = 2048;
inline constexpr uint32_t kFwOutputCapacity = 102400;

// One check's settings.
struct FirmwareCheckRequest {
  const char* toolDirectory = nullptr;
  bool update = false;  // update mode ("-u -y"); query mode ("--no") otherwise
  bool oemFilter = false;
  const char* const* partNumbers = nullptr;
  int32_t count = 0;
  bool supportedList = false;
  // Query mode only: the tool is ended once this many milliseconds have
  // passed. 0 waits without limit; update mode always does.
  uint32_t timeoutMs = 0;
  // Called while the tool runs (RunTick). Its asking to stop ends a query;
  // in update mode it is logged and ignored: an update is never ended early.
  RunTick tick;
  // A query's tool may share this program's console, when there is one
  // (fwcheck sets it): no console of its own to start for every check.
  bool shareConsole = false;
};

// The request for one check, however it is started (timeout and tick left
// unset); it points into `toolDirectory` and `partNumbers`, which must outlive it.
inline FirmwareCheckRequest CheckRequestFor(const char* toolDirectory, bool update, bool oemFilter,
                                            const char* const* partNumbers, int32_t count,
                                            bool supportedList) {
  FirmwareCheckRequest request;
  request.toolDirectory = toolDirectory;
  request.update = update;
  request.oemFilter = oemFilter;
  request.partNumbers = partNumbers;
  request.count = count;
  request.supportedList = supportedList;
  return request;
}

// What one check found, beyond its status and result.
struct FirmwareCheckReport {
  FirmwareStatus status = kFwUpToDate;
  int32_t result = 0;
  bool toolExitCodeKnown = false;  // the tool ran and its exit code was read
  uint32_t toolExitCode = 0;
  uint32_t devicesReported = 0;  // "Device #" lines in the report
  uint32_t devicesExamined = 0;  // devices that no filter left out
  bool reportHeldNul = false;    // a NUL byte came in the tool's output
  bool timedOut = false;         // the tool was ended at the time limit
  bool toolEnded = false;        // the tool was seen to end
  // The report device by device, when it was read (result 0).
  std::vector<DeviceView> devices;
  // Result kFwToolNotProtected: who can change what, and that nothing ran.
  std::string refusal;
};

// The whole check, with everything it found: runs the tool for `request`
// and fills `report`; returns report->result. The legacy entry below is this
// for its own parameters, except that this one, in a process that runs
// elevated or as the system, runs the tool only when no account but the
// trusted ones can change it (tool_protection.h); the legacy entry's callers
// decide that themselves.
int32_t RunFirmwareCheck(LogHandle handle, const FirmwareCheckRequest& request,
                         FirmwareCheckReport* report);

// The legacy entry, its parameters and results kept for its callers.
//
// Runs "<toolDirectory>\flashkeeper.exe --no" (queryFlag non-zero) or
// "<toolDirectory>\flashkeeper.exe -u -y" (update), quoting the tool's path
// when it holds a blank or a tab, and classifies the report. A relative
// folder is made full against the current folder first, and the tool's path
// is also given as the program to run, so no search order applies. The
// part-number list, its count, the supported-list flag and the OEM filter
// flag go to the parser unchanged.
//
// Returns 0 when the tool ran and its report was classified, kFwCommandLineTooLong
// (status kFwCommandLineFailed) when the command line does not fit,
// PROC_CREATE_FAILED (status kFwUpToDate) when no folder is given or it
// cannot be made full, or the runner's failure code (status stays kFwUpToDate). `status` receives
// the outcome: query mode: kFwUpdateRequired when an examined device needs an update, else the
// parser's result (0 or the first problem code 5..10); update mode after a normal run: kFwUpdated
// or kFwNoProblem.
//
// Needs about 104 KB of stack for its fixed buffers.
int32_t CheckAndUpdateFirmware(LogHandle handle, const char* toolDirectory, int32_t queryFlag,
                               bool oemFilter, FirmwareStatus* status,
                               const char* const* partNumbers, int32_t count, bool supportedList);

// The work of CheckAndUpdateFirmware, with the same parameters.
int32_t RunFlashKeeper(LogHandle handle, const char* toolDirectory, int32_t queryFlag,
                       bool oemFilter, FirmwareStatus* status, const char* const* partNumbers,
                       int32_t count, bool supportedList);
