// The program's own arguments on Windows: in a file of its own, so that the
// custom action DLL, which needs only AnsiText, does not carry them.
#include "platform/command_line_win32.h"

#include <windows.h>

#include <cwchar>

#include "platform/code_page_win32.h"
#include "platform/command_line.h"

namespace os {
namespace {

// `utf8` in `code_page`, as TextInCodePage.
bool TextOfUtf8(const std::string& utf8, unsigned code_page, std::string* text) {
  int length =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::vector<wchar_t> wide(static_cast<size_t>(length) + 1);
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
  return TextInCodePage(code_page, wide.data(), length, text);
}

}  // namespace

bool ArgumentsOfCommandLine(const wchar_t* command_line, unsigned code_page,
                            std::vector<std::string>* arguments) {
  // Split in UTF-8: the splitter's marks (blank, tab, quote, backslash) are
  // bytes of no other character there, unlike in a code page of two-byte
  // characters. An unpaired surrogate has no form there either.
  std::string line;
  int length = static_cast<int>(std::wcslen(command_line));
  bool exact = TextInCodePage(CP_UTF8, command_line, length, &line);
  *arguments = SplitCommandLine(line.c_str());
  for (std::string& argument : *arguments) {
    std::string utf8;
    utf8.swap(argument);
    if (!TextOfUtf8(utf8, code_page, &argument)) exact = false;
  }
  return exact;
}

bool ProgramArguments::Read(int, char**, std::vector<std::string>* arguments) {
  return ArgumentsOfCommandLine(::GetCommandLineW(), ::GetACP(), arguments);
}

}  // namespace os
