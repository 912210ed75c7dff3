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
    const wchar_t* line;
    bool exact;
    std::vector<std::string> arguments;  // with stand-ins where not exact
  };
  // clang-format off
  const Case cases[] = {
      {L"fwcheck.exe --json \"C:\\outil \u00e9\\\\\"", true, {"fwcheck.exe", "--json", "C:\\outil \xe9\\"}},
      {L"\"C:\\d\u00e9p\u00f4t\\setup.exe\" drv.msi /S", true, {"C:\\d\xe9p\xf4t\\setup.exe", "drv.msi", "/S"}},
      // Best fit would give "bf o", a folder that may hold another tool.
      {L"fwcheck.exe \"C:\\bf \u0151\"", false, {"fwcheck.exe", "C:\\bf ?"}},
      {L"fwcheck.exe --json C:\\\u5de5\u5177\u4e2d", false, {"fwcheck.exe", "--json", "C:\\???"}},
      {L"\u0151.exe x", false, {"?.exe", "x"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::vector<std::string> arguments;
    EXPECT_EQ(os::ArgumentsOfCommandLine(c.line, &arguments), c.exact) << c.arguments[1];
    EXPECT_EQ(arguments, c.arguments) << c.arguments[1];
  }
}

}  // namespace
