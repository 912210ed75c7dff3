// imports_version.exe: a program that imports version.dll, as a program with
// shell32 among its imports does; it shows that a planted DLL of that name
// beside a program is loaded when the program imports it. The call is never
// made: the planted DLL has no such entry.
#include <windows.h>

int main(int argc, char**) {
  DWORD handle = 0;
  return argc > 99 ? static_cast<int>(GetFileVersionInfoSizeA("kernel32.dll", &handle)) : 0;
}
