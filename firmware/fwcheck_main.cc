// fwcheck: the firmware check as a command.
//
//   fwcheck [--update] [--oem-filter] [--supported PN]... [--skip PN]...
//           [--timeout SECONDS] [--debuglog FILE] [--json] [--detailed-exitcode]
//           [--] TOOL_DIR
//   fwcheck --help | --version
//
// Exit codes: 0 the check ran and gave an answer; 1 the check failed (the
// reason is on standard error); 2 bad usage. With --detailed-exitcode an
// answer gives 0, 3 or 4 (see DetailedExitCode in outcome.h), or 5 while a
// restart is pending after an earlier update.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "common/version.h"
#include "firmware/fwcheck_options.h"
#include "firmware/fwcheck_output.h"
#include "firmware/invocation.h"
#include "firmware/outcome.h"
#include "firmware/restart_pending.h"
#include "platform/command_line.h"
#include "platform/os.h"
#include "setup/debug_log.h"

namespace {

constexpr char kUsage[] =
    "usage: fwcheck [--update] [--oem-filter] [--supported PN]... [--skip PN]...\n"
    "               [--timeout SECONDS] [--debuglog FILE] [--json] [--detailed-exitcode]\n"
    "               [--] TOOL_DIR\n"
    "       fwcheck --help | --version\n"
    "Runs TOOL_DIR\\flashkeeper.exe (query mode unless --update) and reports whether\n"
    "a firmware update is required. --supported keeps only devices whose part number\n"
    "line holds one of the given texts; --skip leaves those devices out (not both).\n"
    "--oem-filter leaves out devices whose PSID does not begin with \"QV_\".\n"
    "--timeout ends the tool after SECONDS in query mode (never in update mode).\n"
    "Exit codes: 0 the check ran, 1 the check failed, 2 bad usage; with\n"
    "--detailed-exitcode a check that ran gives 0 nothing to do, 3 an update is\n"
    "required (query) or was made (update), 4 a device reported a problem (query),\n"
    "5 a restart is pending after an update (--update then runs nothing).\n";

// Whether --json comes before the options end: even bad usage then gets its object.
bool AsksForJson(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) return true;
  }
  return false;
}

// Prints the verdict and gives the exit code.
int Conclude(const Options& options, const Verdict& verdict, int failureExitCode) {
  PrintVerdict(options, verdict);
  if (verdict.failed()) {
    std::fputs(("fwcheck: " + verdict.reason + "\n").c_str(), stderr);
    return failureExitCode;
  }
  const FirmwareCheckReport* report = verdict.report;  // null: the update waits for the restart
  // Not the same as "all up to date": the filters left nothing to look at.
  if (report != nullptr && report->devicesReported > 0 && report->devicesExamined == 0) {
    std::fputs(("fwcheck: the report held " + NumberText(report->devicesReported) +
                " devices, and the part-number list or the OEM filter left out every one\n")
                   .c_str(),
               stderr);
  }
  if (!options.detailedExitCode) return kExitCheckRan;
  return DetailedExitCode(options.update, report, verdict.restartPendingSince != nullptr);
}

// Runs the check the options ask for into `report`, unless it is an update
// while a restart is pending: that would write the firmware that waits for
// the restart again. An update that changed a device leaves a restart
// pending, even when it failed.
void RunRequestedCheck(const Options& options, FirmwareCheckReport* report, std::string* since,
                       Verdict* verdict) {
  verdict->restartLookedFor = true;
  if (RestartPending(since)) verdict->restartPendingSince = since->c_str();
  if (options.update && verdict->restartPendingSince != nullptr) return;
  bool supportedList = !options.supported.empty();
  const std::vector<const char*>& list = supportedList ? options.supported : options.skipped;
  FirmwareCheckRequest request =
      CheckRequestFor(options.toolDirectory, options.update, options.oemFilter, list.data(),
                      static_cast<int32_t>(list.size()), supportedList);
  request.timeoutMs = options.timeoutMs;
  request.shareConsole = true;
  RunFirmwareCheck(0, request, report);
  verdict->report = report;
  verdict->reason = FirmwareCheckFailureReason(request, *report);
  verdict->restartNeeded = options.update && ExaminedDeviceReportsUpdate(*report);
  if (!verdict->restartNeeded) return;
  // The folder made full, as the check made it to run the tool.
  std::string folder;
  if (!os::Current().FullPathName(options.toolDirectory, &folder)) folder = options.toolDirectory;
  uint32_t recorded = RecordRestartPending(folder.c_str());
  if (recorded != os::kErrorSuccess) {
    std::fputs(("fwcheck: the pending restart could not be recorded (error " +
                NumberText(recorded) + ")\n")
                   .c_str(),
               stderr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything may load a DLL: never from the program's own folder.
  os::RestrictDllSearch();
  os::ProgramArguments arguments(argc, argv);
  argc = arguments.count();
  argv = arguments.values();
  if (!arguments.exact()) {
    Options options;
    options.json = AsksForJson(argc, argv);
    Verdict verdict;
    verdict.reason = "an argument holds a character that this system's code page cannot hold";
    return Conclude(options, verdict, kExitUsage);
  }
  Options options;
  OptionParser parser(argc, argv, &options);
  if (!parser.Parse()) {
    options.json = AsksForJson(argc, argv);
    Verdict verdict;
    verdict.reason = parser.error();
    int exitCode = Conclude(options, verdict, kExitUsage);
    std::fputs(kUsage, stderr);
    return exitCode;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitCheckRan;
  }
  if (options.version) {
    std::fputs("fwcheck " SETUP_VERSION_TEXT "\n", stdout);
    return kExitCheckRan;
  }
  if (options.debugLog != nullptr && !OpenDebugLog(options.debugLog)) {
    Verdict verdict;
    verdict.reason = "the debug log could not be opened";
    return Conclude(options, verdict, kExitCheckFailed);
  }
  FirmwareCheckReport report;
  std::string since;
  Verdict verdict;
  RunRequestedCheck(options, &report, &since, &verdict);
  CloseDebugLog();
  return Conclude(options, verdict, kExitCheckFailed);
}
