// plain_launcher [--no-window] TOOL OUTPUT: runs "TOOL --no" with its output
// into the file OUTPUT and waits for it; exits with the tool's exit code. The
// least a program can do to run the firmware tool: fwcheck_bench's yardstick.
// The tool shares the launcher's console, or with --no-window gets one of its
// own that shows no window (CREATE_NO_WINDOW).
#include <cstring>
#include <string>

#include "bench/launch_win32.h"

int main(int argc, char** argv) {
  bool no_window = argc == 4 && std::strcmp(argv[1], "--no-window") == 0;
  if (argc != (no_window ? 4 : 3)) return 2;
  const char* tool = argv[argc - 2];
  HANDLE output = CreateOutputFile(argv[argc - 1]);
  if (output == INVALID_HANDLE_VALUE) return 3;
  PROCESS_INFORMATION process{};
  if (!StartWithOutputInto(std::string("\"") + tool + "\" --no", output,
                           no_window ? CREATE_NO_WINDOW : 0, &process)) {
    return 4;
  }
  DWORD code = WaitForExitCode(process, 4);
  CloseHandle(output);
  return static_cast<int>(code);
}
