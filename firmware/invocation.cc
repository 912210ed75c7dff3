#include "firmware/invocation.h"

#include <cstring>
#include <string>

#include "common/bounded_text.h"
#include "firmware/runner.h"
#include "firmware/tool_protection.h"
#include "platform/os.h"

namespace {

// The tool's command line. A path with a blank or a tab gets quoted:
// unquoted, Windows would try to run "C:\Program.exe" for "C:\Program Files\...".
text::Result BuildCommandLine(char* commandLine, const char* toolPath, bool query) {
  bool quote = std::strpbrk(toolPath, " \t") != nullptr;
  const char* format =
      query ? (quote ? "\"%s\" --no" : "%s --no") : (quote ? "\"%s\" -u -y" : "%s -u -y");
  return text::FormatBounded(commandLine, kFwCommandLineCapacity, format, toolPath);
}

bool IsRunnerFailure(int32_t result) {
  return result == PROC_CREATE_FAILED || result == PROC_PIPE_READ_FAILED ||
         result == PROC_PIPE_CREATE_FAILED || result == PROC_TIMED_OUT ||
         result == PROC_OUTPUT_COPY_FAILED || result < 0;
}

// The length of the report text actually held: a NUL in the tool's output
// ends it, although the runner's byte count goes on. Never more than the
// buffer less its terminator, so the parser's terminator stays inside.
uint32_t StoredTextLength(const char* output) {
  const void* end = std::memchr(output, '\0', kFwOutputCapacity - 1);
  return end == nullptr ? kFwOutputCapacity - 1
                        : static_cast<uint32_t>(static_cast<const char*>(end) - output);
}

// `path` as the tool's path, and its command line.
text::Result SetToolCall(char* toolPath, char* commandLine, const std::string& path, bool query) {
  text::Result copied = text::CopyBounded(toolPath, kFwCommandLineCapacity, path.c_str());
  return copied != text::kOk ? copied : BuildCommandLine(commandLine, toolPath, query);
}

// The tool's full path and its command line, the path made full against the
// current folder: a relative one would otherwise be looked for beside this
// program first. kOk; kInvalidArgument when there is no folder or the path
// cannot be made full; kInsufficientBuffer when the command line does not
// fit, told before the path is made full, since a path too long for the
// command line may be too long for the system as well.
text::Result BuildToolCall(char* toolPath, char* commandLine, const char* toolDirectory,
                           bool query) {
  if (toolDirectory == nullptr || *toolDirectory == '\0') return text::kInvalidArgument;
  char givenPath[kFwCommandLineCapacity];
  if (text::FormatBounded(givenPath, sizeof(givenPath), "%s\\flashkeeper.exe", toolDirectory) !=
          text::kOk ||
      BuildCommandLine(commandLine, givenPath, query) != text::kOk) {
    return text::kInsufficientBuffer;
  }
  std::string fullPath;
  if (!os::Current().FullPathName(givenPath, &fullPath)) return text::kInvalidArgument;
  return SetToolCall(toolPath, commandLine, fullPath, query);
}

int32_t Fail(LogHandle handle, FirmwareCheckReport* report, FirmwareStatus status, int32_t result,
             const char* message) {
  LogMessage(handle, message);
  report->status = status;
  report->result = result;
  return result;
}

// Who runs a check: the legacy entry keeps its callers' behaviour; the
// library's function also lists the devices and, when elevated, protects
// the tool.
enum class Caller { kLegacyEntry, kLibrary };

// Makes `toolPath` and `commandLine` the ones to start, links followed,
// when the check may run the tool; otherwise fills `report` and returns false.
bool ProtectedToolCall(LogHandle handle, char* toolPath, char* commandLine, bool query,
                       FirmwareCheckReport* report) {
  ToolPathCheck check = CheckToolPath(toolPath);
  if (check.verdict == ToolPathCheck::Verdict::kMissing) {
    Fail(handle, report, kFwUpToDate, PROC_CREATE_FAILED,
         "RunFlashKeeper: failed to call the flashkeeper tool");
    return false;
  }
  if (check.verdict == ToolPathCheck::Verdict::kRefused) {
    LogMessageParam(handle, "RunFlashKeeper: [1]", check.reason.c_str());
    report->refusal = check.reason;
    Fail(handle, report, kFwUpToDate, kFwToolNotProtected,
         "RunFlashKeeper: failed to call the flashkeeper tool");
    return false;
  }
  if (SetToolCall(toolPath, commandLine, check.runPath, query) != text::kOk) {
    Fail(handle, report, kFwCommandLineFailed, kFwCommandLineTooLong,
         "RunFlashKeeper: Failed to copy the command line");
    return false;
  }
  return true;
}

// The work of RunFlashKeeper and of RunFirmwareCheck.
int32_t RunCheck(LogHandle handle, const FirmwareCheckRequest& request, Caller caller,
                 FirmwareCheckReport* report) {
  *report = FirmwareCheckReport{};
  LogMessageParam(handle, "Action started: [1]", "RunFlashKeeper");
  bool query = !request.update;
  LogMessage(handle, query ? "RunFlashKeeper: flashkpr querying for firmware update "
                           : "RunFlashKeeper:  start updating the firmware ");
  char toolPath[kFwCommandLineCapacity] = {};
  char commandLine[kFwCommandLineCapacity] = {};
  text::Result built = BuildToolCall(toolPath, commandLine, request.toolDirectory, query);
  // No folder runs nothing: an empty one would run the tool from the root
  // of the current drive.
  if (built == text::kInvalidArgument) {
    return Fail(handle, report, kFwUpToDate, PROC_CREATE_FAILED,
                "RunFlashKeeper: failed to call the flashkeeper tool");
  }
  if (built != text::kOk) {
    return Fail(handle, report, kFwCommandLineFailed, kFwCommandLineTooLong,
                "RunFlashKeeper: Failed to copy the command line");
  }
  if (caller == Caller::kLibrary &&
      !ProtectedToolCall(handle, toolPath, commandLine, query, report)) {
    return report->result;
  }
  LogMessageParam(handle, "RunFlashKeeper: running command [1]", commandLine);

  bool updateRequired = false;
  char output[kFwOutputCapacity] = {};
  uint32_t totalRead = 0;
  RunRequest run;
  run.timeLimitMs = request.timeoutMs;
  run.tick = request.tick;
  // A firmware update cut short can leave a device unusable: nothing ends it.
  run.mayBeEnded = query;
  // Never an update's: a Ctrl+C or a closed window in a shared console
  // would end the tool as well.
  bool shareConsole = query && request.shareConsole && os::Current().HasConsole();
  RunReport ran;
  int32_t runResult =
      run_cmd(handle, toolPath, commandLine, output, static_cast<int32_t>(kFwOutputCapacity),
              &totalRead, shareConsole, run, &ran);
  report->toolEnded = ran.ended;
  report->toolExitCodeKnown = ran.exitCodeKnown;
  report->toolExitCode = ran.exitCode;
  report->timedOut = runResult == PROC_TIMED_OUT;
  if (IsRunnerFailure(runResult)) {
    return Fail(handle, report, kFwUpToDate, runResult,
                "RunFlashKeeper: failed to call the flashkeeper tool");
  }

  uint32_t storedLength = StoredTextLength(output);
  report->reportHeldNul = totalRead > storedLength;
  ReportViewBuilder devices;
  ReportReading reading;
  reading.carriageReturnEndsLine = request.update;
  reading.sink = caller == Caller::kLibrary ? &devices : nullptr;
  DeviceCounts counts;
  report->status = ParseReport(
      handle, output, storedLength,
      DeviceFilter{request.oemFilter, request.partNumbers, request.count, request.supportedList},
      reading, &updateRequired, &counts);
  report->devices = devices.Take();
  report->devicesReported = counts.reported;
  report->devicesExamined = counts.examined;
  if (query) {
    if (updateRequired) {
      report->status = kFwUpdateRequired;
      LogMessage(handle, "RunFlashKeeper: FW update is required");
    } else {
      LogMessage(handle, "RunFlashKeeper: FW update is not required");
    }
  } else if (runResult == 0) {
    report->status = updateRequired ? kFwUpdated : kFwNoProblem;
  }
  return 0;
}

// The legacy entries' callers know no exceptions: one (memory ran out) is
// a failure, as a tool that could not be run.
int32_t LegacyFailure(FirmwareStatus* status) {
  *status = kFwUpToDate;
  return PROC_CREATE_FAILED;
}

}  // namespace

