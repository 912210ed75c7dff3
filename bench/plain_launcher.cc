// plain_launcher TOOL OUTPUT: runs "TOOL --no" with its output into the file
// OUTPUT and waits for it; exits with the tool's exit code. The least a
// program can do to run the firmware tool: fwcheck_bench's yardstick.
#include <string>

#include "bench/launch_win32.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  HANDLE output = CreateOutputFile(argv[2]);
  if (output == INVALID_HANDLE_VALUE) return 3;
  PROCESS_INFORMATION process{};
  if (!StartWithOutputInto(std::string("\"") + argv[1] + "\" --no", output, CREATE_NO_WINDOW,
                           &process)) {
    return 4;
  }
  DWORD code = WaitForExitCode(process, 4);
  CloseHandle(output);
  return static_cast<int>(code);
}
