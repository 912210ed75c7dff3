#include "firmware/invocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "firmware/outcome.h"
#include "firmware/runner.h"
#include "platform/os.h"
#include "tests/simulated_tool_os.h"
#include "tests/test_support.h"
#include "tests/tool_folder.h"

using testing_support::CapturedLog;
using testing_support::ToolFolder;

namespace {

constexpr char kUpdateRequired[] =
    "Device #1:\n  Part Number:   VN2-100\n  PSID:          QV_0001\n  Status:        Update required\n";
constexpr char kFailedToOpen[] =
    "Device #2:\n  Part Number:   VN2-200\n  PSID:          QV_0002\n  Status:        Failed to open device\n";
constexpr char kUpToDate[] =
    "Device #3:\n  Part Number:   VN2-300\n  PSID:          QV_0003\n  Status:        Up to date\n";
constexpr char kNoImage[] =
    "Device #4:\n  Part Number:   VN2-400\n  PSID:          QV_0004\n  Status:        No matching image found\n";

struct Outcome {
  FirmwareStatus status;
  int32_t result;
};

Outcome Check(const std::string& folder, bool query) {
  FirmwareStatus status = -1;
  int32_t result =
      CheckAndUpdateFirmware(0, folder.c_str(), query ? 1 : 0, false, &status, nullptr, 0, false);
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
  // clang-format off
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
  // clang-format on
  for (const Case& c : cases) {
    ToolFolder tool("", 0, "tool");
    tool.Report(c.report, c.exitCode);
    CapturedLog log;
    Outcome outcome = Check(tool.Path(), c.query);
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
  ToolFolder tool("", 0, "tool");
  tool.Report(kUpdateRequired);
  CapturedLog log;
  Check(tool.Path(), true);
  std::vector<std::string> lines = log.Lines();
  std::string commandLine = tool.Path() + "\\flashkeeper.exe --no";
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
  ToolFolder tool("", 0, "tool");
  std::string missing = tool.Missing();
  // "<folder>\flashkeeper.exe --no" is the folder and 21 bytes: 2048 in all.
  std::string tooLong = tool.Path() + std::string(2027 - tool.Path().size(), 'd');
  struct Case {
    const char* name;
    std::string folder;
    bool query;
    Outcome outcome;
    const char* logged;
  };
  // clang-format off
  const Case cases[] = {
      {"tool missing", missing, true, {kFwUpToDate, 5000},
       "RunFlashKeeper: failed to call the flashkeeper tool"},
      {"tool missing, update", missing, false, {kFwUpToDate, 5000},
       "RunFlashKeeper: failed to call the flashkeeper tool"},
      {"command line of 2048 bytes", tooLong, true, {kFwCommandLineFailed, kFwCommandLineTooLong},
       "RunFlashKeeper: Failed to copy the command line"},
  };
  // clang-format on
  for (const Case& c : cases) {
    CapturedLog log;
    Outcome outcome = Check(c.folder, c.query);
    EXPECT_EQ(outcome.status, c.outcome.status) << c.name;
    EXPECT_EQ(outcome.result, c.outcome.result) << c.name;
    EXPECT_EQ(log.Lines().back(), c.logged) << c.name;
  }
}

TEST(InvocationTest, CommandLineOfExactly2047BytesRuns) {
  ToolFolder tool("", 0, "tool");
  tool.Report(kUpToDate);
  std::string folder = tool.Path() + std::string(2026 - tool.Path().size(), 'd');
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
  // clang-format off
  const Case cases[] = {
      {"more than 102399 bytes", tooLarge, {kFwUpToDate, 5004}},
      {"exactly 102399 bytes", fillsTheBuffer, {kFwUpdateRequired, 0}},
      {"a NUL ends the text",
       std::string(kNoImage) + std::string(1, '\0') + kFailedToOpen + kUpdateRequired,
       {kFwNoMatchingImage, 0}},
  };
  // clang-format on
  for (const Case& c : cases) {
    ToolFolder tool("", 0, "tool");
    tool.Report(c.report);
    Outcome outcome = Check(tool.Path(), true);
    EXPECT_EQ(outcome.result, c.outcome.result) << c.name;
    EXPECT_EQ(outcome.status, c.outcome.status) << c.name;
  }
}

TEST(InvocationTest, FolderWithABlankIsQuoted) {
  ToolFolder tool("", 0, "Program Files");
  tool.Report(kUpdateRequired);
  CapturedLog log;
  Outcome outcome = Check(tool.Path(), true);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.status, kFwUpdateRequired);
  std::vector<std::string> lines = log.Lines();
  EXPECT_EQ(lines[3],
            "RunFlashKeeper: running command \"" + tool.Path() + "\\flashkeeper.exe\" --no");
}

TEST(InvocationTest, PartNumberListsAndOemFilterReachTheParser) {
  ToolFolder tool("", 0, "tool");
  tool.Report(std::string(kFailedToOpen) + kUpdateRequired +
              "Device #9:\n  PSID:          RS_0009\n  Status:        No matching image found\n");
  const char* supported[] = {"VN2-100"};
  FirmwareStatus status = -1;
  EXPECT_EQ(CheckAndUpdateFirmware(0, tool.Path().c_str(), 1, true, &status, supported, 1, true),
            0);
  EXPECT_EQ(status, kFwUpdateRequired);
  EXPECT_EQ(CheckAndUpdateFirmware(0, tool.Path().c_str(), 0, true, &status, supported, 1, false),
            0);
  EXPECT_EQ(status, kFwNoProblem);  // update mode: the only update-required device was left out
}

// ---------------------------------------------------------------------------
// The tool simulated through the seam: its output comes in the given chunks,
// one per read, on a clock of its own; what it was started with is kept.

using testing_support::SimulatedToolOs;

struct ScriptedCheck {
  FirmwareCheckReport report;
  std::vector<std::string> log;
};

ScriptedCheck CheckScripted(SimulatedToolOs& tool, const FirmwareCheckRequest& request) {
  os::ScopedOs scoped(tool);
  CapturedLog log;
  ScriptedCheck check;
  EXPECT_EQ(RunFirmwareCheck(0, request, &check.report), check.report.result);
  check.log = log.Lines();
  return check;
}

FirmwareCheckRequest Request(bool update, const char* folder = "C:\\fw", uint32_t timeoutMs = 0) {
  FirmwareCheckRequest request;
  request.toolDirectory = folder;
  request.update = update;
  request.timeoutMs = timeoutMs;
  return request;
}

// Chunks that each hold one device, a NUL and then bytes that are not kept:
// far more bytes read than fit the report buffer, few of them stored.
std::vector<std::string> ChunksWithNul(int count) {
  std::vector<std::string> chunks;
  for (int i = 0; i < count; ++i) {
    std::string chunk = kUpToDate + std::string(1, '\0');
    chunk.resize(4096, 'x');
    chunks.push_back(chunk);
  }
  return chunks;
}

// What the check reports beyond status and result, and whether the outcome
// is an answer.
TEST(InvocationTest, ReportsAndFailureRules) {
  constexpr uint32_t kAccessViolation = 0xC0000005u;
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    bool update;
    bool wait_fails;
    std::vector<uint32_t> first_exit_codes;
    uint32_t exit_code;
    bool exit_code_fails;
    FirmwareStatus status;
    int32_t result;
    bool toolExitCodeKnown;
    uint32_t toolExitCode;
    uint32_t devicesReported;
    bool reportHeldNul;
    const char* reason;
  };
  const std::string twoDevices = std::string(kUpdateRequired) + kUpToDate;
  // clang-format off
  const Case cases[] = {
      {"query, normal", {twoDevices}, false, false, {}, 0, false, kFwUpdateRequired, 0, true, 0,
       2, false, nullptr},
      {"query, exit code 3 is reported", {twoDevices}, false, false, {}, 3, false,
       kFwUpdateRequired, 0, true, 3, 2, false, nullptr},
      {"query, exit code unreadable", {twoDevices}, false, false, {}, 0, true, kFwUpdateRequired,
       0, false, 0, 2, false, nullptr},
      {"query, crashed", {twoDevices}, false, false, {}, kAccessViolation, false,
       kFwUpdateRequired, 0, true, kAccessViolation, 2, false,
       "the tool ended with a Windows exception code"},
      {"query, no device line", {"error: no adapter\n"}, false, false, {}, 1, false, kFwNoProblem,
       0, true, 1, 0, false, "the tool's report holds no \"Device #\" line"},
      {"query, NUL in every chunk, more read than fits", ChunksWithNul(30), false, false, {}, 0,
       false, kFwNoProblem, 0, true, 0, 30, true, "the tool's report held a NUL byte"},
      {"query, report cut off in a device", {std::string(kUpToDate) + "Device #2:\n  Part Number:"},
       false, false, {}, 1, false, kFwNoProblem, 0, true, 1, 2, false, "device 2 reported no status"},
      {"query, line ends the parser does not know",
       {"Device #1:\r  Status: Up to date\rDevice #2:\r  Status: Update required\r"}, false, false,
       {}, 0, false, kFwNoProblem, 0, true, 0, 1, false, "device 1 reported no status"},
      {"update, normal", {twoDevices}, true, false, {}, 0, false, kFwUpdated, 0, true, 0, 2, false,
       nullptr},
      {"update, a device failed to open", {twoDevices + kFailedToOpen}, true, false, {}, 0, false,
       kFwUpdated, 0, true, 0, 3, false,
       "the update reported a device problem: failed to open device (device 3)"},
      {"update, forced update required", {"Device #1:\n  Status: Forced update required\n"}, true,
       false, {}, 0, false, kFwNoProblem, 0, true, 0, 1, false,
       "the update reported a device problem: forced update required (device 1)"},
      {"update, no image and no status do not fail it", {std::string(kNoImage) + "Device #5:\n"},
       true, false, {}, 0, false, kFwNoProblem, 0, true, 0, 2, false, nullptr},
      {"update, exit code 1", {twoDevices}, true, false, {}, 1, false, kFwUpdated, 0, true, 1, 2,
       false, "the update ended with an exit code other than 0"},
      {"update, exit code unreadable", {twoDevices}, true, false, {}, 0, true, kFwUpdated, 0, false,
       0, 2, false, "the tool's exit code could not be read"},
      // The runner never saw the end: its result is the exit code, and the
      // status stays the parser's.
      {"update, end not seen", {kFailedToOpen}, true, true, {os::kStillActive}, os::kStillActive,
       false, kFwOpenFailed, 0, true, os::kStillActive, 1, false, "the tool was not seen to end"},
      // A negative runner result is a failure: nothing is parsed.
      {"query, end not seen, then a negative exit code", {twoDevices}, false, true,
       {os::kStillActive}, kAccessViolation, false, kFwUpToDate,
       static_cast<int32_t>(kAccessViolation), true, kAccessViolation, 0, false,
       "the tool was not seen to end"},
  };
  // clang-format on
  // The tool as the case has it behave.
  auto script = [](const Case& c, SimulatedToolOs* tool) {
    tool->WriteChunks(c.chunks);
    tool->wait_fails = c.wait_fails;
    tool->first_exit_codes = c.first_exit_codes;
    tool->exit_code = c.exit_code;
    tool->exit_code_fails = c.exit_code_fails;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedToolOs tool;
    script(c, &tool);
    FirmwareCheckRequest request = Request(c.update);
    FirmwareCheckReport report = CheckScripted(tool, request).report;
    EXPECT_EQ(report.status, c.status);
    EXPECT_EQ(report.result, c.result);
    EXPECT_EQ(report.toolExitCodeKnown, c.toolExitCodeKnown);
    EXPECT_EQ(report.toolExitCode, c.toolExitCode);
    EXPECT_EQ(report.devicesReported, c.devicesReported);
    EXPECT_EQ(report.devicesExamined, c.devicesReported);
    EXPECT_EQ(report.reportHeldNul, c.reportHeldNul);
    EXPECT_FALSE(report.timedOut);
    EXPECT_EQ(FirmwareCheckFailureReason(request, report), c.reason ? c.reason : "");
    // The old entry gives the same status and result.
    SimulatedToolOs again;
    script(c, &again);
    os::ScopedOs scoped(again);
    FirmwareStatus status = -1;
    EXPECT_EQ(
        CheckAndUpdateFirmware(0, "C:\\fw", c.update ? 0 : 1, false, &status, nullptr, 0, false),
        c.result);
    EXPECT_EQ(status, c.status);
  }
}

