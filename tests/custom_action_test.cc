#include "firmware/custom_action/custom_action.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "firmware/custom_action/action_settings.h"
#include "firmware/restart_pending.h"
#include "tests/fake_os.h"
#include "tests/simulated_tool_os.h"
#include "tests/test_support.h"
#include "tests/tool_folder.h"

using testing_support::FakeInstallerSession;
using testing_support::ScratchDir;
using testing_support::ToolFolder;

namespace {

constexpr uint32_t kSession = FakeInstallerSession::kHandle;
constexpr char kProduct[] = "{5B0E7C38-2F0A-4C8E-9A51-3D6E2B7F4C10}";
constexpr char kRestartMarker[] = "Vantreo firmware restart {5B0E7C38-2F0A-4C8E-9A51-3D6E2B7F4C10}";
constexpr char kUpdateText[] = "Updating device firmware. Do not turn off the computer.";

constexpr char kUpdateRequired[] =
    "Device #1:\n  Part Number:   VN2-4410-A\n  PSID:          QV_0001\n  Status:        Update required\n";
constexpr char kUpToDate[] =
    "Device #2:\n  Part Number:   VN2-4420-B\n  PSID:          QV_0002\n  Status:        Up to date\n";
constexpr char kOpenFailed[] = "Device #2:\n  Status: Failed to open device\n";

// What the installer makes of a record template: "[\x]" gives x, any other
// bracketed name is a property, here never set, and vanishes; so does a
// "{{...}}" group.
std::string FormatLikeTheInstaller(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "{{") == 0) {
      size_t end = text.find("}}", i);
      if (end == std::string::npos) break;
      i = end + 1;
    } else if (text[i] != '[') {
      out += text[i];
    } else if (i + 3 < text.size() && text[i + 1] == '\\' && text[i + 3] == ']') {
      out += text[i + 2];
      i += 3;
    } else {
      size_t end = text.find(']', i);
      if (end == std::string::npos) break;
      i = end;
    }
  }
  return out;
}

class CustomActionTest : public ::testing::Test {
 protected:
  ~CustomActionTest() override { SetLogRelay(nullptr); }

  // Whether some relayed line, as the installer formats it, holds `text`.
  bool Logged(const std::string& text) const {
    for (const std::string& message : session_.messages) {
      if (FormatLikeTheInstaller(message).find(text) != std::string::npos) return true;
    }
    return false;
  }
  // Every relayed line, for a failure's message.
  std::string AllLogged() const {
    std::string all;
    for (const std::string& message : session_.messages)
      all += "\n  " + FormatLikeTheInstaller(message);
    return all;
  }

  FakeInstallerSession session_;
  os::ScopedOs scoped_{session_};
};

TEST_F(CustomActionTest, UpdateDataRoundTrip) {
  std::vector<FirmwareActionSettings> cases(8);
  cases[0].toolDirectory = "C:\\Program Files\\Vantreo\\fw";
  cases[1].toolDirectory = "C:\\odd;folder;;name;";  // semicolons, doubled and last
  cases[1].oemFilter = true;
  cases[2].toolDirectory =
      "\\\\server\\share\\a=b [x] ";  // backslashes, "=", brackets, trailing blank
  cases[2].updateMustSucceed = true;
  cases[2].restartAfterUpdate = false;
  cases[3].toolDirectory = "C:\\fw";
  cases[3].partNumbers = {"VN2-4420-A", "VN2 4410 B"};
  cases[3].supportedList = true;
  cases[4].toolDirectory = "C:\\fw";
  cases[4].partNumbers = {"VN2-4420-A"};
  cases[5].toolDirectory = "";  // the library decides what an empty folder means
  cases[6].toolDirectory = ";";
  cases[6].partNumbers = {"A=1", "B"};
  cases[7].toolDirectory = "C:\\fw";
  cases[7].oemFilter = true;
  cases[7].updateMustSucceed = true;
  for (const FirmwareActionSettings& settings : cases) {
    std::string data = EncodeUpdateData(settings);
    FirmwareActionSettings back;
    std::string error;
    ASSERT_TRUE(ParseUpdateData(data, &back, &error)) << data << ": " << error;
    EXPECT_EQ(back.toolDirectory, settings.toolDirectory) << data;
    EXPECT_EQ(back.oemFilter, settings.oemFilter) << data;
    EXPECT_EQ(back.partNumbers, settings.partNumbers) << data;
    EXPECT_EQ(back.supportedList, settings.supportedList) << data;
    EXPECT_EQ(back.updateMustSucceed, settings.updateMustSucceed) << data;
    EXPECT_EQ(back.restartAfterUpdate, settings.restartAfterUpdate) << data;
  }
}

