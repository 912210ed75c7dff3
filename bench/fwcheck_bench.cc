// What a whole fwcheck run costs against the least a program can do to run
// the same tool: fwcheck.exe checking a tool folder, and plain_launcher.exe
// running the same stand-in tool with its output into a file, once with the
// tool in the launcher's console and once with CREATE_NO_WINDOW (a console of
// the tool's own). All are whole processes started from here, each of which
// starts the tool in turn, so the ratios show what fwcheck adds: its own
// start (the DLLs it loads), the capture, the parse and its output. Each is
// timed with a report of eight devices and with one of 56 KB; the ratios are
// the medians of the rounds' ratios.
//
// They run in a console, as under a script host: a program started from a
// Linux shell without a terminal has none under Wine, so this program then
// runs itself again in a console of its own.
//
// Usage: fwcheck_bench [rounds]   (default 20; each program is run once per round and report)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/launch_win32.h"
#include "bench/median.h"

namespace {

constexpr size_t kLargeReportBytes = 56 * 1024;
// The last argument of the run in a console of its own.
constexpr char kInConsole[] = "--in-console";

// The folder of this program, with a trailing backslash.
std::string OwnFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.erase(folder.find_last_of('\\') + 1);
}

// A path relative to this program's folder, as CMake gave it.
std::string Beside(const char* relative) {
  std::string path = OwnFolder();
  for (const char* c = relative; *c != '\0'; ++c) path += *c == '/' ? '\\' : *c;
  return path;
}

std::string TempPath(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + name;
}

// A tool report of `devices` devices, or of as many as make `min_bytes`.
std::string Report(int devices, size_t min_bytes) {
  std::string report;
  for (int device = 1; device <= devices || report.size() < min_bytes; ++device) {
    report += "Device #" + std::to_string(device) +
              ":\r\n  Part Number:   VN2-100\r\n  PSID:          QV_0001\r\n"
              "  Status:        Up to date\r\n";
  }
  return report;
}

// A tool folder `name` with the stand-in tool and `report`. A folder of its
// own for each report: a tool just ended may still hold its program file.
std::string MakeToolFolder(const char* name, const std::string& report) {
  std::string folder = TempPath(name);
  CreateDirectoryA(folder.c_str(), nullptr);
  if (!CopyFileA(Beside(FAKE_TOOL).c_str(), (folder + "\\flashkeeper.exe").c_str(), FALSE)) {
    return "";
  }
  FILE* file = std::fopen((folder + "\\report.txt").c_str(), "wb");
  if (file == nullptr) return "";
  std::fwrite(report.data(), 1, report.size(), file);
  std::fclose(file);
  return folder;
}

void RemoveToolFolder(const std::string& folder) {
  for (const char* name : {"flashkeeper.exe", "report.txt", "report-copy.txt", "args.txt",
                           "check-output.txt", "plain-output.txt"}) {
    DeleteFileA((folder + "\\" + name).c_str());
  }
  RemoveDirectoryA(folder.c_str());
}

// Runs `command_line` with its output into the file `output`; milliseconds
// taken, or a negative number, after showing the output, when it did not
// exit with 0.
double TimedRun(const std::string& command_line, const std::string& output) {
  HANDLE file = CreateOutputFile(output.c_str());
  if (file == INVALID_HANDLE_VALUE) return -1;
  PROCESS_INFORMATION process{};
  auto start = std::chrono::steady_clock::now();
  if (!StartWithOutputInto(command_line, file, 0, &process)) {
    CloseHandle(file);
    return -1;
  }
  DWORD code = WaitForExitCode(process, 1);
  std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  if (code != 0) {
    std::fprintf(stderr, "exit code %lu: %s\n", code, command_line.c_str());
    char text[4096];
    DWORD length = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    if (ReadFile(file, text, sizeof(text), &length, nullptr)) std::fwrite(text, 1, length, stderr);
  }
  CloseHandle(file);
  return code == 0 ? took.count() : -1;
}

