#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLineTest, SplitsByTheRuntimeRules) {
  struct Case {
    const char* line;
    std::vector<std::string> arguments;
  };
  // clang-format off
  const Case cases[] = {
      {"", {}},
      {"   ", {}},
      {"prog", {"prog"}},
      {"C:\\dir\\flashkeeper.exe --no", {"C:\\dir\\flashkeeper.exe", "--no"}},
      {"\"C:\\a b\\tool.exe\" -u -y", {"C:\\a b\\tool.exe", "-u", "-y"}},
      {"p a\tb  c", {"p", "a", "b", "c"}},
      {"p \"a b\" c", {"p", "a b", "c"}},
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},
      {"p a\\\"b", {"p", "a\"b"}},
      {"p a\\\\b", {"p", "a\\\\b"}},
      {"p \"a\"\"b\"", {"p", "a\"b"}},
      {"p \"\"", {"p", ""}},
      {"p \"open", {"p", "open"}},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(os::SplitCommandLine(c.line), c.arguments) << c.line;
}

}  // namespace