TEST_F(CustomActionTest, UpdateDataAsAnAuthorWritesIt) {
  struct Case {
    const char* data;
    const char* fault;  // part of the reason; nullptr: well formed
    bool mustSucceed;
    const char* toolDirectory;
    size_t partNumbers;
    bool restart = true;
  };
  // clang-format off
  const Case cases[] = {
      {"FIRMWARE_TOOL_DIR=C:\\Program Files\\FW;FIRMWARE_SKIP=VN2-1;;VN2-2", nullptr, false,
       "C:\\Program Files\\FW", 2},
      {"FIRMWARE_UPDATE_MUST_SUCCEED=1;FIRMWARE_TOOL_DIR=C:\\fw", nullptr, true, "C:\\fw", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_SUPPORTED=;FIRMWARE_OEM_FILTER=", nullptr, false, "C:\\fw", 0},
      {"", "empty", false, "", 0},
      {"FIRMWARE_TOOL_DIR", "without \"=\"", false, "", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw;", "without \"=\"", false, "C:\\fw", 0},
      {"FIRMWARE_TOOL_DIR=C:\\a;FIRMWARE_TOOL_DIR=C:\\b", "given twice", false, "C:\\a", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_COLOUR=red", "unknown setting", false, "C:\\fw", 0},
      {"firmware_tool_dir=C:\\fw", "unknown setting", false, "", 0},
      {"FIRMWARE_OEM_FILTER=1", "FIRMWARE_TOOL_DIR is missing", false, "", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_OEM_FILTER=yes", "must be 1, 0 or empty", false, "C:\\fw", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_SKIP=A;;;;B", "empty part number", false, "C:\\fw", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_SKIP=A;FIRMWARE_SUPPORTED=B", "both set", false, "C:\\fw", 1},
      // A fault elsewhere does not hide a well-formed wish to fail the install.
      {"FIRMWARE_COLOUR=red;FIRMWARE_UPDATE_MUST_SUCCEED=1", "unknown setting", true, "", 0},
      // Any element that names it, whatever else, asks the update to succeed.
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_UPDATE_MUST_SUCCEED=yes", nullptr, true, "C:\\fw", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_UPDATE_MUST_SUCCEED=0;FIRMWARE_UPDATE_MUST_SUCCEED=1",
       "given twice", true, "C:\\fw", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_UPDATE_MUST_SUCCEED=1;FIRMWARE_UPDATE_MUST_SUCCEED=0",
       "given twice", true, "C:\\fw", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw; firmware_Update_Must_Succeed\t=true", "unknown setting", true,
       "C:\\fw", 0},
      {"FIRMWARE_TOOL_DIR=C:\\x;\r\n\xA0" "FIRMWARE_UPDATE_MUST_SUCCEED\xC2\xA0\v=1", "unknown setting", true,
       "C:\\x", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_UPDATE_MUST_SUCCEED=0;FIRMWARE_UPDATE_MUST_SUCCEED=",
       "given twice", false, "C:\\fw", 0},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_REBOOT=0", nullptr, false, "C:\\fw", 0, false},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_REBOOT=", nullptr, false, "C:\\fw", 0, true},
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_REBOOT=no", "must be 1, 0 or empty", false, "C:\\fw", 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    FirmwareActionSettings settings;
    std::string error;
    bool wellFormed = ParseUpdateData(c.data, &settings, &error);
    EXPECT_EQ(wellFormed, c.fault == nullptr) << c.data << ": " << error;
    if (c.fault != nullptr) {
      EXPECT_NE(error.find(c.fault), std::string::npos) << c.data << ": " << error;
    }
    EXPECT_EQ(settings.updateMustSucceed, c.mustSucceed) << c.data;
    EXPECT_EQ(settings.toolDirectory, c.toolDirectory) << c.data;
    EXPECT_EQ(settings.partNumbers.size(), c.partNumbers) << c.data;
    EXPECT_EQ(settings.restartAfterUpdate, c.restart) << c.data;
  }
}

TEST_F(CustomActionTest, CheckFirmwareSetsItsProperties) {
  struct Case {
    const char* name;
    std::string report;
    std::map<std::string, std::string> settings;  // properties besides FIRMWARE_TOOL_DIR
    bool folderMissing;
    const char* status;
    const char* result;
    const char* updateRequired;
    const char* checkFailed;
    const char* devices;    // FIRMWARE_DEVICES_REPORTED/FIRMWARE_DEVICES_EXAMINED
    const char* arguments;  // what the tool was run with
    const char* logged;
    unsigned long toolExitCode = 0;
    const char* data = "";            // part of the deferred action's data
    const char* untranslatable = "";  // the property whose value the code page cannot hold
    bool pending = false;             // a restart is pending after an earlier update
    int markers = 0;                  // markers left for ScheduleFirmwareRestart
  };
  const std::string both = std::string(kUpdateRequired) + kUpToDate;
  // clang-format off
  const Case cases[] = {
      {"update required", both, {}, false, "2", "0", "1", "", "2/2", "--no\n",
       "CheckFirmware: status 2, result 0, update required: yes", 0,
       "FIRMWARE_UPDATE_MUST_SUCCEED=0;FIRMWARE_REBOOT=1"},
      {"up to date", kUpToDate, {}, false, "0", "0", "", "", "1/1", "--no\n",
       "RunFlashKeeper: FW update is not required"},
      {"the device that needs one is skipped", both, {{"FIRMWARE_SKIP", "VN2-4430-C;VN2-4410-A"}},
       false, "0", "0", "", "", "2/1", "--no\n", "CheckFirmware: devices reported: 2, examined: 1"},
      {"only the other one is supported", both,
       {{"FIRMWARE_SUPPORTED", "VN2-4420-B"}, {"FIRMWARE_OEM_FILTER", "1"}}, false, "0", "0", "", "",
       "2/1", "--no\n", "update required: no"},
      {"reported, none examined", both, {{"FIRMWARE_SUPPORTED", "VN2-9999-Z"}}, false, "0", "0", "",
       "", "2/0", "--no\n", "CheckFirmware: devices reported: 2, examined: 0"},
      {"must succeed, said otherwise; no restart", kUpdateRequired,
       {{"FIRMWARE_UPDATE_MUST_SUCCEED", "true"}, {"FIRMWARE_REBOOT", "0"}}, false, "2", "0", "1", "",
       "1/1", "--no\n", "update required: yes", 0, "FIRMWARE_UPDATE_MUST_SUCCEED=1;FIRMWARE_REBOOT=0"},
      {"missing tool folder", kUpdateRequired, {}, true, "4", "5000", "", "1", "0/0", "",
       "CheckFirmware: the check failed: "},
      {"a report cut off in a device", std::string(kUpToDate) + "Device #3:\n  Part Number:", {},
       false, "0", "0", "", "1", "2/2", "--no\n",
       "CheckFirmware: the check failed: device 2 reported no status"},
      {"a crash after the report asks for no update", kUpdateRequired, {}, false, "2", "0", "",
       "1", "1/1", "--no\n", "CheckFirmware: the check failed: ", 0xC0000005ul},
      {"both lists", kUpdateRequired, {{"FIRMWARE_SKIP", "A"}, {"FIRMWARE_SUPPORTED", "B"}}, false,
       "", "", "", "1", "/", "",
       "CheckFirmware: the check failed: FIRMWARE_SUPPORTED and FIRMWARE_SKIP are both set"},
      {"an empty part number", kUpdateRequired, {{"FIRMWARE_SKIP", "A;"}}, false, "", "", "", "1",
       "/", "", "FIRMWARE_SKIP holds an empty part number: \"A;\""},
      {"a switch that is no switch", kUpdateRequired, {{"FIRMWARE_REBOOT", "yes"}}, false, "", "",
       "", "1", "/", "", "FIRMWARE_REBOOT must be 1, 0 or empty, not \"yes\""},
      {"values from an earlier run are replaced", kUpToDate,
       {{"FIRMWARE_UPDATE_REQUIRED", "1"}, {"FIRMWARE_CHECK_FAILED", "1"}}, false, "0", "0", "", "",
       "1/1", "--no\n", "update required: no"},
      {"...also when the check stops early", kUpToDate,
       {{"FIRMWARE_UPDATE_REQUIRED", "1"}, {"FIRMWARE_STATUS", "2"}, {"FIRMWARE_OEM_FILTER", "2"},
        {"FIRMWARE_DEVICES_REPORTED", "3"}, {"FIRMWARE_DEVICES_EXAMINED", "3"},
        {"FIRMWARE_RESTART_PENDING", "1"}},
       false, "", "", "", "1", "/", "", "FIRMWARE_OEM_FILTER must be"},
      // The query runs and tells; no update runs, and the restart is asked for again.
      {"a restart is pending", both, {}, false, "2", "0", "", "", "2/2", "--no\n",
       "CheckFirmware: a restart is pending after a firmware update (since 2026-12-08T09:05:07Z): "
       "no update runs until then", 0, "", "", true, 1},
      {"a restart is pending, FIRMWARE_REBOOT=0", kUpdateRequired, {{"FIRMWARE_REBOOT", "0"}},
       false, "2", "0", "", "", "1/1", "--no\n", "CheckFirmware: FIRMWARE_REBOOT is 0: no restart is asked for", 0,
       "", "", true},
      // Its stand-ins name a folder that holds a tool: still nothing runs.
      {"a tool folder the code page cannot hold", kUpdateRequired, {}, false, "", "", "", "1", "/",
       "", "CheckFirmware: the check failed: FIRMWARE_TOOL_DIR holds a character that the "
       "installer's code page cannot hold; nothing was run", 0, "", "FIRMWARE_TOOL_DIR"},
      {"a part number the code page cannot hold", kUpdateRequired, {{"FIRMWARE_SKIP", "VN2-?"}},
       false, "", "", "", "1", "/", "", "FIRMWARE_SKIP holds a character", 0, "", "FIRMWARE_SKIP"},
  };
  // clang-format on
  for (const Case& c : cases) {
    ToolFolder tool(c.report, c.toolExitCode);
    session_.properties = c.settings;
    session_.messages.clear();
    session_.untranslatable = c.untranslatable;
    session_.properties["FIRMWARE_TOOL_DIR"] = c.folderMissing ? tool.Missing() : tool.Path();
    session_.properties["ProductCode"] = kProduct;
    session_.keys.clear();
    if (c.pending) RecordRestartPending("C:\\fw");
    EXPECT_EQ(CheckFirmwareAction(kSession), kActionSuccess) << c.name;
    EXPECT_EQ(session_.Property("FIRMWARE_RESTART_PENDING"), c.pending ? "1" : "") << c.name;
    EXPECT_EQ(session_.AtomCount(kRestartMarker), c.markers) << c.name;
    EXPECT_EQ(session_.Property("FIRMWARE_STATUS"), c.status) << c.name;
    EXPECT_EQ(session_.Property("FIRMWARE_RESULT"), c.result) << c.name;
    EXPECT_EQ(session_.Property("FIRMWARE_UPDATE_REQUIRED"), c.updateRequired) << c.name;
    EXPECT_EQ(session_.Property("FIRMWARE_CHECK_FAILED"), c.checkFailed) << c.name;
    EXPECT_EQ(session_.Property("FIRMWARE_DEVICES_REPORTED") + "/" +
                  session_.Property("FIRMWARE_DEVICES_EXAMINED"),
              c.devices)
        << c.name;
    EXPECT_EQ(tool.Arguments(), c.arguments) << c.name;
    EXPECT_TRUE(Logged(c.logged)) << c.name << ": " << c.logged << AllLogged();
    // The deferred action's data: written only when the settings held.
    std::string rawData = session_.Property(kUpdateDataProperty);
    EXPECT_NE(rawData.find(c.data), std::string::npos) << c.name << ": " << rawData;
    FirmwareActionSettings data;
    std::string error;
    bool written = ParseUpdateData(rawData, &data, &error);
    EXPECT_EQ(written, *c.status != '\0') << c.name;
    if (written) {
      EXPECT_EQ(data.toolDirectory, session_.Property("FIRMWARE_TOOL_DIR")) << c.name;
    }
  }
}

TEST_F(CustomActionTest, CheckFirmwareSucceedsWhenTheSessionFails) {
  ToolFolder tool(kUpdateRequired);
  session_.properties["FIRMWARE_TOOL_DIR"] = tool.Path();
  session_.unreadable = "FIRMWARE_SKIP";
  EXPECT_EQ(CheckFirmwareAction(kSession), kActionSuccess);
  EXPECT_EQ(session_.Property("FIRMWARE_CHECK_FAILED"), "1");
  EXPECT_TRUE(Logged("the property FIRMWARE_SKIP could not be read (error 1627)"));

  session_.unreadable.clear();
  session_.throwing = "FIRMWARE_OEM_FILTER";
  session_.properties["FIRMWARE_UPDATE_REQUIRED"] = "1";
  EXPECT_EQ(CheckFirmwareAction(kSession), kActionSuccess);
  EXPECT_EQ(session_.Property("FIRMWARE_CHECK_FAILED"), "1");
  EXPECT_EQ(session_.Property("FIRMWARE_UPDATE_REQUIRED"), "");
  EXPECT_TRUE(Logged("an internal error: reading FIRMWARE_OEM_FILTER threw"));
  EXPECT_EQ(tool.Arguments(), "");
}

TEST_F(CustomActionTest, UpdateFirmwareFailsTheInstallOnlyWhenAsked) {
  struct Case {
    const char* name;
    const char* data;  // "<TOOL>": the tool's folder, "<MISSING>": one that is not there
    uint32_t result;
    const char* arguments;
    const char* logged;
    unsigned long toolExitCode = 0;
    bool untranslatable = false;  // the code page cannot hold the data: "<TOOL>" its stand-ins
    std::string report = kUpdateRequired;
    uint32_t registryError = 0;  // writing the pending restart fails with it
    bool pending = false;        // an earlier update left a restart pending
  };
  // clang-format off
  const Case cases[] = {
      {"update runs", "FIRMWARE_TOOL_DIR=<TOOL>;FIRMWARE_UPDATE_MUST_SUCCEED=1", kActionSuccess,
       "-u -y\n", "UpdateFirmware: the firmware update finished: status 1, result 0"},
      {"tool missing, may fail", "FIRMWARE_TOOL_DIR=<MISSING>", kActionSuccess, "",
       "FIRMWARE_UPDATE_MUST_SUCCEED is not set: the install goes on"},
      {"tool missing, must succeed", "FIRMWARE_TOOL_DIR=<MISSING>;FIRMWARE_UPDATE_MUST_SUCCEED=1",
       kActionInstallFailure, "", "FIRMWARE_UPDATE_MUST_SUCCEED is set: the install fails"},
      {"malformed, may fail", "FIRMWARE_TOOL_DIR=<TOOL>;FIRMWARE_SKIP", kActionSuccess, "",
       "UpdateFirmware: the firmware update failed: malformed CustomActionData: an element "
       "without \"=\": \"FIRMWARE_SKIP\""},
      {"malformed, must succeed", "FIRMWARE_TOOL_DIR=<TOOL>;X=1;FIRMWARE_UPDATE_MUST_SUCCEED=1",
       kActionInstallFailure, "", "malformed CustomActionData: an unknown setting: \"X\""},
      {"no data", "", kActionSuccess, "", "malformed CustomActionData: the CustomActionData is empty"},
      {"the tool fails, may fail", "FIRMWARE_TOOL_DIR=<TOOL>", kActionSuccess, "-u -y\n",
       "FIRMWARE_UPDATE_MUST_SUCCEED is not set: the install goes on", 1},
      {"the tool fails, must succeed", "FIRMWARE_TOOL_DIR=<TOOL>;FIRMWARE_UPDATE_MUST_SUCCEED=1",
       kActionInstallFailure, "-u -y\n", "FIRMWARE_UPDATE_MUST_SUCCEED is set: the install fails", 1},
      {"a folder the code page cannot hold, may fail", "FIRMWARE_TOOL_DIR=<TOOL>", kActionSuccess, "",
       "UpdateFirmware: the firmware update failed: the CustomActionData holds a character that "
       "the installer's code page cannot hold; nothing was run", 0, true},
      {"a folder the code page cannot hold, must succeed",
       "FIRMWARE_TOOL_DIR=<TOOL>;FIRMWARE_UPDATE_MUST_SUCCEED=1", kActionInstallFailure, "",
       "FIRMWARE_UPDATE_MUST_SUCCEED is set: the install fails", 0, true},
      {"a device left unupdated, must succeed",
       "FIRMWARE_TOOL_DIR=<TOOL>;FIRMWARE_UPDATE_MUST_SUCCEED=1", kActionInstallFailure, "-u -y\n",
       "the update reported a device problem: failed to open device (device 2)", 0, false,
       std::string(kUpdateRequired) + "Device #2:\n  Status: Failed to open device\n"},
      {"...and the updated one needs the restart all the same",
       "FIRMWARE_TOOL_DIR=<TOOL>;FIRMWARE_UPDATE_MUST_SUCCEED=1", kActionInstallFailure, "-u -y\n",
       "UpdateFirmware: a device was updated: a restart is still needed", 0, false,
       std::string(kUpdateRequired) + kOpenFailed},
      {"a process that may not record the pending restart", "FIRMWARE_TOOL_DIR=<TOOL>",
       kActionSuccess, "-u -y\n", "UpdateFirmware: the pending restart could not be recorded (error 5)",
       0, false, kUpdateRequired, 5},
      {"a restart pending from the update before", "FIRMWARE_TOOL_DIR=<TOOL>", kActionSuccess, "",
       "UpdateFirmware: a restart is pending after a firmware update (since", 0, false,
       kUpdateRequired, 0, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    ToolFolder tool(c.report, c.toolExitCode);
    std::string data = c.data;
    for (auto [token, path] :
         {std::pair{"<MISSING>", tool.Missing()}, std::pair{"<TOOL>", tool.Path()}}) {
      size_t at = data.find(token);
      if (at != std::string::npos) data.replace(at, std::strlen(token), path);
    }
    session_.properties = {{"CustomActionData", data}};
    session_.untranslatable = c.untranslatable ? "CustomActionData" : "";
    session_.registry_write_error = c.registryError;
    session_.keys.clear();
    if (c.pending) RecordRestartPending("C:\\fw");
    session_.messages.clear();
    EXPECT_EQ(UpdateFirmwareAction(kSession), c.result) << c.name;
    EXPECT_EQ(tool.Arguments(), c.arguments) << c.name;
    EXPECT_TRUE(Logged(c.logged)) << c.name << ": " << c.logged << AllLogged();
  }
}

// A relative folder is made full where the check runs; the deferred action,
// in another current folder, runs the tool the query ran.
TEST_F(CustomActionTest, TheUpdateRunsTheToolTheQueryRan) {
  ToolFolder tool(kUpdateRequired);
  session_.current_folder = tool.Parent();
  session_.properties = {{"FIRMWARE_TOOL_DIR", tool.Name()}};
  EXPECT_EQ(CheckFirmwareAction(kSession), kActionSuccess);
  EXPECT_EQ(session_.Property("FIRMWARE_UPDATE_REQUIRED"), "1");
  ScratchDir elsewhere;
  session_.current_folder = elsewhere.path().string();
  session_.properties = {{"CustomActionData", session_.Property(kUpdateDataProperty)}};
  EXPECT_EQ(UpdateFirmwareAction(kSession), kActionSuccess);
  EXPECT_EQ(tool.Arguments(), "--no\n-u -y\n");
  EXPECT_TRUE(Logged("UpdateFirmware: the firmware update finished: status 1, result 0"));
}

// A cancel while the query runs ends it. One while the update runs does not:
// the update finishes, and then the cancel is handed on.
TEST_F(CustomActionTest, ACancelEndsTheQueryButNotTheUpdate) {
  struct Case {
    const char* name;
    bool update;
    uint32_t cancelType;  // the messages that answer with a cancel
    const char* logged;
  };
  // clang-format off
  const Case cases[] = {
      {"query", false, os::kMessageProgress, "run_cmd: the caller stopped the run, ending the process"},
      {"update, told so at its start", true, os::kMessageActionData,
       "UpdateFirmware: the firmware update finished: status 1, result 0"},
      {"update, told so with the Cancel button", true, os::kMessageCommonData,
       "UpdateFirmware: the install was cancelled while the update ran"},
  };
  // clang-format on
  for (const Case& c : cases) {
    ToolFolder tool(kUpdateRequired);
    tool.RunsFor(c.update ? 300 : 30000);
    session_.cancel_type = c.cancelType;
    session_.keys.clear();  // the restart between rows
    session_.messages.clear();
    session_.properties = {{"FIRMWARE_TOOL_DIR", tool.Path()},
                           {"CustomActionData", "FIRMWARE_TOOL_DIR=" + tool.Path()},
                           {"ProductCode", kProduct}};
    uint32_t result = c.update ? UpdateFirmwareAction(kSession, 50) : CheckFirmwareAction(kSession);
    EXPECT_EQ(result, kActionUserExit) << c.name;
    EXPECT_EQ(tool.Arguments(), c.update ? "-u -y\n" : "--no\n") << c.name;
    EXPECT_TRUE(Logged(c.logged)) << c.name << ": " << c.logged << AllLogged();
    EXPECT_EQ(session_.Property("FIRMWARE_UPDATE_REQUIRED"), "") << c.name;
    EXPECT_EQ(session_.AtomCount(kRestartMarker), 0) << c.name;
  }
}

// A query whose tool hangs is ended at the time limit; the check failed, the
// install goes on.
TEST_F(CustomActionTest, AQueryThatHangsIsEndedAtTheTimeLimit) {
  testing_support::SimulatedToolOs tool;  // on the session, for everything but the tool
  tool.WriteChunks({kUpdateRequired});
  tool.ends_at_ms = 60 * 60 * 1000;
  os::ScopedOs scoped(tool);
  session_.properties = {{"FIRMWARE_TOOL_DIR", "C:\\fw"}};
  EXPECT_EQ(CheckFirmwareAction(kSession), kActionSuccess);
  EXPECT_EQ(tool.terminated.size(), 1u);
  EXPECT_GE(tool.now(), kInstallerQueryTimeoutMs);
  EXPECT_LT(tool.now(), kInstallerQueryTimeoutMs + 2000u);
  EXPECT_EQ(session_.Property("FIRMWARE_RESULT"), "5003");
  EXPECT_EQ(session_.Property("FIRMWARE_CHECK_FAILED"), "1");
  EXPECT_EQ(session_.Property("FIRMWARE_UPDATE_REQUIRED"), "");
  EXPECT_TRUE(Logged("CheckFirmware: the check failed: timed out")) << AllLogged();
}

// What the installer hears of an update, and the restart asked for after one
// that updated a device: asked for once, never forced, for this product only.
TEST_F(CustomActionTest, AnUpdateThatUpdatedAsksForARestart) {
  struct Case {
    const char* name;
    const char* report;
    unsigned long toolExitCode;
    const char* moreData;
    const char* reboot;           // REBOOT before ScheduleFirmwareRestart
    const char* scheduleProduct;  // the product code ScheduleFirmwareRestart sees
    bool restart;
    const char* rebootAfter;
    const char* uiLevel = "2";  // the installer's user interface: 2 none ... 5 full
    int leftovers = 0;          // markers left before, by an install that failed or another update
  };
  const char* other = "{C4E2A7D1-8B3F-4F60-A2D9-6E1B5C8F3A27}";
  // clang-format off
  const Case cases[] = {
      {"updated", kUpdateRequired, 0, "", "", kProduct, true, "ReallySuppress"},
      {"updated, REBOOT given", kUpdateRequired, 0, "", "Force", kProduct, true, "Force"},
      {"updated, FIRMWARE_REBOOT=0", kUpdateRequired, 0, ";FIRMWARE_REBOOT=0", "", kProduct, false, ""},
      {"nothing to update", kUpToDate, 0, "", "", kProduct, false, ""},
      // New firmware waits for the restart, whatever else failed.
      {"the update failed", kUpdateRequired, 1, "", "", kProduct, true, "ReallySuppress"},
      {"another product's install", kUpdateRequired, 0, "", "", other, false, ""},
      // The installer asks the user itself in a reduced or full user interface.
      {"updated, basic user interface", kUpdateRequired, 0, "", "", kProduct, true, "ReallySuppress", "3"},
      {"updated, reduced user interface", kUpdateRequired, 0, "", "", kProduct, true, "", "4"},
      {"updated, full user interface", kUpdateRequired, 0, "", "", kProduct, true, "", "5"},
      {"updated over a leftover marker", kUpdateRequired, 0, "", "", kProduct, true, "ReallySuppress", "2", 1},
      {"another product's install over a leftover marker", kUpdateRequired, 0, "", "", other, false, "", "2", 1},
  };
  // clang-format on
  using Sent = std::vector<std::vector<std::string>>;
  for (const Case& c : cases) {
    ToolFolder tool(c.report, c.toolExitCode);
    tool.RunsFor(300);
    session_.sent.clear();
    session_.modes.clear();
    session_.keys.clear();
    for (int i = 0; i < c.leftovers; ++i) session_.AddGlobalAtom(kRestartMarker);
    session_.properties = {{"CustomActionData", "FIRMWARE_TOOL_DIR=" + tool.Path() + c.moreData},
                           {"ProductCode", kProduct}};
    EXPECT_EQ(UpdateFirmwareAction(kSession, 50), kActionSuccess) << c.name;
    EXPECT_EQ(session_.Sent(os::kMessageActionStart),
              (Sent{{"UpdateFirmware", kUpdateText, "[1]"}}))
        << c.name;
    Sent actionData = session_.Sent(os::kMessageActionData);
    ASSERT_GE(actionData.size(), 2u) << c.name;
    EXPECT_EQ(actionData[0], std::vector<std::string>{kUpdateText}) << c.name;
    EXPECT_EQ(actionData[1], std::vector<std::string>{"The firmware update has run for 1 minute."});
    if (actionData.size() > 2) {
      EXPECT_EQ(actionData[2],
                std::vector<std::string>{"The firmware update has run for 2 minutes."});
    }
    // The Cancel button is hidden before the first report and shown after the last.
    EXPECT_EQ(session_.sent[2].fields, (std::vector<std::string>{"2", "0"})) << c.name;
    EXPECT_EQ(session_.sent.back().fields, (std::vector<std::string>{"2", "1"})) << c.name;
    EXPECT_EQ(session_.Sent(os::kMessageCommonData).size(), 2u) << c.name;
    // Recorded whenever a device was updated, with the tool's folder.
    std::string since;
    EXPECT_EQ(RestartPending(&since), c.report != kUpToDate) << c.name;
    EXPECT_EQ(session_.keys[kRestartPendingKey].values["ToolFolder"],
              c.report != kUpToDate ? tool.Path() : "")
        << c.name;

    session_.properties = {
        {"ProductCode", c.scheduleProduct}, {"REBOOT", c.reboot}, {"UILevel", c.uiLevel}};
    EXPECT_EQ(ScheduleFirmwareRestartAction(kSession), kActionSuccess) << c.name;
    EXPECT_EQ(session_.modes[os::kRunModeRebootAtEnd], c.restart) << c.name;
    EXPECT_EQ(session_.Property("REBOOT"), c.rebootAfter) << c.name;
    // Taken however often it was left; after the restart, the next check of
    // this product clears what another left.
    EXPECT_EQ(session_.AtomCount(kRestartMarker), c.scheduleProduct == other ? 1 + c.leftovers : 0)
        << c.name;
    session_.Restart();
    // The keys above the mark outlive the restart: a volatile key holds only volatile ones.
    EXPECT_EQ(session_.keys.count("SOFTWARE\\Vantreo\\Oriel2"), c.report != kUpToDate ? 1u : 0u)
        << c.name;
    session_.properties = {{"ProductCode", kProduct}};
    CheckFirmwareAction(kSession);
    EXPECT_EQ(session_.AtomCount(kRestartMarker), 0) << c.name;
  }
}

TEST_F(CustomActionTest, UpdateFirmwareSurvivesTheSession) {
  session_.unreadable = "CustomActionData";
  EXPECT_EQ(UpdateFirmwareAction(kSession), kActionSuccess);
  EXPECT_TRUE(Logged("the CustomActionData could not be read (error 1627)"));
  session_.unreadable.clear();
  session_.throwing = "CustomActionData";
  EXPECT_EQ(UpdateFirmwareAction(kSession), kActionSuccess);
  EXPECT_TRUE(Logged("failed: an internal error: reading CustomActionData threw"));
}

TEST_F(CustomActionTest, LinesReachTheInstallerLogUnchanged) {
  // clang-format off
  const char* lines[] = {
      "RunFlashKeeper: running command \"C:\\fw tool [1]\\flashkeeper.exe\" --no",
      "[ProductCode] [\\[] ]] [[ [",
      "run_cmdA: output is  [1] {{a}} {x} [%PATH] [\\[] }}{{ {",
      "plain line with  two blanks ",
      "]",
  };
  // clang-format on
  ToolFolder tool(kUpToDate);  // only for the relay, which the action installs
  session_.properties["FIRMWARE_TOOL_DIR"] = tool.Path();
  CheckFirmwareAction(kSession);
  for (const char* line : lines) {
    session_.messages.clear();
    LogMessage(kSession, line);
    ASSERT_EQ(session_.messages.size(), 1u) << line;
    EXPECT_EQ(FormatLikeTheInstaller(session_.messages[0]), line);
  }
  session_.messages.clear();
  LogMessageParam(kSession, "a [1] b", "[x]");
  EXPECT_EQ(session_.messages, std::vector<std::string>{"a [\\[]x[\\]] b"});
  LogMessage(0, "the front end's lines stay out of any installer log");
  EXPECT_EQ(session_.messages.size(), 1u);
}

TEST(InstallerSessionTest, NoSessionBehindAnOtherHandle) {
  std::string value = "old";
  EXPECT_NE(os::Native().SessionProperty(12345, "ProductCode", &value), os::kErrorSuccess);
  EXPECT_NE(os::Native().SetSessionProperty(12345, "X", "1"), os::kErrorSuccess);
  os::Native().SessionInfoMessage(12345, "nowhere");  // and nothing breaks
  EXPECT_NE(os::Native().SessionMessage(12345, os::kMessageActionData, {"nowhere", 1}),
            os::kIdCancel);
  os::Native().SetSessionMode(12345, os::kRunModeRebootAtEnd, true);  // Wine takes it
}

}  // namespace
