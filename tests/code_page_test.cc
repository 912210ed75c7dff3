// Text from the system in the process's code page, exactly or not at all.
// This program has no UTF-8 manifest: it runs in the system's code page,
// 1252 under Wine, as the installer's process and a program on a Windows
// that ignores the manifest do.
#include "platform/command_line_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CodePageTest, CommandLineExactlyOrRefused) {
  ASSERT_EQ(GetACP(), 1252u);
  struct Case {
    unsigned code_page;
    const wchar_t* line;
    bool exact;
    std::vector<std::string> arguments;  // with stand-ins where not exact
  };
  // clang-format off
  const Case cases[] = {
      {1252, L"fwcheck.exe --json \"C:\\outil \u00e9\\\\\"", true, {"fwcheck.exe", "--json", "C:\\outil \xe9\\"}},
      {1252, L"\"C:\\d\u00e9p\u00f4t\\setup.exe\" drv.msi /S", true, {"C:\\d\xe9p\xf4t\\setup.exe", "drv.msi", "/S"}},
      // Best fit would give "bf o", a folder that may hold another tool.
      {1252, L"fwcheck.exe \"C:\\bf \u0151\"", false, {"fwcheck.exe", "C:\\bf ?"}},
      {1252, L"fwcheck.exe --json C:\\\u5de5\u5177\u4e2d", false, {"fwcheck.exe", "--json", "C:\\???"}},
      {1252, L"\u0151.exe x", false, {"?.exe", "x"}},
      {1252, L"setup.exe drv\xdc00.msi", false, {"setup.exe", "drv?.msi"}},
      {CP_UTF8, L"setup.exe \"C:\\\u5de5 \u0151\" \U0001F600", true, {"setup.exe", "C:\\\xe5\xb7\xa5 \xc5\x91", "\xf0\x9f\x98\x80"}},
      // An unpaired surrogate, legal in a file name, has no form in UTF-8:
      // U+FFFD in its place would name another file.
      {CP_UTF8, L"fwcheck.exe C:\\s\xd800\\t", false, {"fwcheck.exe", "C:\\s\xef\xbf\xbd\\t"}},
      {CP_UTF8, L"setup.exe drv\xdc00.msi", false, {"setup.exe", "drv\xef\xbf\xbd.msi"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::vector<std::string> arguments;
    EXPECT_EQ(os::ArgumentsOfCommandLine(c.line, c.code_page, &arguments), c.exact)
        << c.arguments[1];
    EXPECT_EQ(arguments, c.arguments) << c.arguments[1];
  }
}

}  // namespace
