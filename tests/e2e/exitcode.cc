// exitcode.exe COMMAND LINE: runs the command line, waits for it and prints its
// full 32-bit exit code. Wine's own exit status keeps only the low 8 bits.
#include <windows.h>

#include <cstdio>

namespace {

// The command line after the program's own name, which the runtime never
// quotes with escapes: a quoted name ends at the next quote.
wchar_t* RestOfCommandLine() {
  wchar_t* rest = GetCommandLineW();
  if (*rest == L'"') {
    ++rest;
    while (*rest != L'\0' && *rest != L'"') ++rest;
    if (*rest == L'"') ++rest;
  } else {
    while (*rest != L'\0' && *rest != L' ' && *rest != L'\t') ++rest;
  }
  while (*rest == L' ' || *rest == L'\t') ++rest;
  return rest;
}

}  // namespace

int main() {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, RestOfCommandLine(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "exitcode: cannot start the command (error %lu)\n", GetLastError());
    return 1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  BOOL known = GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!known) {
    std::fprintf(stderr, "exitcode: no exit code (error %lu)\n", GetLastError());
    return 1;
  }
  std::printf("%lu\n", code);
  return 0;
}
