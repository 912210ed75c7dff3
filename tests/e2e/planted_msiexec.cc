// Planted as msiexec.exe where setup.exe must never start it (its package
// folder, its current folder): leaves a marker file beside itself and fails.
#include <windows.h>

#include <string>

int main() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return 2;
  std::wstring marker(path, length);
  marker.replace(marker.rfind(L'\\') + 1, std::wstring::npos, L"planted-msiexec-ran");
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return 77;
}
