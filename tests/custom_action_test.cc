#include "firmware/custom_action/custom_action.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "firmware/custom_action/action_settings.h"
#include "tests/fake_os.h"
#include "tests/test_support.h"

using testing_support::FakeInstallerSession;
using testing_support::ScratchDir;

namespace {

constexpr uint32_t kSession = FakeInstallerSession::kHandle;

constexpr char kUpdateRequired[] =
    "Device #1:\n  Part Number:   MCX-100\n  PSID:          QV_0001\n  Status:        Update required\n";
constexpr char kUpToDate[] =
    "Device #2:\n  Part Number:   MCX-200\n  PSID:          QV_0002\n  Status:        Up to date\n";

// What the installer makes of a record template: "[\x]" gives x, any other
// bracketed name is a property, here never set, and vanishes.
std::string FormatLikeTheInstaller(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '[') {
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

// The stand-in tool in a folder whose name holds a blank and brackets, as an
// installer's property gives it.
class ToolFolder {
 public:
  explicit ToolFolder(const std::string& report, unsigned long exitCode = 0)
      : folder_(dir_.path() / "fw tool [1]") {
    std::filesystem::create_directories(folder_);
    std::filesystem::copy_file(FAKE_FLASHKEEPER_PATH, folder_ / "flashkeeper.exe");
    std::ofstream(folder_ / "report.txt", std::ios::binary) << report;
    std::ofstream(folder_ / "exitcode.txt") << exitCode;
  }
  std::string Path() const { return std::filesystem::path(folder_).make_preferred().string(); }
  std::string Missing() const { return Path() + "-missing"; }
  std::string Arguments() const {
    return testing_support::ReadFile((folder_ / "args.txt").string());
  }

 private:
  ScratchDir dir_;
  std::filesystem::path folder_;
};

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

  FakeInstallerSession session_;
  os::ScopedOs scoped_{session_};
};

TEST_F(CustomActionTest, UpdateDataRoundTrip) {
  std::vector<FirmwareActionSettings> cases(8);
  cases[0].toolDirectory = "C:\\Program Files\\Vantreo\\fw";
  cases[1].toolDirectory = "C:\\odd;folder;;name;";  // semicolons, doubled and last
  cases[1].oemFilter = true;
  cases[2].toolDirectory = "\\\\server\\share\\a=b [x] ";  // backslashes, "=", brackets, trailing blank
  cases[2].updateMustSucceed = true;
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
  }
}