// The tool's path: made full, given as the program to run, quoted in the
// command line when it holds a blank or a tab. Without a usable folder
// nothing runs.
TEST(InvocationTest, ToolPathAndCommandLine) {
  struct Case {
    const char* name;
    const char* folder;
    bool update;
    bool full_path_fails;
    uint32_t full_path_length;
    int32_t result;
    FirmwareStatus status;
    const char* application;  // nullptr: nothing was started
    const char* commandLine;
  };
  // clang-format off
  const Case cases[] = {
      {"full folder", "C:\\fw", false, false, 0, 0, kFwUpdateRequired,
       "C:\\fw\\flashkeeper.exe", "C:\\fw\\flashkeeper.exe --no"},
      {"relative folder", "tools\\m", false, false, 0, 0, kFwUpdateRequired,
       "C:\\work\\tools\\m\\flashkeeper.exe", "C:\\work\\tools\\m\\flashkeeper.exe --no"},
      {"a tab", "C:\\a\tb", false, false, 0, 0, kFwUpdateRequired, "C:\\a\tb\\flashkeeper.exe",
       "\"C:\\a\tb\\flashkeeper.exe\" --no"},
      {"a blank, update", "C:\\Program Files\\fw", true, false, 0, 0, kFwUpdated,
       "C:\\Program Files\\fw\\flashkeeper.exe",
       "\"C:\\Program Files\\fw\\flashkeeper.exe\" -u -y"},
      {"empty folder", "", false, false, 0, PROC_CREATE_FAILED, kFwUpToDate, nullptr, nullptr},
      {"no folder", nullptr, true, false, 0, PROC_CREATE_FAILED, kFwUpToDate, nullptr, nullptr},
      {"folder cannot be made full", "tools", false, true, 0, PROC_CREATE_FAILED, kFwUpToDate,
       nullptr, nullptr},
      {"full folder too long", "tools", false, false, 5000, kFwCommandLineTooLong,
       kFwCommandLineFailed, nullptr, nullptr},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedToolOs tool;
    tool.WriteChunks({kUpdateRequired});
    tool.full_path_fails = c.full_path_fails;
    tool.full_path_length = c.full_path_length;
    ScriptedCheck check = CheckScripted(tool, Request(c.update, c.folder));
    EXPECT_EQ(check.report.result, c.result);
    EXPECT_EQ(check.report.status, c.status);
    EXPECT_EQ(!tool.started_command_line.empty(), c.application != nullptr);
    ASSERT_GE(check.log.size(), 4u);
    EXPECT_EQ(check.log[2], c.update ? "RunFlashKeeper:  start updating the firmware "
                                     : "RunFlashKeeper: flashkpr querying for firmware update ");
    if (c.application == nullptr) {
      EXPECT_EQ(check.log.back(), c.result == PROC_CREATE_FAILED
                                      ? "RunFlashKeeper: failed to call the flashkeeper tool"
                                      : "RunFlashKeeper: Failed to copy the command line");
      continue;
    }
    EXPECT_EQ(tool.started_application, c.application);
    EXPECT_EQ(tool.started_command_line, c.commandLine);
    EXPECT_EQ(check.log[3], std::string("RunFlashKeeper: running command ") + c.commandLine);
  }
}

