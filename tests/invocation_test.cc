#include "firmware/invocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/test_support.h"

using testing_support::CapturedLog;
using testing_support::ScratchDir;

namespace {

constexpr char kUpdateRequired[] =
    "Device #1:\n  Part Number:   MCX-100\n  PSID:          QV_0001\n  Status:        Update required\n";
constexpr char kFailedToOpen[] =
    "Device #2:\n  Part Number:   MCX-200\n  PSID:          QV_0002\n  Status:        Failed to open device\n";
constexpr char kUpToDate[] =
    "Device #3:\n  Part Number:   MCX-300\n  PSID:          QV_0003\n  Status:        Up to date\n";
constexpr char kNoImage[] =
    "Device #4:\n  Part Number:   MCX-400\n  PSID:          QV_0004\n  Status:        No matching image found\n";

// A folder holding the stand-in tool as flashkeeper.exe and its script.
class FakeTool {
 public:
  explicit FakeTool(const std::string& subfolder = "tool") : folder_(dir_.path() / subfolder) {
    std::filesystem::create_directories(folder_);
    std::filesystem::copy_file(FAKE_FLASHKEEPER_PATH, folder_ / "flashkeeper.exe");
  }
  void Report(const std::string& report, int exitCode = 0) {
    std::ofstream(folder_ / "report.txt", std::ios::binary) << report;
    std::ofstream(folder_ / "exitcode.txt") << exitCode;
  }
  std::string Folder() const { return NativeFolder(folder_); }
  std::string Arguments() const { return testing_support::ReadFile((folder_ / "args.txt").string()); }

  // The folder as the tool's command line names it: in Windows form where
  // the program runs on Windows.
  static std::string NativeFolder(std::filesystem::path folder) {
    return folder.make_preferred().string();
  }

 private:
  ScratchDir dir_;
  std::filesystem::path folder_;
};

struct Outcome {
  FirmwareStatus status;
  int32_t result;
};

Outcome Check(const std::string& folder, bool query) {
  FirmwareStatus status = -1;
  int32_t result = CheckAndUpdateFirmware(0, folder.c_str(), query ? 1 : 0, false, &status,
                                          nullptr, 0, false);
  return {status, result};
}

TEST(InvocationTest, OutcomesOfBothModes) {
  struct Case {
    const char* name;
    std::string report;
    int exitCode;
    bool query;
    FirmwareStatus status;
    const char* verdict;  // the query's last log line
  };
  const Case cases[] = {
      {"query: update and failure", std::string(kUpdateRequired) + kFailedToOpen, 0, true,
       kFwUpdateRequired, "RunFlashKeeper: FW update is required"},
      {"query: all up to date", std::string(kUpToDate) + kUpToDate, 0, true, kFwNoProblem,
       "RunFlashKeeper: FW update is not required"},
      {"query: no image", kNoImage, 0, true, kFwNoMatchingImage,
       "RunFlashKeeper: FW update is not required"},
      {"query: failure then no image", std::string(kFailedToOpen) + kNoImage, 0, true,
       kFwOpenFailed, "RunFlashKeeper: FW update is not required"},
      {"query: tool fails but reports", kUpdateRequired, 3, true, kFwUpdateRequired,
       "RunFlashKeeper: FW update is required"},
      {"update: update required", kUpdateRequired, 0, false, kFwUpdated, nullptr},
      {"update: failed to open only", kFailedToOpen, 0, false, kFwNoProblem, nullptr},
      {"update: nothing reported", "", 0, false, kFwNoProblem, nullptr},
      {"update: tool exits 259", kUpdateRequired, 259, false, kFwUpdated, nullptr},
  };
  for (const Case& c : cases) {
    FakeTool tool;
    tool.Report(c.report, c.exitCode);
    CapturedLog log;
    Outcome outcome = Check(tool.Folder(), c.query);
    std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(outcome.result, 0) << c.name;
    EXPECT_EQ(outcome.status, c.status) << c.name;
    EXPECT_EQ(tool.Arguments(), c.query ? "--no\n" : "-u -y\n") << c.name;
    ASSERT_FALSE(lines.empty()) << c.name;
    if (c.verdict) {
      EXPECT_EQ(lines.back(), c.verdict) << c.name;
    } else {
      EXPECT_EQ(lines.back(), "CheckFWUpdateStatByOutpt: completed ") << c.name;
    }
  }
}

TEST(InvocationTest, QueryRunLogsInOrder) {
  FakeTool tool;
  tool.Report(kUpdateRequired);
  CapturedLog log;
  Check(tool.Folder(), true);
  std::vector<std::string> lines = log.Lines();
  std::string commandLine = tool.Folder() + "\\flashkeeper.exe --no";
  const std::vector<std::string> expected = {
      "Action started: CheckAndUpdateFirmware",
      "Action started: RunFlashKeeper",
      "RunFlashKeeper: flashkpr querying for firmware update ",
      "RunFlashKeeper: running command " + commandLine,
      "run_cmd: started cmd " + commandLine,
      "run_cmdA: exit code is 0",
      "CheckFWUpdateStatByOutpt: start parsing output ",
      "GetStatusByMsg: found one device that should be updated s:        Update required ",
      "CheckFWUpdateStatByOutpt: completed ",
      "RunFlashKeeper: FW update is required",
  };
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
            std::vector<std::string>(expected.begin(), expected.begin() + 5));
  // The rest in this order, with the runner's and parser's other lines between.
  auto at = lines.begin();
  for (const std::string& line : expected) {
    at = std::find(at, lines.end(), line);
    ASSERT_NE(at, lines.end()) << "missing or out of order: " << line;
  }
}

