// The program's own arguments on Windows: in a file of its own, so that the
// custom action DLL, which needs only AnsiText, does not carry them.
#include "platform/command_line_win32.h"

#include <windows.h>

#include "platform/code_page_win32.h"
#include "platform/command_line.h"

namespace os {
namespace {

// Every character of `wide` (terminated) in UTF-8, which has a form for each.
std::string Utf8Text(const wchar_t* wide) {
  int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return "";
  std::string text(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], size, nullptr, nullptr);
  text.resize(static_cast<size_t>(size) - 1);
  return text;
}

// `utf8` in the active code page, as AnsiText.
bool AnsiTextOfUtf8(const std::string& utf8, std::string* text) {
  int length =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::vector<wchar_t> wide(static_cast<size_t>(length) + 1);
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
  return AnsiText(wide.data(), length, text);
}

}  // namespace

bool ArgumentsOfCommandLine(const wchar_t* command_line, std::vector<std::string>* arguments) {
  // Split in UTF-8: every character is kept, and the splitter's marks
  // (blank, tab, quote, backslash) are bytes of no other character there,
  // unlike in a code page of two-byte characters.
  *arguments = SplitCommandLine(Utf8Text(command_line).c_str());
  bool exact = true;
  for (std::string& argument : *arguments) {
    std::string utf8;
    utf8.swap(argument);
    if (!AnsiTextOfUtf8(utf8, &argument)) exact = false;
  }
  return exact;
}

bool ProgramArguments::Read(int, char**, std::vector<std::string>* arguments) {
  return ArgumentsOfCommandLine(::GetCommandLineW(), arguments);
}

}  // namespace os
