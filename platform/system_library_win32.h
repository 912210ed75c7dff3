// Loading the system's own DLLs at run time, and keeping every other DLL
// search away from the program's folder and the current one. Windows only.
#pragma once

#include <windows.h>

namespace os {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// kernel32's SetDefaultDllDirectories, or null on a Windows 7 without the
// update that added it (and with it the LOAD_LIBRARY_SEARCH_* flags).
SetDefaultDllDirectoriesFn SetDefaultDllDirectoriesOfSystem();

// Limits the DLL search of this process to the system directory with
// `set_default_dll_directories`; without it, takes at least the current
// folder out of the search. False when the call failed.
bool RestrictDllSearchWith(SetDefaultDllDirectoriesFn set_default_dll_directories);

// A DLL of the system's, from the system directory only: never from the
// program's folder or the current one. Null when it cannot be loaded.
HMODULE SystemLibrary(const char* name);

// The same by the system directory's full path, for a Windows without the
// search flags: the DLL's own dependencies are then looked for beside it first.
HMODULE SystemLibraryByPath(const char* name);

// `name` of `module` as a pointer of the type `Fn`; null when it is not there.
template <typename Fn>
Fn ProcOf(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace os
