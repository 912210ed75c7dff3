#include "setup/setup_main.h"

#include <gtest/gtest.h>

#include "setup/arguments.h"
#include "tests/fake_os.h"
#include "tests/test_support.h"

namespace {

constexpr os::Handle kFakeProcess = 4242;

// Records what the run asks of the shell, the process and the user interface.
class FakeRunOs : public testing_support::FakeSetupOs {
 public:
  bool has_module_handle = true;
  bool shell_starts_process = true;
  bool exit_code_readable = true;
  uint32_t exit_code = 0;
  uint32_t wait_result = os::kWaitObject0;
  bool waited = false;

  std::string shell_file, shell_parameters;
  bool shell_no_ui = false;
  std::vector<os::Handle> closed;
  struct Box {
    std::string text, caption;
    uint32_t type;
  };
  std::vector<Box> boxes;

  bool HasModuleHandle() override { return has_module_handle; }
  os::Handle ShellExecuteProcess(const char* file, const char* parameters, bool no_ui) override {
    shell_file = file;
    shell_parameters = parameters;
    shell_no_ui = no_ui;
    return shell_starts_process ? kFakeProcess : os::kNoHandle;
  }
  uint32_t WaitForProcess(os::Handle process, uint32_t timeout_ms) override {
    EXPECT_EQ(process, kFakeProcess);
    EXPECT_EQ(timeout_ms, 0xFFFFFFFFu);
    waited = true;
    return wait_result;
  }
  // As a real process: still running until it has been waited for.
  bool ExitCodeOfProcess(os::Handle process, uint32_t* code) override {
    EXPECT_EQ(process, kFakeProcess);
    if (exit_code_readable) *code = waited ? exit_code : os::kStillActive;
    return exit_code_readable;
  }
  bool Close(os::Handle handle) override {
    closed.push_back(handle);
    return true;
  }
  int ShowMessageBox(const char* text, const char* caption, uint32_t type) override {
    boxes.push_back({text, caption, type});
    return 1;
  }
};

class SetupMainTest : public ::testing::Test {
 protected:
  void TearDown() override { testing_support::ResetDebugLog(); }

