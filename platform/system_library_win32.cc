#include "platform/system_library_win32.h"

#include <cstring>

#include "platform/os.h"

namespace os {

SetDefaultDllDirectoriesFn SetDefaultDllDirectoriesOfSystem() {
  // kernel32 is in every process; looked up rather than imported, so that a
  // Windows without the function still starts the program.
  return ProcOf<SetDefaultDllDirectoriesFn>(::GetModuleHandleA("kernel32.dll"),
                                            "SetDefaultDllDirectories");
}

bool RestrictDllSearchWith(SetDefaultDllDirectoriesFn set_default_dll_directories) {
  if (set_default_dll_directories != nullptr) {
    return set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
  }
  return ::SetDllDirectoryA("") != FALSE;
}

void RestrictDllSearch() { RestrictDllSearchWith(SetDefaultDllDirectoriesOfSystem()); }

HMODULE SystemLibrary(const char* name) {
  if (SetDefaultDllDirectoriesOfSystem() == nullptr) return SystemLibraryByPath(name);
  return ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE SystemLibraryByPath(const char* name) {
  char path[MAX_PATH];
  UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
  size_t name_length = std::strlen(name);
  if (length == 0 || length + 1 + name_length >= MAX_PATH) {
    if (length != 0) ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  path[length] = '\\';
  std::memcpy(path + length + 1, name, name_length + 1);
  return ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace os
