// Planted under the names of system DLLs where a program must never load a
// DLL from (its own folder, the current folder): once loaded, it appends the
// loading program's path to "<its own path>.loaded" and lets the load go on.
#include <windows.h>

namespace {

void AppendLoader(HINSTANCE self) {
  wchar_t marker[MAX_PATH + 8];
  DWORD length = GetModuleFileNameW(self, marker, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return;
  lstrcpyW(marker + length, L".loaded");
  char program[MAX_PATH * 3 + 2];
  DWORD program_length = GetModuleFileNameA(nullptr, program, MAX_PATH * 3);
  program[program_length++] = '\n';
  HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, program, program_length, &written, nullptr);
  CloseHandle(file);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) AppendLoader(self);
  return TRUE;
}
