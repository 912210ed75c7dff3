// window_text.exe CAPTION: prints, as UTF-8, the text of every child window of
// the top-level window with that caption (a message box: its text and its
// button), one after the other, each followed by a line feed. Fails when no
// such window exists.
#include <windows.h>

#include <string>

namespace {

void WriteUtf8(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                      nullptr, nullptr);
  bytes += '\n';
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

// The window belongs to another process: WM_GETTEXT is marshalled to it.
BOOL CALLBACK PrintText(HWND child, LPARAM) {
  wchar_t text[4096] = {};
  DWORD_PTR length = 0;
  SendMessageTimeoutW(child, WM_GETTEXT, sizeof(text) / sizeof(text[0]),
                      reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &length);
  WriteUtf8(std::wstring(text, length));
  return TRUE;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr || count != 2) return 2;
  HWND window = FindWindowW(nullptr, args[1]);
  if (window == nullptr) return 1;
  EnumChildWindows(window, PrintText, 0);
  return 0;
}
