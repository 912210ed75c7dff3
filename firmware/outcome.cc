#include "firmware/outcome.h"

#include <iterator>

#include "common/number_text.h"
#include "firmware/runner.h"

namespace {

constexpr uint32_t kWindowsExceptionCodes = 0xC0000000u;

// A status and words for it.
struct StatusText {
  FirmwareStatus status;
  const char* text;
};

constexpr StatusText kStatusMeanings[] = {
    {kFwNoProblem, "no problem seen"},
    {kFwUpdated, "an update was reported"},
    {kFwUpdateRequired, "an update is required"},
    {kFwCommandLineFailed, "the tool's command line did not build"},
    {kFwUpToDate, "up to date"},
    {kFwOpenFailed, "a device failed to open"},
    {kFwNoMatchingImage, "no matching image found"},
    {kFwMultipleImages, "multiple image files found"},
    {kFwForcedUpdateRequired, "a forced update is required"},
    {kFwMixedVersions, "mixed versions"},
    {kFwUnknownStatus, "unknown status message"},
};

// The table is looked up by status: entry i must be status i, for every status.
constexpr bool EveryStatusAtItsIndex() {
  for (size_t i = 0; i < std::size(kStatusMeanings); ++i) {
    if (kStatusMeanings[i].status != static_cast<FirmwareStatus>(i)) return false;
  }
  return std::size(kStatusMeanings) == kFwUnknownStatus + 1;
}
static_assert(EveryStatusAtItsIndex(), "kStatusMeanings must list every status at its index");

// The first examined device that reported no status at all.
const DeviceView* SilentDevice(const FirmwareCheckReport& report) {
  for (const DeviceView& device : report.devices) {
    if (device.examined() && device.statuses.empty()) return &device;
  }
  return nullptr;
}

bool ExaminedDeviceReportsProblem(const FirmwareCheckReport& report) {
  for (const DeviceView& device : report.devices) {
    if (device.examined() && device.firstProblem() != kFwNoProblem) return true;
  }
  return false;
}

std::string NoStatusText(const DeviceView& device) {
  return "device " + NumberText(device.index) + " reported no status";
}

// During an update these statuses mean the device was not updated; the
// tool's other wording in update mode is not known, so only they fail it.
constexpr StatusText kUpdateProblems[] = {
    {kFwOpenFailed, "failed to open device"},
    {kFwForcedUpdateRequired, "forced update required"},
};

std::string UpdateProblemReason(const FirmwareCheckReport& report) {
  for (const DeviceView& device : report.devices) {
    if (!device.examined()) continue;
    for (const StatusText& problem : kUpdateProblems) {
      if (device.reports(problem.status)) {
        return std::string("the update reported a device problem: ") + problem.text + " (device " +
               NumberText(device.index) + ")";
      }
    }
  }
  return "";
}

}  // namespace

const char* FirmwareResultMeaning(int32_t result) {
  switch (result) {
    case 0:
      return "the tool ran and its report was classified";
    case PROC_CREATE_FAILED:
      return "the tool could not be started";
    case PROC_PIPE_READ_FAILED:
      return "reading the tool's output failed";
    case PROC_PIPE_CREATE_FAILED:
      return "the output pipe could not be created";
    case PROC_TIMED_OUT:
      return "timed out";
    case PROC_OUTPUT_COPY_FAILED:
      return "the tool's output did not fit in 102399 bytes";
    case kFwCommandLineTooLong:
      return "the tool's command line is too long";
    case kFwToolNotProtected:
      return "an account that is not trusted can change the tool";
    default:
      return "the tool was not seen to end";
  }
}

std::string FirmwareCheckFailureReason(const FirmwareCheckRequest& request,
                                       const FirmwareCheckReport& report) {
  if (!report.refusal.empty()) return report.refusal;
  if (report.result != 0) return FirmwareResultMeaning(report.result);
  if (!report.toolEnded) return "the tool was not seen to end";
  if (report.toolExitCodeKnown && report.toolExitCode >= kWindowsExceptionCodes) {
    return "the tool ended with a Windows exception code";
  }
  if (request.update && !report.toolExitCodeKnown) return "the tool's exit code could not be read";
  if (request.update && report.toolExitCode != 0)
    return "the update ended with an exit code other than 0";
  if (report.reportHeldNul) return "the tool's report held a NUL byte";
  if (report.devicesReported == 0) return "the tool's report holds no \"Device #\" line";
  if (request.update) return UpdateProblemReason(report);
  // A report cut short, or with line ends the parser does not know, leaves
  // a device without a status: nothing says it is fine.
  if (const DeviceView* device = SilentDevice(report)) return NoStatusText(*device);
  return "";
}

std::string StatusMeaning(bool update, const FirmwareCheckReport& report) {
  if (update && report.status == kFwNoProblem) {
    if (ExaminedDeviceReportsProblem(report)) {
      return "no update was reported, and a device reported a problem";
    }
    // The tool's wording after an update is not known: a device without a
    // status fails nothing, but nothing says it is fine either.
    if (const DeviceView* device = SilentDevice(report)) {
      return "no update was reported, and " + NoStatusText(*device);
    }
  }
  FirmwareStatus status = report.status;
  return status >= 0 && status <= kFwUnknownStatus ? kStatusMeanings[status].text
                                                   : "unknown status";
}

bool ExaminedDeviceReportsUpdate(const FirmwareCheckReport& report) {
  for (const DeviceView& device : report.devices) {
    if (device.examined() && device.reports(kFwUpdateRequired)) return true;
  }
  return false;
}

bool UpdateRequiredAnswer(const FirmwareCheckRequest& request, const FirmwareCheckReport& report) {
  return !request.update && report.status == kFwUpdateRequired &&
         FirmwareCheckFailureReason(request, report).empty();
}

int DetailedExitCode(bool update, const FirmwareCheckReport* report, bool restartPending) {
  if (restartPending) return kExitRestartPending;
  if (update) {
    return report->status == kFwUpdated ? kExitUpdateRequiredOrMade : kExitCheckRan;
  }
  if (report->status == kFwUpdateRequired) return kExitUpdateRequiredOrMade;
  return IsProblemStatus(report->status) ? kExitDeviceProblem : kExitCheckRan;
}
