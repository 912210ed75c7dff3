// The setup program's switch translation over arbitrary argument vectors,
// LocalAppData values and Windows Installer answers, followed by the start
// of msiexec with a shell that only records what it was asked to start.
//
// Input: one byte of answers (ProductsOf, bits 2..4 below; with bit 7 the
// setup folder is lengthened so that the command lands within a few
// characters of the system's limit, bits 5 and 6 telling where), then
// NUL-separated pieces: LocalAppData, the setup folder and the arguments
// after the program's name.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "setup/arguments.h"
#include "setup/debug_log.h"
#include "setup/setup_main.h"
#include "tests/fake_os.h"

namespace {

constexpr os::Handle kMsiexecProcess = 4242;
// The most characters a process's command line can have, terminator included.
constexpr size_t kMaxCommandLine = 32767;
constexpr char kReinstall[] = "REINSTALL=ALL REINSTALLMODE=vomus";
constexpr char kUpgradeCode[] = "{6F2A0C11-7D3B-4E55-9A10-0C4B5E6D7F80}";
constexpr char kProductCode[] = "{1B3D5F70-2A4C-4E6F-8091-A2B3C4D5E6F7}";
constexpr char kPackageCode[] = "{9E8D7C6B-5A49-4838-A726-150F0E0D0C0B}";

// What the Windows Installer has of the family: nothing, this package, this
// product from another package, or only another product.
std::vector<testing_support::FakeSetupOs::Product> ProductsOf(uint8_t answers) {
  switch (answers & 3) {
    case 1:
      return {{kUpgradeCode, kProductCode, kPackageCode}};
    case 2:
      return {{kUpgradeCode, kProductCode, "{00000000-0000-0000-0000-000000000001}"}};
    case 3:
      return {{kUpgradeCode, "{00000000-0000-0000-0000-000000000002}", kPackageCode}};
    default:
      return {};
  }
}

// A shell that starts nothing and records the command it was given.
class RecordingShellOs : public testing_support::FakeSetupOs {
 public:
  bool started = false;
  std::string program, parameters;

  os::Handle ShellExecuteProcess(const char* file, const char* params, bool) override {
    started = true;
    program = file;
    parameters = params;
    return kMsiexecProcess;
  }
  uint32_t WaitForProcess(os::Handle, uint32_t) override { return os::kWaitObject0; }
  bool ExitCodeOfProcess(os::Handle, uint32_t* code) override {
    *code = 0;
    return true;
  }
  bool Close(os::Handle) override { return true; }
};

std::vector<std::string> Pieces(std::string_view input) {
  std::vector<std::string> pieces(1);
  for (char c : input) {
    if (c == '\0') {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

// A debug log goes nowhere, whatever file the switch names.
void KeepLogsOff(std::string& arg) {
  for (const char* prefix : {"/debuglog", "/DEBUGLOG"}) {
    if (arg.compare(0, 9, prefix) == 0) arg = std::string(prefix) + "/dev/null";
  }
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The reinstall properties go with an install of this product from another
// package, and with nothing else.
void CheckReinstall(const std::vector<std::string>& args, const std::string& setupDirectory,
                    int status, const std::string& parameters) {
  std::string afterMode = parameters.substr(parameters.find(' ') + 1);
  bool reinstall =
      StartsWith(afterMode, QuotedIfBlank(MsiPath(setupDirectory, args[1])) + " " + kReinstall);
  bool package = StartsWith(parameters, GetInstallModeSwitch(kPackage) + " ");
  if (reinstall != (package && status == kProductFromOtherPackage)) std::abort();
}

// The length of the command line the system gets, in UTF-16 units: the
// program in the shell's quotes, a blank, the parameters and the terminator.
size_t CommandLength(const std::string& program, const std::string& parameters) {
  os::Os& system = os::Current();
  return 1 + system.Utf16Length(program) + 1 + 1 + system.Utf16Length(parameters) + 1;
}

// msiexec starts only with a command the system takes whole, and whenever it does.
void CheckStart(const RecordingShellOs& shell, const std::string& parameters, int exitCode) {
  bool fits =
      CommandLength(shell.system_directory + "\\msiexec.exe", parameters) <= kMaxCommandLine;
  if (shell.started != fits || exitCode != (fits ? 0 : kSetupMsiexecNotStarted)) std::abort();
  if (shell.started && (CommandLength(shell.program, shell.parameters) > kMaxCommandLine ||
                        shell.parameters != parameters)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t answers = data[0];
  std::vector<std::string> pieces =
      Pieces(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  RecordingShellOs shell;
  os::ScopedOs scoped(shell);
  shell.installed = ProductsOf(answers);
  shell.enum_fails_at = (answers & 4) != 0 ? 0 : -1;
  shell.product_info_fails = (answers & 8) != 0;
  shell.local_app_data_set = (answers & 16) == 0;
  shell.local_app_data = pieces[0];
  std::string setupDirectory = pieces.size() > 1 ? pieces[1] : "C:\\pkg\\";
  std::vector<std::string> args = {"C:\\pkg\\setup.exe"};
  for (size_t i = 2; i < pieces.size(); ++i) {
    args.push_back(pieces[i]);
    KeepLogsOff(args.back());
  }

  DebugLogEnabled = false;
  DiscardEarlyLogLines();
  int status = args.size() >= 5 ? CheckMSIProductStatus(0, args[3], args[2], args[4]) : 0;
  int err = 0;
  std::string parameters = BuildMsiexecArgs(args, setupDirectory, err);
  if ((answers & 0x80) != 0 && err == 0) {
    // Each character more in the folder is one more in the command.
    size_t length = CommandLength(shell.system_directory + "\\msiexec.exe", parameters);
    size_t wanted = kMaxCommandLine - 2 + ((answers >> 5) & 3);
    if (length < wanted) setupDirectory.append(wanted - length, 'a');
    parameters = BuildMsiexecArgs(args, setupDirectory, err);
  }
  if (err == 0) {
    CheckReinstall(args, setupDirectory, status, parameters);
    CheckStart(shell, parameters, RunMsiexec("msiexec.exe", parameters));
  }
  CloseDebugLog();
  return 0;
}