int32_t CheckAndUpdateFirmware(LogHandle handle, const char* toolDirectory, int32_t queryFlag,
                               bool oemFilter, FirmwareStatus* status,
                               const char* const* partNumbers, int32_t count, bool supportedList) {
  try {
    LogMessageParam(handle, "Action started: [1]", "CheckAndUpdateFirmware");
  } catch (...) {
    return LegacyFailure(status);
  }
  return RunFlashKeeper(handle, toolDirectory, queryFlag, oemFilter, status, partNumbers, count,
                        supportedList);
}

int32_t RunFlashKeeper(LogHandle handle, const char* toolDirectory, int32_t queryFlag,
                       bool oemFilter, FirmwareStatus* status, const char* const* partNumbers,
                       int32_t count, bool supportedList) {
  FirmwareCheckReport report;
  try {
    int32_t result = RunCheck(handle,
                              CheckRequestFor(toolDirectory, queryFlag == 0, oemFilter, partNumbers,
                                              count, supportedList),
                              Caller::kLegacyEntry, &report);
    *status = report.status;
    return result;
  } catch (...) {
    return LegacyFailure(status);
  }
}

int32_t RunFirmwareCheck(LogHandle handle, const FirmwareCheckRequest& request,
                         FirmwareCheckReport* report) {
  LogMessageParam(handle, "Action started: [1]", "CheckAndUpdateFirmware");
  return RunCheck(handle, request, Caller::kLibrary, report);
}