  int Run(std::vector<std::string> switches, bool positional = true) {
    std::vector<std::string> args = {"C:\\pkg\\setup.exe"};
    if (positional) {
      args.insert(args.end(), {"drv.msi", "{U}", "{P}", "{K}"});
    }
    args.insert(args.end(), switches.begin(), switches.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    return SetupMain(static_cast<int>(argv.size()), argv.data());
  }

  FakeRunOs fake_;
  os::ScopedOs scoped_{fake_};
};

TEST_F(SetupMainTest, RunsMsiexecFromTheSystemDirectoryAndReturnsItsCodeUnchanged) {
  for (uint32_t code : {0u, 1u, 2u, 3u, 87u, 101u, 1602u, 1603u, 1641u, 3010u, 0xC0000005u}) {
    fake_.exit_code = code;
    fake_.closed.clear();
    EXPECT_EQ(Run({"/S", "/v/qn"}), static_cast<int>(code));
    EXPECT_EQ(fake_.shell_file, "C:\\windows\\system32\\msiexec.exe");
    EXPECT_EQ(fake_.shell_parameters, "/package C:\\pkg\\drv.msi  /qn");
    EXPECT_EQ(fake_.closed, std::vector<os::Handle>{kFakeProcess});
  }
  EXPECT_TRUE(fake_.boxes.empty());
}

TEST_F(SetupMainTest, CommandLengthLimit) {
  const std::string start = "C:\\windows\\system32\\msiexec.exe /package C:\\pkg\\drv.msi  ";
  // The shell adds quotes around the program and the system a terminator; the
  // system counts the UTF-16 code units it makes of the program's code page:
  // UTF-8 natively, the system's (1252) in the Windows test program, which
  // has no UTF-8 manifest. There every byte is a character of one unit.
  struct Case {
    size_t length;
    std::string character;
    size_t utf8_units, ansi_units;
    bool starts;
  };
  // clang-format off
  const Case cases[] = {
      {32763, "p", 1, 1, true},               {32764, "p", 1, 1, true},
      {32765, "p", 1, 1, false},              {32767, "p", 1, 1, false},
      {32768, "p", 1, 1, false},              {32764, "\u4e2d", 1, 3, true},
      {32765, "\u4e2d", 1, 3, false},         {32764, "\U0001F600", 2, 4, true},
      {32765, "\U0001F600", 2, 4, false},     {32764, "\xb0", 1, 1, true},
      {32765, "\xb0", 1, 1, false},           {32764, "\xff", 1, 1, true},
      {32765, "\xff", 1, 1, false},
  };
  // clang-format on
#ifdef _WIN32
  constexpr bool kUtf8 = false;
#else
  constexpr bool kUtf8 = true;
#endif
  for (const auto& [length, character, utf8_units, ansi_units, starts] : cases) {
    size_t units = kUtf8 ? utf8_units : ansi_units;
    fake_.shell_file.clear();
    size_t count = length - start.size();
    std::string passed(count % units, 'p');
    for (size_t i = 0; i < count / units; ++i) passed += character;
    int result = Run({"/S", "/v" + passed});
    std::string label = std::to_string(length) + " " + character;
    EXPECT_EQ(!fake_.shell_file.empty(), starts) << label;
    EXPECT_EQ(result, starts ? 0 : kSetupMsiexecNotStarted) << label;
    if (starts) {  // compared whole, without printing 32 000 characters
      EXPECT_TRUE(fake_.shell_file + " " + fake_.shell_parameters == start + passed) << label;
    }
  }
}

// A handle closes through the backend that made it, also once another one is
// current: a fake's handle never reaches the real CloseHandle.
TEST_F(SetupMainTest, HandleClosesThroughTheBackendThatMadeIt) {
  os::UniqueHandle made(kFakeProcess), received;
  *received.receive() = kFakeProcess + 1;
  FakeRunOs later;
  os::ScopedOs scoped(later);
  made.reset();
  received.reset();
  EXPECT_EQ(fake_.closed, (std::vector<os::Handle>{kFakeProcess, kFakeProcess + 1}));
}

TEST_F(SetupMainTest, ShellShowsNoErrorBoxInASilentRun) {
  // clang-format off
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"/v/qn"}, false}, {{"/S", "/v/qn"}, true}, {{"/v/qn", "/s"}, true}};
  for (const auto& [switches, no_ui] : cases) {
    fake_.shell_no_ui = !no_ui;
    EXPECT_EQ(Run(switches), 0);
    EXPECT_EQ(fake_.shell_no_ui, no_ui) << ::testing::PrintToString(switches);
  }
}

