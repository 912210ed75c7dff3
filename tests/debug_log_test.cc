#include "setup/debug_log.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

using testing_support::CapturedLog;
using testing_support::ReadFile;
using testing_support::ScratchDir;

namespace {

struct MarkerCase {
  const char* templ;
  const char* value;
  const char* line;
};

TEST(DebugLogTest, MarkerRules) {
  // clang-format off
  const MarkerCase cases[] = {
      {"run_cmd: started cmd [1]", "tool.exe --no", "run_cmd: started cmd tool.exe --no"},
      {"[1] first and [1] second", "x", "x first and [1] second"},
      {"no marker here ", "dropped", "no marker here "},
      {"empty [1] value", "", "empty  value"},
      {"run_cmd: GetExitCodeProcess  in the loop failed", "", "run_cmd: GetExitCodeProcess  in the loop failed"},
      {"[1]", "whole", "whole"},
      {"[1", "v", "[1"},
  };
  // clang-format on
  CapturedLog log;
  for (const MarkerCase& c : cases) LogMessageParam(0, c.templ, c.value);
  std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), std::size(cases));
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], cases[i].line) << cases[i].templ;
}

TEST(DebugLogTest, LinesFromBeforeTheOpenComeFirst) {
  testing_support::ResetDebugLog();
  LogMessage(0, "early ");
  LogMessageParam(0, "early [1] too", "value");
  LogMessageParam(0, "no marker", "dropped");
  ScratchDir dir;
  ASSERT_TRUE(OpenDebugLog(dir.file("log.txt").c_str()));
  LogMessage(7, "kept ");
  CloseDebugLog();
  LogMessage(0, "after the close");
#ifdef _WIN32
  const std::string line_end = "\r\n";  // text mode
#else
  const std::string line_end = "\n";
#endif
  EXPECT_EQ(ReadFile(dir.file("log.txt")), "early " + line_end + "early value too" + line_end +
                                               "no marker" + line_end + "kept " + line_end);
  // Reopened, the log starts afresh: nothing was kept after it was turned on.
  ASSERT_TRUE(OpenDebugLog(dir.file("log.txt").c_str()));
  CloseDebugLog();
  EXPECT_EQ(ReadFile(dir.file("log.txt")), "");
  testing_support::ResetDebugLog();
}

TEST(DebugLogTest, LinesFromBeforeTheOpenAreBounded) {
  const std::string line(1000, 'x');
  struct Case {
    int lines_before;
    size_t lines_kept;
  };
  const Case cases[] = {{0, 0}, {65, 65}, {66, 65}, {5000, 65}};
  ScratchDir dir;
  for (const Case& c : cases) {
    testing_support::ResetDebugLog();
    for (int i = 0; i < c.lines_before; ++i) {
      LogMessageParam(0, "[1]", (std::to_string(i) + line).c_str());
    }
    ASSERT_TRUE(OpenDebugLog(dir.file("log.txt").c_str()));
    LogMessage(0, "opened");
    CloseDebugLog();
    std::vector<std::string> lines = testing_support::ReadLines(dir.file("log.txt"));
    ASSERT_EQ(lines.size(), c.lines_kept + 1) << c.lines_before;
    for (size_t i = 0; i < c.lines_kept; ++i) EXPECT_EQ(lines[i], std::to_string(i) + line);
    EXPECT_EQ(lines.back(), "opened");
  }
  testing_support::ResetDebugLog();
}

TEST(DebugLogTest, SecondOpenFailsKeepsFirstFileAndStopsLaterLines) {
  ScratchDir dir;
  testing_support::ResetDebugLog();
  ASSERT_TRUE(OpenDebugLog(dir.file("first.txt").c_str()));
  LogMessage(0, "before");
  EXPECT_FALSE(OpenDebugLog(dir.file("second.txt").c_str()));
  EXPECT_TRUE(DebugLogStream.is_open());
  LogMessage(0, "after");
  CloseDebugLog();
  EXPECT_EQ(testing_support::ReadLines(dir.file("first.txt")), std::vector<std::string>{"before"});
  EXPECT_FALSE(std::filesystem::exists(dir.file("second.txt")));
  testing_support::ResetDebugLog();
}

TEST(DebugLogTest, FailedOpenLeavesLogOnButSilent) {
  ScratchDir dir;
  testing_support::ResetDebugLog();
  LogMessage(0, "early");
  EXPECT_FALSE(OpenDebugLog(dir.file("no_such_folder/log.txt").c_str()));
  EXPECT_TRUE(DebugLogEnabled);
  EXPECT_FALSE(DebugLogStream.is_open());
  LogMessage(0, "nowhere");  // must not crash
  CloseDebugLog();
  // Neither the early line nor the later one waits for another log.
  DebugLogEnabled = false;
  ASSERT_TRUE(OpenDebugLog(dir.file("log.txt").c_str()));
  CloseDebugLog();
  EXPECT_EQ(ReadFile(dir.file("log.txt")), "");
  testing_support::ResetDebugLog();
}

TEST(DebugLogTest, OpenedLogWithoutLinesLeavesEmptyFileAndTruncates) {
  ScratchDir dir;
  std::string path = dir.file("log.txt");
  { std::ofstream(path) << "old content"; }
  testing_support::ResetDebugLog();
  ASSERT_TRUE(OpenDebugLog(path.c_str()));
  CloseDebugLog();
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(ReadFile(path), "");
  testing_support::ResetDebugLog();
}

}  // namespace
