#include "setup/setup_main.h"

#include <vector>

#include "common/bounded_text.h"
#include "platform/os.h"
#include "setup/arguments.h"
#include "setup/debug_log.h"

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// The most UTF-16 code units a process's command line can have, terminator
// included.
constexpr size_t kMaxCommandLine = 32767;

constexpr char kUsageText[] =
    "Command line parameters: \n /? , /h usage instructions\n /L Language ID \n/S Hide "
    "initialization dialog for silent mode use /S /v/qn \n /V Parameters for MsiExec.exe\n";

}  // namespace

std::string GetSetupDirectory(int& err) {
  err = 0;
  if (!os::Current().HasModuleHandle()) {
    err = kSetupNoModuleHandle;
    return "";
  }
  std::string path;
  // Read as into the 8-bit call's largest buffer: a path of kMaxPath bytes or
  // more counts as not available.
  bool whole = os::Current().ModulePath(&path) && path.size() < os::kMaxPath;
  size_t lastSlash = path.rfind('\\');
  if (!whole || lastSlash == std::string::npos) {
    err = kSetupNoModulePath;
    return "";
  }
  return path.substr(0, lastSlash + 1);
}

void ShowUsage() {
  if (SilentMode) return;
  char buffer[2048] = {};
  if (text::CopyBounded(buffer, sizeof(buffer), kUsageText) == text::kOk) {
    os::Current().ShowMessageBox(buffer, "Vantreo Oriel2 installer", os::kMbIconQuestion);
  } else {
    os::Current().ShowMessageBox("Unexpected error please try again", "Vantreo Setup Help",
                                 os::kMbIconError);
  }
}

int RunMsiexec(const std::string& file, const std::string& parameters) {
  // By its full path: a copy planted beside the package or in the current
  // folder must never run.
  std::string systemDirectory;
  if (!os::Current().SystemDirectory(&systemDirectory)) {
    LogMessage(0, "RunMsiexec: no system directory, msiexec not started");
    return kSetupMsiexecNotStarted;
  }
  std::string program = systemDirectory + "\\" + file;
  // As msiexec gets it: the shell puts the program in quotes.
  std::string command = "\"" + program + "\" " + parameters;
  // The system would cut a longer command line and msiexec would run what is
  // left of it; the terminator counts.
  size_t length = os::Current().Utf16Length(command);
  if (length + 1 > kMaxCommandLine) {
    LogMessageNumber(0, "RunMsiexec: command too long, not started: [1] characters",
                     static_cast<uint32_t>(length));
    return kSetupMsiexecNotStarted;
  }
  LogMessageParam(0, "RunMsiexec: starting [1]", command.c_str());
  os::Os& system = os::Current();
  os::UniqueHandle process(
      system.ShellExecuteProcess(program.c_str(), parameters.c_str(), SilentMode));
  if (!process.valid()) {
    LogMessageNumber(0, "RunMsiexec: msiexec not started, error [1]", system.LastError());
    return kSetupMsiexecNotStarted;
  }
  // Without the end of the wait the exit code says nothing about the outcome.
  if (system.WaitForProcess(process.get(), kInfinite) != os::kWaitObject0) {
    LogMessageNumber(0, "RunMsiexec: waiting for msiexec failed, error [1]", system.LastError());
    return kSetupExitCodeUnknown;
  }
  uint32_t dwExitCode = 0;
  if (!system.ExitCodeOfProcess(process.get(), &dwExitCode)) {
    LogMessageNumber(0, "RunMsiexec: exit code of msiexec unreadable, error [1]",
                     system.LastError());
    return kSetupExitCodeUnknown;
  }
  LogMessageNumber(0, "RunMsiexec: msiexec exit code [1]", dwExitCode);
  return static_cast<int>(dwExitCode);
}

int SetupMain(int argc, char** argv) {
  std::vector<std::string> allArgs(argv, argv + argc);
  int err = 0;
  SilentMode = false;
  DebugLogEnabled = false;
  DiscardEarlyLogLines();
  std::string msiFolder = GetSetupDirectory(err);
  if (err == 0) {
    std::string msiArgs = BuildMsiexecArgs(allArgs, msiFolder, err);
    if (err == 0) {
      err = RunMsiexec("msiexec.exe", msiArgs);
    } else if (err == kSetupBadSwitch || err == kSetupHelpRequested) {
      ShowUsage();
      if (err == kSetupHelpRequested) err = 0;
    }
  }
  CloseDebugLog();
  return err;
}