TEST(InvocationTest, FailuresBeforeTheReportIsRead) {
  FakeTool tool;
  std::string missing = FakeTool::NativeFolder(std::filesystem::path(tool.Folder()) / "nothing");
  // "<folder>\flashkeeper.exe --no" is the folder and 21 bytes: 2048 in all.
  std::string tooLong = tool.Folder() + std::string(2027 - tool.Folder().size(), 'd');
  struct Case {
    const char* name;
    std::string folder;
    bool query;
    Outcome outcome;
    const char* logged;
  };
  const Case cases[] = {
      {"tool missing", missing, true, {kFwUpToDate, 5000},
       "RunFlashKeeper: failed to call the flashkeeper tool"},
      {"tool missing, update", missing, false, {kFwUpToDate, 5000},
       "RunFlashKeeper: failed to call the flashkeeper tool"},
      {"command line of 2048 bytes", tooLong, true, {kFwCommandLineFailed, kFwCommandLineTooLong},
       "RunFlashKeeper: Failed to copy the command line"},
  };
  for (const Case& c : cases) {
    CapturedLog log;
    Outcome outcome = Check(c.folder, c.query);
    EXPECT_EQ(outcome.status, c.outcome.status) << c.name;
    EXPECT_EQ(outcome.result, c.outcome.result) << c.name;
    EXPECT_EQ(log.Lines().back(), c.logged) << c.name;
  }
}

TEST(InvocationTest, CommandLineOfExactly2047BytesRuns) {
  FakeTool tool;
  tool.Report(kUpToDate);
  std::string folder = tool.Folder() + std::string(2026 - tool.Folder().size(), 'd');
  Outcome outcome = Check(folder, true);
  EXPECT_EQ(outcome.result, 5000);  // built and tried: nothing to run there
  EXPECT_EQ(outcome.status, kFwUpToDate);
}

TEST(InvocationTest, ReportsAtTheEdgesOfTheBuffer) {
  std::string tooLarge;
  while (tooLarge.size() <= kFwOutputCapacity) tooLarge += kUpdateRequired;
  std::string fillsTheBuffer = kUpdateRequired;
  fillsTheBuffer.resize(kFwOutputCapacity - 1, '\n');
  struct Case {
    const char* name;
    std::string report;
    Outcome outcome;
  };
  const Case cases[] = {
      {"more than 102399 bytes", tooLarge, {kFwUpToDate, 5004}},
      {"exactly 102399 bytes", fillsTheBuffer, {kFwUpdateRequired, 0}},
      {"a NUL ends the text",
       std::string(kNoImage) + std::string(1, '\0') + kFailedToOpen + kUpdateRequired,
       {kFwNoMatchingImage, 0}},
  };
  for (const Case& c : cases) {
    FakeTool tool;
    tool.Report(c.report);
    Outcome outcome = Check(tool.Folder(), true);
    EXPECT_EQ(outcome.result, c.outcome.result) << c.name;
    EXPECT_EQ(outcome.status, c.outcome.status) << c.name;
  }
}

TEST(InvocationTest, FolderWithABlankIsQuoted) {
  FakeTool tool("Program Files");
  tool.Report(kUpdateRequired);
  CapturedLog log;
  Outcome outcome = Check(tool.Folder(), true);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.status, kFwUpdateRequired);
  std::vector<std::string> lines = log.Lines();
  EXPECT_EQ(lines[3], "RunFlashKeeper: running command \"" + tool.Folder() + "\\flashkeeper.exe\" --no");
}

TEST(InvocationTest, PartNumberListsAndOemFilterReachTheParser) {
  FakeTool tool;
  tool.Report(std::string(kFailedToOpen) + kUpdateRequired +
              "Device #9:\n  PSID:          MT_0009\n  Status:        No matching image found\n");
  const char* supported[] = {"MCX-100"};
  FirmwareStatus status = -1;
  EXPECT_EQ(CheckAndUpdateFirmware(0, tool.Folder().c_str(), 1, true, &status, supported, 1, true), 0);
  EXPECT_EQ(status, kFwUpdateRequired);
  EXPECT_EQ(CheckAndUpdateFirmware(0, tool.Folder().c_str(), 0, true, &status, supported, 1, false), 0);
  EXPECT_EQ(status, kFwNoProblem);  // update mode: the only update-required device was left out
}

}  // namespace
