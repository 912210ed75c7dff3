// What a whole fwcheck run costs against the least a program can do to run
// the same tool: fwcheck.exe checking a tool folder, and plain_launcher.exe
// running the same stand-in tool with its output into a file. Both are whole
// processes started from here, each of which starts the tool in turn, so the
// ratio shows what fwcheck adds: its own start (the DLLs it loads), the
// capture and the parse.
//
// Usage: fwcheck_bench [rounds]   (default 20; each program is run once per round)
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

// A tool folder with the stand-in tool and a report of eight devices.
std::string MakeToolFolder() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "fwcheck_bench_tool";
  CreateDirectoryA(folder.c_str(), nullptr);
  if (!CopyFileA(Beside(FAKE_TOOL).c_str(), (folder + "\\flashkeeper.exe").c_str(), FALSE)) {
    return "";
  }
  std::string report;
  for (int device = 1; device <= 8; ++device) {
    report += "Device #" + std::to_string(device) +
              ":\r\n  Part Number:   VN2-100\r\n  PSID:          QV_0001\r\n"
              "  Status:        Up to date\r\n";
  }
  FILE* file = std::fopen((folder + "\\report.txt").c_str(), "wb");
  if (file == nullptr) return "";
  std::fwrite(report.data(), 1, report.size(), file);
  std::fclose(file);
  return folder;
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

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  if (rounds < 1) rounds = 1;
  std::string tool = MakeToolFolder();
  if (tool.empty()) {
    std::fprintf(stderr, "cannot make the tool folder\n");
    return 1;
  }
  std::string check = "\"" + Beside(FWCHECK) + "\" \"" + tool + "\"";
  std::string plain = "\"" + Beside(PLAIN_LAUNCHER) + "\" \"" + tool + "\\flashkeeper.exe\" \"" +
                      tool + "\\report-copy.txt\"";

  std::vector<double> check_ms;
  std::vector<double> plain_ms;
  for (int round = 0; round <= rounds; ++round) {  // round 0 warms up
    double checked = TimedRun(check, tool + "\\check-output.txt");
    double launched = TimedRun(plain, tool + "\\plain-output.txt");
    if (checked < 0 || launched < 0) return 1;
    if (round == 0) continue;
    check_ms.push_back(checked);
    plain_ms.push_back(launched);
  }
  for (const char* name : {"flashkeeper.exe", "report.txt", "report-copy.txt", "args.txt",
                           "check-output.txt", "plain-output.txt"}) {
    DeleteFileA((tool + "\\" + name).c_str());
  }
  RemoveDirectoryA(tool.c_str());

  double checked = Median(check_ms);
  double launched = Median(plain_ms);
  std::printf("whole processes, median of %d runs each\n", rounds);
  std::printf("  fwcheck TOOL_DIR:            %8.2f ms\n", checked);
  std::printf("  plain launcher into a file:  %8.2f ms\n", launched);
  std::printf("  ratio:                       %8.2f\n", checked / launched);
  return 0;
}