// One program timed: its command line, the file its output goes to and its
// times, one a round.
struct Timed {
  const char* label;
  std::string command_line;
  std::string output;
  std::vector<double> ms = {};
};

// The middle of fwcheck's time over `other`'s, round by round: a round
// compares runs made close together, so a busy moment moves both.
double MedianRatio(const Timed& check, const Timed& other) {
  std::vector<double> ratios;
  for (size_t i = 0; i < check.ms.size(); ++i) ratios.push_back(check.ms[i] / other.ms[i]);
  return Median(ratios);
}

// Times the three programs on `report` in the tool folder `folder`,
// interleaved, every other round in the opposite order; false when one failed.
bool TimeReport(const char* name, const char* folder, const std::string& report, int rounds) {
  std::string tool = MakeToolFolder(folder, report);
  if (tool.empty()) {
    std::fprintf(stderr, "cannot make the tool folder\n");
    return false;
  }
  std::string launcher = "\"" + Beside(PLAIN_LAUNCHER) + "\" ";
  std::string launched = "\"" + tool + "\\flashkeeper.exe\" \"" + tool + "\\report-copy.txt\"";
  Timed programs[] = {
      {"fwcheck TOOL_DIR", "\"" + Beside(FWCHECK) + "\" \"" + tool + "\"",
       tool + "\\check-output.txt"},
      {"plain launcher into a file", launcher + launched, tool + "\\plain-output.txt"},
      {"the same with CREATE_NO_WINDOW", launcher + "--no-window " + launched,
       tool + "\\plain-output.txt"},
  };
  bool ran = true;
  for (int round = 0; round <= rounds && ran; ++round) {  // round 0 warms up
    for (int i = 0; i < 3 && ran; ++i) {
      Timed& program = programs[round % 2 == 0 ? i : 2 - i];
      double ms = TimedRun(program.command_line, program.output);
      ran = ms >= 0;
      if (round > 0) program.ms.push_back(ms);
    }
  }
  RemoveToolFolder(tool);
  if (!ran) return false;

  std::printf("%s (%zu bytes), whole processes, median of %d runs each\n", name, report.size(),
              rounds);
  std::printf("  %-32s %8.2f ms\n", programs[0].label, Median(programs[0].ms));
  for (const Timed* other : {&programs[1], &programs[2]}) {
    std::printf("  %-32s %8.2f ms   fwcheck's time over it %5.2f\n", other->label,
                Median(other->ms), MedianRatio(programs[0], *other));
  }
  return true;
}

bool HasConsole() {
  DWORD process = 0;
  return GetConsoleProcessList(&process, 1) != 0;
}

// Runs this program again, in a console of its own that shows no window,
// and passes on what it printed and its exit code.
int RunInAConsole() {
  std::string output = TempPath("fwcheck_bench_output.txt");
  HANDLE file = CreateOutputFile(output.c_str());
  if (file == INVALID_HANDLE_VALUE) return 1;
  PROCESS_INFORMATION process{};
  std::string command_line = std::string(GetCommandLineA()) + " " + kInConsole;
  DWORD code = 1;
  if (StartWithOutputInto(command_line, file, CREATE_NO_WINDOW, &process)) {
    code = WaitForExitCode(process, 1);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char text[4096];
    DWORD length = 0;
    while (ReadFile(file, text, sizeof(text), &length, nullptr) && length > 0) {
      std::fwrite(text, 1, length, stdout);
    }
  }
  CloseHandle(file);
  DeleteFileA(output.c_str());
  return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
  bool in_console = argc > 1 && std::string(argv[argc - 1]) == kInConsole;
  if (!HasConsole() && !in_console) return RunInAConsole();
  int rounds = argc > (in_console ? 2 : 1) ? std::atoi(argv[1]) : 20;
  if (rounds < 1) rounds = 1;
  bool timed =
      TimeReport("8-device report", "fwcheck_bench_tool", Report(8, 0), rounds) &&
      TimeReport("56 KB report", "fwcheck_bench_large", Report(0, kLargeReportBytes), rounds);
  return timed ? 0 : 1;
}