TEST_F(SetupMainTest, FailurePathsThroughTheSeam) {
  struct Case {
    const char* name;
    void (*arrange)(FakeRunOs&);
    int result;
    bool shell_called;
  };
  // clang-format on
  // clang-format off
  const Case cases[] = {
      {"no module handle", [](FakeRunOs& f) { f.has_module_handle = false; }, kSetupNoModuleHandle,
       false},
      {"no module path", [](FakeRunOs& f) { f.module_path = ""; }, kSetupNoModulePath, false},
      {"module path without a folder", [](FakeRunOs& f) { f.module_path = "setup.exe"; },
       kSetupNoModulePath, false},
      {"module path longer than any buffer",
       [](FakeRunOs& f) { f.module_path = "C:\\" + std::string(40000, 'a') + "\\setup.exe"; },
       kSetupNoModulePath, false},
      {"no system directory", [](FakeRunOs& f) { f.system_directory = ""; },
       kSetupMsiexecNotStarted, false},
      {"shell starts no process", [](FakeRunOs& f) { f.shell_starts_process = false; },
       kSetupMsiexecNotStarted, true},
      {"exit code unreadable", [](FakeRunOs& f) { f.exit_code_readable = false; },
       kSetupExitCodeUnknown, true},
      {"wait fails", [](FakeRunOs& f) { f.wait_result = os::kWaitFailed; }, kSetupExitCodeUnknown,
       true},
      {"wait ends otherwise", [](FakeRunOs& f) { f.wait_result = os::kWaitTimeout; },
       kSetupExitCodeUnknown, true},
      {"command longer than the system takes",
       [](FakeRunOs& f) { f.local_app_data = "C:\\" + std::string(33000, 'a'); },
       kSetupMsiexecNotStarted, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    FakeRunOs fake;
    c.arrange(fake);
    os::ScopedOs scoped(fake);
    EXPECT_EQ(Run({}), c.result) << c.name;
    EXPECT_EQ(!fake.shell_file.empty(), c.shell_called) << c.name;
    EXPECT_TRUE(fake.boxes.empty()) << c.name;
  }
}

TEST_F(SetupMainTest, SetupDirectoryIsTheFolderOfAnyProgramName) {
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\pkg\\setup.exe", "C:\\pkg\\"},
      {"C:\\pkg\\install.exe", "C:\\pkg\\"},
      {"Z:\\a b\\c\\x.exe", "Z:\\a b\\c\\"},
      {"C:\\" + std::string(3000, 'd') + "\\setup.exe", "C:\\" + std::string(3000, 'd') + "\\"},
  };
  // clang-format on
  for (const auto& [module, directory] : cases) {
    fake_.module_path = module;
    int err = -1;
    EXPECT_EQ(GetSetupDirectory(err), directory);
    EXPECT_EQ(err, 0);
  }
}