// An elevated check runs the tool only when no account but the trusted
// ones can change the tool, its folder or a folder above, read as the
// system reads access rules; the rules here are shaped as a real system's.
TEST(InvocationTest, AnElevatedCheckRunsOnlyAToolNobodyElseCanChange) {
  using Kind = os::AccessEntry::Kind;
  auto allow = [](const char* sid, uint32_t mask, bool inheritOnly = false) {
    return os::AccessEntry{Kind::kAllow, inheritOnly, mask, sid};
  };
  auto deny = [](const char* sid, uint32_t mask) {
    return os::AccessEntry{Kind::kDeny, false, mask, sid};
  };
  const char *kTool = "C:\\fw\\flashkeeper.exe", *kFolder = "C:\\fw", *kRoot = "C:\\";
  const char *kAdmins = "S-1-5-32-544", *kUsers = "S-1-5-32-545", *kAuthUsers = "S-1-5-11";
  const std::vector<os::AccessEntry> kProtected = {
      allow("S-1-5-18", 0x1F01FF), allow(kAdmins, 0x1F01FF), allow(kUsers, 0x1200A9),
      allow("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", 0x1F01FF),
      allow("S-1-3-0", 0x10000000, true)};
  struct Case {
    const char* name;
    const char* path;  // whose rules change
    std::vector<os::AccessEntry> added;
    const char* owner;  // nullptr: Administrators; "": the rules cannot be read
    bool elevated;
    const char* account;
    const char* refusal;  // nullptr: the tool runs
  };
  // clang-format off
  const Case cases[] = {
      {"a system drive's root lets users create folders and passes rights on", kRoot,
       {allow(kAuthUsers, 0x4), allow(kAuthUsers, 0xE0010000, true)}, nullptr, true, nullptr, nullptr},
      {"users may add files to the tool folder", kFolder, {allow(kUsers, 0x2)}, nullptr, true,
       nullptr, "the tool folder can be changed by BUILTIN\\Users (add files): C:\\fw"},
      {"everyone may write the tool, by a generic right", kTool, {allow("S-1-1-0", 0x40000000)},
       nullptr, true, nullptr, "the tool can be changed by Everyone (write, append): C:\\fw\\flashkeeper.exe"},
      {"interactive users may delete what a folder above holds, change its rules and owner", kRoot,
       {allow("S-1-5-4", 0xC0040)}, nullptr, true, nullptr,
       "a folder above the tool can be changed by NT AUTHORITY\\INTERACTIVE (delete what it holds, "
       "change access rules, change owner): C:\\"},
      {"a denial before a grant narrows it; the check's own account owns the tool", kTool,
       {deny("S-1-1-0", 0xD0006), allow(kUsers, 0x1301BF), allow("S-1-5-21-7-7-7-1001", 0x1F01FF)},
       "S-1-5-21-7-7-7-1001", true, nullptr, nullptr},
      {"a denial after a grant takes nothing back", kFolder,
       {allow(kAuthUsers, 0x10040), deny(kAuthUsers, 0x10040)}, nullptr, true, nullptr,
       "the tool folder can be changed by NT AUTHORITY\\Authenticated Users (delete what it holds, "
       "delete or rename it): C:\\fw"},
      {"an owner who is not trusted", kFolder, {}, "S-1-5-21-7-7-7-1002", true, nullptr,
       "the tool folder can be changed by S-1-5-21-7-7-7-1002 (owner): C:\\fw"},
      {"rules that cannot be read", kFolder, {}, "", true, nullptr,
       "the access rules of the tool folder cannot be read (error 5): C:\\fw"},
      {"not elevated: runs as any user could", kFolder, {allow("S-1-1-0", 0x1F01FF)}, nullptr,
       false, nullptr, nullptr},
      {"the system's account", kTool, {allow(kUsers, 0x10000)}, nullptr, false, "S-1-5-18",
       "the tool can be changed by BUILTIN\\Users (delete): C:\\fw\\flashkeeper.exe"},
  };
  // clang-format on
  for (const Case& c : cases) {
    for (const char* folder : {kFolder, "C:\\link"}) {
      SCOPED_TRACE(std::string(c.name) + ", from " + folder);
      SimulatedToolOs tool;
      tool.WriteChunks({kUpToDate});
      tool.elevated = c.elevated;
      if (c.account != nullptr) tool.account = c.account;
      // A link is judged, and started, where it leads; its own folder's
      // rules cannot be read.
      tool.final_paths["C:\\link\\flashkeeper.exe"] = kTool;
      for (const char* path : {kTool, kFolder, kRoot}) {
        tool.access_rules[path] = {kAdmins, kProtected};
      }
      os::AccessRules& changed = tool.access_rules[c.path];
      if (c.owner != nullptr) changed.owner = c.owner;
      changed.entries.insert(changed.entries.end(), c.added.begin(), c.added.end());
      if (c.owner != nullptr && *c.owner == '\0') tool.access_rules.erase(c.path);
      FirmwareCheckRequest request = Request(false, folder);
      ScriptedCheck check = CheckScripted(tool, request);
      if (c.refusal == nullptr) {
        EXPECT_EQ(check.report.result, 0);
        EXPECT_EQ(tool.started_command_line, c.elevated
                                                 ? std::string(kTool) + " --no"
                                                 : std::string(folder) + "\\flashkeeper.exe --no");
        continue;
      }
      std::string reason = std::string(c.refusal) + "; nothing was run";
      EXPECT_EQ(check.report.result, kFwToolNotProtected);
      EXPECT_EQ(FirmwareCheckFailureReason(request, check.report), reason);
      EXPECT_EQ(tool.started_command_line, "");
      EXPECT_NE(std::find(check.log.begin(), check.log.end(), "RunFlashKeeper: " + reason),
                check.log.end());
    }
  }
}

