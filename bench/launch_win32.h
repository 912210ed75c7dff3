// Starting a program with its standard output and error in a file, as both
// Windows benchmark programs do: fwcheck_bench for each program it times,
// plain_launcher for the tool.
#ifndef BENCH_LAUNCH_WIN32_H_
#define BENCH_LAUNCH_WIN32_H_

#include <windows.h>

#include <string>

// The file `path`, created empty, as an inheritable handle to write and read
// back; INVALID_HANDLE_VALUE when it cannot be created.
inline HANDLE CreateOutputFile(const char* path) {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  return CreateFileA(path, GENERIC_WRITE | GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts `command_line` with its output and errors into `output`; false when
// it did not start.
inline bool StartWithOutputInto(std::string command_line, HANDLE output, DWORD creation_flags,
                                PROCESS_INFORMATION* process) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = output;
  return CreateProcessA(nullptr, &command_line[0], nullptr, nullptr, TRUE, creation_flags, nullptr,
                        nullptr, &startup, process) != FALSE;
}

// Waits for the started program, closes its handles and gives its exit code,
// or `unread` when that cannot be read.
inline DWORD WaitForExitCode(const PROCESS_INFORMATION& process, DWORD unread) {
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = unread;
  if (!GetExitCodeProcess(process.hProcess, &code)) code = unread;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

#endif  // BENCH_LAUNCH_WIN32_H_
