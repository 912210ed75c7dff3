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

  std::string shell_file, shell_parameters;
  std::vector<os::Handle> closed;
  struct Box {
    std::string text, caption;
    uint32_t type;
  };
  std::vector<Box> boxes;

  bool HasModuleHandle() override { return has_module_handle; }
  os::Handle ShellExecuteProcess(const char* file, const char* parameters) override {
    shell_file = file;
    shell_parameters = parameters;
    return shell_starts_process ? kFakeProcess : os::kNoHandle;
  }
  uint32_t WaitForProcess(os::Handle, uint32_t timeout_ms) override {
    EXPECT_EQ(timeout_ms, 0xFFFFFFFFu);
    return os::kWaitObject0;
  }
  bool ExitCodeOfProcess(os::Handle process, uint32_t* code) override {
    EXPECT_EQ(process, kFakeProcess);
    if (exit_code_readable) *code = exit_code;
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

TEST_F(SetupMainTest, FailurePathsThroughTheSeam) {
  struct Case {
    const char* name;
    void (*arrange)(FakeRunOs&);
    int result;
    bool shell_called;
  };
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
  };
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
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\pkg\\setup.exe", "C:\\pkg\\"},
      {"C:\\pkg\\install.exe", "C:\\pkg\\"},
      {"Z:\\a b\\c\\x.exe", "Z:\\a b\\c\\"},
      {"C:\\" + std::string(3000, 'd') + "\\setup.exe", "C:\\" + std::string(3000, 'd') + "\\"},
  };
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
  const Case cases[] = {
      {{"/?"}, true, 0, true},          {{"/h", "/S"}, true, 0, true},
      {{"/S", "/H"}, true, 0, false},   {{"/bogus"}, true, 87, true},
      {{"/S", "/bogus"}, true, 87, false}, {{"/bogus", "/S"}, true, 87, true},
      {{}, false, 101, false},          {{"/x", "/a"}, true, 87, true},
  };
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

TEST_F(SetupMainTest, DebugLogIsClosedOnEveryPath) {
  testing_support::ScratchDir dir;
  for (bool fail_handle : {false, true}) {
    testing_support::ResetDebugLog();
    fake_.has_module_handle = !fail_handle;
    std::string path = dir.file(fail_handle ? "b.txt" : "a.txt");
    fake_.installed = {{"{U}", "{P}", "{other}"}};
    fake_.product_info_fails = true;  // the only message the setup flow itself can log
    Run({"/debuglog" + path, "/S"});
    EXPECT_FALSE(DebugLogStream.is_open());
  }
  // The product check runs before the switch that opens the log: nothing in it.
  EXPECT_EQ(testing_support::ReadFile(dir.file("a.txt")), "");
  EXPECT_FALSE(std::filesystem::exists(dir.file("b.txt")));
}

TEST_F(SetupMainTest, RunClearsStateOfAnEarlierRun) {
  SilentMode = true;
  DebugLogEnabled = true;
  EXPECT_EQ(Run({"/?"}), 0);
  EXPECT_EQ(fake_.boxes.size(), 1u);
}

}  // namespace
