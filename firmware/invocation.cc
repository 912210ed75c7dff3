#include "firmware/invocation.h"

#include <cstring>

#include "common/bounded_text.h"
#include "firmware/runner.h"

namespace {

// The tool's command line. A folder with a blank gets the tool's path quoted:
// unquoted, Windows would try to run "C:\Program.exe" for "C:\Program Files\...".
text::Result BuildCommandLine(char* commandLine, const char* toolDirectory, bool query) {
  bool quote = std::strpbrk(toolDirectory, " \t") != nullptr;
  const char* format = query ? (quote ? "\"%s\\flashkeeper.exe\" --no" : "%s\\flashkeeper.exe --no")
                             : (quote ? "\"%s\\flashkeeper.exe\" -u -y" : "%s\\flashkeeper.exe -u -y");
  return text::FormatBounded(commandLine, kFwCommandLineCapacity, format, toolDirectory);
}

bool IsRunnerFailure(int32_t result) {
  return result == PROC_CREATE_FAILED || result == PROC_PIPE_READ_FAILED ||
         result == PROC_PIPE_CREATE_FAILED || result == PROC_OUTPUT_COPY_FAILED || result < 0;
}

// The length of the report text actually held: a NUL in the tool's output
// ends it, although the runner's byte count goes on. Never more than the
// buffer less its terminator, so the parser's terminator stays inside.
uint32_t StoredTextLength(const char* output) {
  const void* end = std::memchr(output, '\0', kFwOutputCapacity - 1);
  return end == nullptr ? kFwOutputCapacity - 1
                        : static_cast<uint32_t>(static_cast<const char*>(end) - output);
}

}  // namespace

int32_t CheckAndUpdateFirmware(LogHandle handle, const char* toolDirectory, int32_t queryFlag,
                               bool oemFilter, FirmwareStatus* status, const char* const* partNumbers,
                               int32_t count, bool supportedList) {
  LogMessageParam(handle, "Action started: [1]", "CheckAndUpdateFirmware");
  return RunFlashKeeper(handle, toolDirectory, queryFlag, oemFilter, status, partNumbers, count,
                        supportedList);
}

int32_t RunFlashKeeper(LogHandle handle, const char* toolDirectory, int32_t queryFlag,
                       bool oemFilter, FirmwareStatus* status, const char* const* partNumbers,
                       int32_t count, bool supportedList) {
  *status = kFwUpToDate;
  LogMessageParam(handle, "Action started: [1]", "RunFlashKeeper");
  bool query = queryFlag != 0;
  char commandLine[kFwCommandLineCapacity] = {};
  LogMessage(handle, query ? "RunFlashKeeper: flashkpr querying for firmware update "
                           : "RunFlashKeeper:  start updating the firmware ");
  if (toolDirectory == nullptr || BuildCommandLine(commandLine, toolDirectory, query) != text::kOk) {
    *status = kFwCommandLineFailed;
    LogMessage(handle, "RunFlashKeeper: Failed to copy the command line");
    return kFwCommandLineTooLong;
  }
  LogMessageParam(handle, "RunFlashKeeper: running command [1]", commandLine);

  bool updateRequired = false;
  char output[kFwOutputCapacity] = {};
  uint32_t totalRead = 0;
  int32_t runResult = run_cmd(handle, nullptr, commandLine, output,
                              static_cast<int32_t>(kFwOutputCapacity), &totalRead, false);
  if (IsRunnerFailure(runResult)) {
    LogMessage(handle, "RunFlashKeeper: failed to call the flashkeeper tool");
    return runResult;
  }

  *status = CheckFWUpdateStatByOutpt(handle, output, StoredTextLength(output), oemFilter,
                                     &updateRequired, partNumbers, count, supportedList);
  if (query) {
    if (updateRequired) {
      *status = kFwUpdateRequired;
      LogMessage(handle, "RunFlashKeeper: FW update is required");
    } else {
      LogMessage(handle, "RunFlashKeeper: FW update is not required");
    }
  } else if (runResult == 0) {
    *status = updateRequired ? kFwUpdated : kFwNoProblem;
  }
  return 0;
}

// Interim: filled in with the tool's exit code, the device counts and the
// failure rules by the work on the check's field failures.
int32_t CheckFirmware(LogHandle handle, const FirmwareCheckRequest& request,
                      FirmwareCheckReport* report) {
  *report = FirmwareCheckReport{};
  report->result = CheckAndUpdateFirmware(handle, request.toolDirectory, request.update ? 0 : 1,
                                          request.oemFilter, &report->status, request.partNumbers,
                                          request.count, request.supportedList);
  return report->result;
}

const char* FirmwareCheckFailureReason(const FirmwareCheckRequest&,
                                       const FirmwareCheckReport& report) {
  return report.result == 0 ? nullptr : "the check did not complete";
}