TEST_F(SetupMainTest, UsageBox) {
  const char* usage =
      "Command line parameters: \n /? , /h usage instructions\n /L Language ID \n/S Hide "
      "initialization dialog for silent mode use /S /v/qn \n /V Parameters for MsiExec.exe\n";
  struct Case {
    std::vector<std::string> switches;
    bool positional;
    int result;
    bool box;
  };
  // clang-format off
  const Case cases[] = {
      {{"/?"}, true, 0, true},
      {{"/h", "/S"}, true, 0, false},
      {{"/S", "/H"}, true, 0, false},
      {{"/bogus"}, true, 87, true},
      {{"/S", "/bogus"}, true, 87, false},
      {{"/bogus", "/S"}, true, 87, false},
      {{"/q", "/S", "/v/qn"}, true, 87, false},
      {{"/x", "/a"}, true, 87, true},
      {{"/x", "/a", "/s"}, true, 87, false},
      // Fewer than four positional arguments, or a switch standing for one:
      // help still shows, all else is 101.
      {{}, false, 101, false},
      {{"/?"}, false, 0, true},
      {{"/H"}, false, 0, true},
      {{"drv.msi", "{U}", "/h"}, false, 0, true},
      {{"/?", "/S"}, false, 0, false},
      {{"/s", "/h"}, false, 0, false},
      {{"/S"}, false, 101, false},
      {{"/?x"}, false, 101, false},
      {{"drv.msi", "{U}", "{P}"}, false, 101, false},
      {{"drv.msi", "{U}", "{P}", "/x", "/S", "/v/qn"}, false, 101, false},
      {{"drv.msi", "{U}", "{P}", "/?", "/v/qn"}, false, 0, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    fake_.boxes.clear();
    fake_.shell_file.clear();
    std::string label = ::testing::PrintToString(c.switches);
    EXPECT_EQ(Run(c.switches, c.positional), c.result) << label;
    EXPECT_TRUE(fake_.shell_file.empty()) << label;
    ASSERT_EQ(fake_.boxes.size(), c.box ? 1u : 0u) << label;
    if (c.box) {
      EXPECT_EQ(fake_.boxes[0].text, usage);
      EXPECT_EQ(fake_.boxes[0].caption, "Vantreo Oriel2 installer");
      EXPECT_EQ(fake_.boxes[0].type, 0x20u);
    }
  }
}

TEST_F(SetupMainTest, DebugLogHoldsTheWholeRunAndIsClosedOnEveryPath) {
  testing_support::ScratchDir dir;
  std::string path = dir.file("a.txt");
  const char* check = "CheckMSIProductStatus: MsiGetProductInfo failed ";
  const std::string started =
      "RunMsiexec: starting \"C:\\windows\\system32\\msiexec.exe\" /package C:\\pkg\\drv.msi  /qn";
  const std::string why = "BuildMsiexecArgs: ";
  struct Case {
    std::vector<std::string> switches;
    int result;
    std::vector<std::string> lines;
  };
  // clang-format off
  const Case cases[] = {
      {{"/S", "/v/qn"}, 1602, {check, started, "RunMsiexec: msiexec exit code 1602"}},
      {{"/?"}, 0, {check}},
      {{"/bogus"}, 87, {check, why + "switch not recognised, nothing started: /bogus"}},
      {{"/x", "/A"}, 87, {check, why + "a second install mode, nothing started: /A"}},
      {{"/debuglog" + dir.file("b.txt")}, 4,  // a second log does not open
       {check, why + "a second debug log, nothing started: /debuglog" + dir.file("b.txt")}},
  };
  // clang-format on
  fake_.installed = {{"{U}", "{P}", "{other}"}};
  fake_.product_info_fails = true;  // the product check's message comes before the log opens
  fake_.exit_code = 1602;
  for (const Case& c : cases) {
    std::vector<std::string> switches = {"/debuglog" + path};
    switches.insert(switches.end(), c.switches.begin(), c.switches.end());
    std::string label = ::testing::PrintToString(c.switches);
    fake_.shell_file.clear();
    EXPECT_EQ(Run(switches), c.result) << label;
    EXPECT_EQ(fake_.shell_file.empty(), c.result != 1602) << label;
    EXPECT_FALSE(DebugLogStream.is_open()) << label;
    EXPECT_EQ(testing_support::ReadLines(path), c.lines) << label;
  }
  fake_.has_module_handle = false;
  Run({"/debuglog" + dir.file("c.txt"), "/S"});
  EXPECT_FALSE(DebugLogStream.is_open());
  EXPECT_FALSE(std::filesystem::exists(dir.file("c.txt")));
}

// The same file by any name, a hard link too (natively names differ in case).
TEST_F(SetupMainTest, DebugLogNeverOverwritesThePackageOrTheProgram) {
  testing_support::ScratchDir dir;
  fake_.module_path = dir.path().string() + "\\setup.exe";
  for (const char* file : {"drv.msi", "setup.exe", "other.msi"})
    std::ofstream(dir.file(file)) << "MZ";
  std::filesystem::create_hard_link(dir.file("drv.msi"), dir.file("link.msi"));
  const std::pair<std::string, int> cases[] = {
      {"drv.msi", 4}, {"link.msi", 4}, {"setup.exe", 4}, {"other.msi", 0}};
  for (const auto& [file, result] : cases) {
    fake_.shell_file.clear();
    EXPECT_EQ(Run({"/debuglog" + dir.file(file), "/S", "/v/qn"}), result) << file;
    EXPECT_EQ(fake_.shell_file.empty(), result != 0) << file;
    EXPECT_EQ(testing_support::ReadFile(dir.file("drv.msi")), "MZ") << file;
  }
}

TEST_F(SetupMainTest, RunWithoutDebugLogWritesNoFile) {
  testing_support::ScratchDir dir;
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  fake_.enum_fails_at = 0;  // a line for the log that never opens
  EXPECT_EQ(Run({"/S", "/v/qn"}), 0);
  std::filesystem::current_path(previous);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(SetupMainTest, RunClearsStateOfAnEarlierRun) {
  testing_support::ScratchDir dir;
  LogMessage(0, "a line of an earlier run");
  SilentMode = true;
  DebugLogEnabled = true;
  EXPECT_EQ(Run({"/debuglog" + dir.file("log.txt"), "/?"}), 0);
  EXPECT_EQ(fake_.boxes.size(), 1u);
  EXPECT_EQ(testing_support::ReadFile(dir.file("log.txt")), "");
}

}  // namespace