TEST_F(CustomActionTest, UpdateDataAsAnAuthorWritesIt) {
  struct Case {
    const char* data;
    const char* fault;  // part of the reason; nullptr: well formed
    bool mustSucceed;
    const char* toolDirectory;
    size_t partNumbers;
  };
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
      {"FIRMWARE_TOOL_DIR=C:\\fw;FIRMWARE_UPDATE_MUST_SUCCEED=yes", "must be 1, 0 or empty", true,
       "C:\\fw", 0},
  };
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
    const char* arguments;  // what the tool was run with
    const char* logged;
    unsigned long toolExitCode = 0;
    const char* untranslatable = "";  // the property whose value the code page cannot hold
  };
  const Case cases[] = {
      {"update required", std::string(kUpdateRequired) + kUpToDate, {}, false, "2", "0", "1", "",
       "--no\n", "CheckFirmware: status 2, result 0, update required: yes"},
      {"up to date", kUpToDate, {}, false, "0", "0", "", "", "--no\n",
       "RunFlashKeeper: FW update is not required"},
      {"the device that needs one is skipped", std::string(kUpdateRequired) + kUpToDate,
       {{"FIRMWARE_SKIP", "MCX-300;MCX-100"}}, false, "0", "0", "", "", "--no\n",
       "update required: no"},
      {"only the other one is supported", std::string(kUpdateRequired) + kUpToDate,
       {{"FIRMWARE_SUPPORTED", "MCX-200"}, {"FIRMWARE_OEM_FILTER", "1"}}, false, "0", "0", "", "",
       "--no\n", "update required: no"},
      {"missing tool folder", kUpdateRequired, {}, true, "4", "5000", "", "1", "",
       "CheckFirmware: the check failed: "},
      {"a crash after the report asks for no update", kUpdateRequired, {}, false, "2", "0", "",
       "1", "--no\n", "CheckFirmware: the check failed: ", 0xC0000005ul},
      {"both lists", kUpdateRequired, {{"FIRMWARE_SKIP", "A"}, {"FIRMWARE_SUPPORTED", "B"}}, false,
       "", "", "", "1", "",
       "CheckFirmware: the check failed: FIRMWARE_SUPPORTED and FIRMWARE_SKIP are both set"},
      {"an empty part number", kUpdateRequired, {{"FIRMWARE_SKIP", "A;"}}, false, "", "", "", "1",
       "", "FIRMWARE_SKIP holds an empty part number: \"A;\""},
      {"a switch that is no switch", kUpdateRequired, {{"FIRMWARE_OEM_FILTER", "yes"}}, false, "",
       "", "", "1", "", "FIRMWARE_OEM_FILTER must be 1, 0 or empty, not \"yes\""},
      {"values from an earlier run are replaced", kUpToDate,
       {{"FIRMWARE_UPDATE_REQUIRED", "1"}, {"FIRMWARE_CHECK_FAILED", "1"}}, false, "0", "0", "", "",
       "--no\n", "update required: no"},
      {"...also when the check stops early", kUpToDate,
       {{"FIRMWARE_UPDATE_REQUIRED", "1"}, {"FIRMWARE_STATUS", "2"}, {"FIRMWARE_OEM_FILTER", "2"}},
       false, "", "", "", "1", "", "FIRMWARE_OEM_FILTER must be"},
      // Its stand-ins name a folder that holds a tool: still nothing runs.
      {"a tool folder the code page cannot hold", kUpdateRequired, {}, false, "", "", "", "1", "",
       "CheckFirmware: the check failed: FIRMWARE_TOOL_DIR holds a character that the "
       "installer's code page cannot hold; nothing was run", 0, "FIRMWARE_TOOL_DIR"},
      {"a part number the code page cannot hold", kUpdateRequired, {{"FIRMWARE_SKIP", "VN2-?"}},
       false, "", "", "", "1", "", "FIRMWARE_SKIP holds a character", 0, "FIRMWARE_SKIP"},
  };
  for (const Case& c : cases) {
    ToolFolder tool(c.report, c.toolExitCode);
    session_.properties = c.settings;
    session_.messages.clear();
    session_.untranslatable = c.untranslatable;
    session_.properties["FIRMWARE_TOOL_DIR"] = c.folderMissing ? tool.Missing() : tool.Path();
    EXPECT_EQ(CheckFirmwareAction(kSession), kActionSuccess) << c.name;
    EXPECT_EQ(session_.Property("FIRMWARE_STATUS"), c.status) << c.name;
    EXPECT_EQ(session_.Property("FIRMWARE_RESULT"), c.result) << c.name;
    EXPECT_EQ(session_.Property("FIRMWARE_UPDATE_REQUIRED"), c.updateRequired) << c.name;
    EXPECT_EQ(session_.Property("FIRMWARE_CHECK_FAILED"), c.checkFailed) << c.name;
    EXPECT_EQ(tool.Arguments(), c.arguments) << c.name;
    EXPECT_TRUE(Logged(c.logged)) << c.name << ": " << c.logged;
    // The deferred action's data: written only when the settings held.
    FirmwareActionSettings data;
    std::string error;
    bool written = ParseUpdateData(session_.Property(kUpdateDataProperty), &data, &error);
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
  };
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
  };
  for (const Case& c : cases) {
    ToolFolder tool(kUpdateRequired, c.toolExitCode);
    std::string data = c.data;
    for (auto [token, path] : {std::pair{"<MISSING>", tool.Missing()}, std::pair{"<TOOL>", tool.Path()}}) {
      size_t at = data.find(token);
      if (at != std::string::npos) data.replace(at, std::strlen(token), path);
    }
    session_.properties = {{"CustomActionData", data}};
    session_.untranslatable = c.untranslatable ? "CustomActionData" : "";
    session_.messages.clear();
    EXPECT_EQ(UpdateFirmwareAction(kSession), c.result) << c.name;
    EXPECT_EQ(tool.Arguments(), c.arguments) << c.name;
    EXPECT_TRUE(Logged(c.logged)) << c.name << ": " << c.logged;
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
  const char* lines[] = {
      "RunFlashKeeper: running command \"C:\\fw tool [1]\\flashkeeper.exe\" --no",
      "[ProductCode] [\\[] ]] [[ [",
      "plain line with  two blanks ",
      "]",
  };
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
}

}  // namespace