// Only a query is ever cut short, and only when a limit is asked for.
TEST(InvocationTest, TimeLimitEndsOnlyAQuery) {
  struct Case {
    const char* name;
    bool update;
    uint32_t timeoutMs;
    int32_t result;
    bool timedOut;
    const char* reason;
  };
  // clang-format off
  const Case cases[] = {
      {"query with a limit", false, 5000, PROC_TIMED_OUT, true, "timed out"},
      {"query without a limit", false, 0, 0, false, nullptr},
      {"update with a limit", true, 5000, 0, false, nullptr},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedToolOs tool;
    tool.WriteChunks({kUpToDate});
    tool.ends_at_ms = 60000;
    FirmwareCheckRequest request = Request(c.update, "C:\\fw", c.timeoutMs);
    ScriptedCheck check = CheckScripted(tool, request);
    EXPECT_EQ(check.report.result, c.result);
    EXPECT_EQ(check.report.timedOut, c.timedOut);
    EXPECT_EQ(tool.terminated.size(), c.timedOut ? 1u : 0u);
    EXPECT_EQ(FirmwareCheckFailureReason(request, check.report), c.reason ? c.reason : "");
    if (c.timedOut) {
      EXPECT_EQ(check.report.status, kFwUpToDate);
    }
  }
}

// A query's tool shares the console only when asked and there is one; an
// update's never does.
TEST(InvocationTest, OnlyAQueryMayShareTheConsole) {
  // update, asked to share, a console to share; shared
  const bool cases[][4] = {{false, true, true, true},
                           {false, true, false, false},
                           {false, false, true, false},
                           {true, true, true, false}};
  for (const auto& c : cases) {
    SimulatedToolOs tool;
    tool.WriteChunks({kUpToDate});
    tool.has_console = c[2];
    FirmwareCheckRequest request = Request(c[0]);
    request.shareConsole = c[1];
    CheckScripted(tool, request);
    EXPECT_EQ(tool.started_with_console, c[3]) << c[0] << c[1] << c[2];
  }
}

}  // namespace
