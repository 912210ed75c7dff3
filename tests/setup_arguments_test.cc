#include "setup/arguments.h"

#include <gtest/gtest.h>

#include "tests/fake_os.h"
#include "tests/test_support.h"

using testing_support::FakeSetupOs;

namespace {

constexpr char kUpgrade[] = "{11111111-1111-1111-1111-111111111111}";
constexpr char kProduct[] = "{22222222-2222-2222-2222-222222222222}";
constexpr char kPackage[] = "{33333333-3333-3333-3333-333333333333}";
constexpr char kOtherProduct[] = "{44444444-4444-4444-4444-444444444444}";
constexpr char kOtherPackage[] = "{55555555-5555-5555-5555-555555555555}";
// Codes with letters, as the Windows Installer keeps them and as typed in lower case.
constexpr char kLetteredUpgrade[] = "{79C8D96D-AB12-4CDE-8F00-0A1B2C3D4E5F}";
constexpr char kLetteredProduct[] = "{A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D}";
constexpr char kLetteredPackage[] = "{FEDCBA98-7654-4321-ABCD-EF0123456789}";
constexpr char kLowerUpgrade[] = "{79c8d96d-ab12-4cde-8f00-0a1b2c3d4e5f}";
constexpr char kLowerProduct[] = "{a1b2c3d4-e5f6-4a7b-8c9d-0e1f2a3b4c5d}";
constexpr char kLowerPackage[] = "{fedcba98-7654-4321-abcd-ef0123456789}";
constexpr char kLog[] = "/l*vx  C:\\Users\\u\\AppData\\Local\\VNTR_Oriel2.log";

class ArgumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SilentMode = false;
    testing_support::ResetDebugLog();
  }
  void TearDown() override { testing_support::ResetDebugLog(); }

  void Install(const char* product, const char* package) {
    fake_.installed.push_back({kUpgrade, product, package});
  }
  std::string Build(std::vector<std::string> switches, int& err,
                    const std::string& directory = "C:\\pkg\\") {
    std::vector<std::string> args = {"setup.exe", "drv.msi", kUpgrade, kProduct, kPackage};
    args.insert(args.end(), switches.begin(), switches.end());
    return BuildMsiexecArgs(args, directory, err);
  }

  FakeSetupOs fake_;
  os::ScopedOs scoped_{fake_};
};

TEST_F(ArgumentsTest, WorkedResults) {
  enum Installed { kNothing, kOtherPackageOfIt, kOtherProductOfFamily, kThisPackage };
  struct Case {
    const char* name;
    Installed installed;
    std::vector<std::string> switches;
    std::string expected;
  };
  const std::string reinstall = "REINSTALL=ALL REINSTALLMODE=vomus";
  // clang-format off
  const Case cases[] = {
      {"no switches, nothing installed", kNothing, {},
       std::string("/package C:\\pkg\\drv.msi  ") + kLog},
      {"no switches, same product from another package", kOtherPackageOfIt, {},
       "/package C:\\pkg\\drv.msi " + reinstall + " " + kLog},
      {"reinstall before the other parameters", kOtherPackageOfIt, {"/L1033", "/S", "/v/qn"},
       "/package C:\\pkg\\drv.msi " + reinstall + " /g 1033 /qn"},
      {"uninstall of another package's product removes it", kOtherPackageOfIt,
       {"/S", "/x", "/v/qn"}, "/x C:\\pkg\\drv.msi  /qn"},
      {"administrative image of another package's product", kOtherPackageOfIt, {"/a"},
       std::string("/a C:\\pkg\\drv.msi  ") + kLog},
      {"other products of the family add nothing", kOtherProductOfFamily, {},
       std::string("/package C:\\pkg\\drv.msi  ") + kLog},
      {"this very package adds nothing", kThisPackage, {},
       std::string("/package C:\\pkg\\drv.msi  ") + kLog},
      {"uninstall, language, silent, msiexec parameters", kNothing, {"/x", "/L1033", "/S", "/v/qn"},
       "/x C:\\pkg\\drv.msi  /g 1033 /qn"},
      {"administrative", kNothing, {"/A"}, std::string("/a C:\\pkg\\drv.msi  ") + kLog},
      {"bare /v suppresses the log switch", kNothing, {"/v"}, "/package C:\\pkg\\drv.msi  "},
      {"two /v", kNothing, {"/vA=1", "/VB=2"}, "/package C:\\pkg\\drv.msi  A=1 B=2"},
  };
  // clang-format on
  for (const Case& c : cases) {
    fake_.installed.clear();
    if (c.installed == kOtherPackageOfIt) Install(kProduct, kOtherPackage);
    if (c.installed == kOtherProductOfFamily) Install(kOtherProduct, kPackage);
    if (c.installed == kThisPackage) Install(kProduct, kPackage);
    int err = -7;
    EXPECT_EQ(Build(c.switches, err), c.expected) << c.name;
    EXPECT_EQ(err, 0) << c.name;
  }
}

TEST_F(ArgumentsTest, SwitchResults) {
  struct Case {
    std::vector<std::string> switches;
    int err;
    bool silent;
  };
  // clang-format off
  const Case cases[] = {
      {{"/?"}, kSetupHelpRequested, false},
      {{"/h"}, kSetupHelpRequested, false},
      {{"/H"}, kSetupHelpRequested, false},
      {{"/S", "/?"}, kSetupHelpRequested, true},
      {{"/?", "/S"}, kSetupHelpRequested, true},
      {{"/q", "/S", "/v/qn"}, kSetupBadSwitch, true},
      {{"/?", "/silent"}, kSetupHelpRequested, false},
      {{"/a", "/x"}, kSetupBadSwitch, false},
      {{"/a", "/a"}, kSetupBadSwitch, false},
      {{"/X", "/A"}, kSetupBadSwitch, false},
      {{"/bogus", "/?"}, kSetupBadSwitch, false},
      {{"/bogus", "/S"}, kSetupBadSwitch, true},
      {{"/S", "/bogus"}, kSetupBadSwitch, true},
      {{"/Debuglog"}, kSetupBadSwitch, false},
      {{"/silent"}, kSetupBadSwitch, false},
      {{"-s"}, kSetupBadSwitch, false},
      {{""}, kSetupBadSwitch, false},
      {{"/"}, kSetupBadSwitch, false},
      {{"/?x"}, kSetupBadSwitch, false},
      {{"/s"}, 0, true},
      {{"/S", "/x"}, 0, true},
      // A language ID is a decimal number, or msiexec takes what follows for it.
      {{"/L"}, kSetupBadSwitch, false},        {{"/S", "/l", "/v/qn"}, kSetupBadSwitch, true},
      {{"/l1033 /qn"}, kSetupBadSwitch, false}, {{"/L-1"}, kSetupBadSwitch, false},
      {{"/l0x409"}, kSetupBadSwitch, false},    {{"/l1033", "/L1031"}, 0, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SilentMode = false;
    int err = 0;
    Build(c.switches, err);
    std::string label = ::testing::PrintToString(c.switches);
    EXPECT_EQ(err, c.err) << label;
    EXPECT_EQ(SilentMode, c.silent) << label;
  }
}

TEST_F(ArgumentsTest, MissingPositionalArgumentsQueryNothing) {
  struct Case {
    std::vector<std::string> args;
    int err;
    bool silent;
  };
  constexpr int kFew = kSetupTooFewArguments;
  constexpr int kHelp = kSetupHelpRequested;
  std::vector<Case> cases = {
      // A switch in a positional slot leaves that argument out.
      {{"setup.exe", "drv.msi", kUpgrade, kProduct, "/x", "/S", "/v/qn"}, kFew, true},
      {{"setup.exe", "drv.msi", kUpgrade, "/X", "/S", "/v/qn"}, kFew, true},
      {{"setup.exe", "drv.msi", kUpgrade, kProduct, "/a", "/v/qn"}, kFew, false},
      {{"setup.exe", "drv.msi", kUpgrade, kProduct, "/debuglog", "/x"}, kFew, false},
      {{"setup.exe", "drv.msi", kUpgrade, kProduct, "/S", "/q"}, kFew, true},
      {{"setup.exe", "drv.msi", "/L1033", kProduct, kPackage, "/x"}, kFew, false},
      {{"setup.exe", "/s", "drv.msi", kUpgrade, kProduct, kPackage}, kFew, true},
      {{"setup.exe", "drv.msi", kUpgrade, kProduct, "/?", "/v/qn"}, kHelp, false},
      {{"setup.exe", "drv.msi", kUpgrade, "/h", "/x", "/S"}, kHelp, true},
      // A package name that names no one file for certain.
      {{"setup.exe", "", kUpgrade, kProduct, kPackage}, kFew, false},
      {{"setup.exe", "\\pkg\\drv.msi", kUpgrade, kProduct, kPackage, "/S"}, kFew, true},
      {{"setup.exe", "/pkg/drv.msi", kUpgrade, kProduct, kPackage, "/?"}, kHelp, false},
      {{"setup.exe", "C:drv.msi", kUpgrade, kProduct, kPackage}, kFew, false},
  };
  for (size_t count = 0; count < 5; ++count) {
    std::vector<std::string> args = {"setup.exe", "drv.msi", kUpgrade, kProduct, kPackage};
    args.resize(count);
    cases.push_back({args, kFew, false});
  }
  for (const Case& c : cases) {
    SilentMode = !c.silent;
    int err = 0;
    std::string label = ::testing::PrintToString(c.args);
    EXPECT_EQ(BuildMsiexecArgs(c.args, "C:\\pkg\\", err), "") << label;
    EXPECT_EQ(err, c.err) << label;
    EXPECT_EQ(SilentMode, c.silent) << label;
    EXPECT_FALSE(DebugLogEnabled) << label;
  }
  EXPECT_EQ(fake_.enum_calls, 0);
}

TEST_F(ArgumentsTest, FullPackagePathIsUsedAsItIs) {
  Install(kProduct, kOtherPackage);  // reinstall properties whatever the name
  for (std::string name :
       {"D:\\pkgs\\drv.msi", "z:/pkgs/drv.msi", "\\\\srv\\share\\drv2.msi", "\\\\?\\D:\\drv.msi"}) {
    int err = -7;
    EXPECT_EQ(BuildMsiexecArgs({"setup.exe", name, kUpgrade, kProduct, kPackage, "/v/qn"},
                               "C:\\pkg\\", err),
              "/package " + name + " REINSTALL=ALL REINSTALLMODE=vomus /qn");
    EXPECT_EQ(err, 0) << name;
  }
}

TEST_F(ArgumentsTest, ProductIsQueriedEvenForHelp) {
  int err = 0;
  Build({"/?"}, err);
  EXPECT_EQ(err, kSetupHelpRequested);
  EXPECT_EQ(fake_.enum_calls, 1);
  EXPECT_EQ(MsiFileName, "drv.msi");
}

TEST_F(ArgumentsTest, BlankInPathsIsQuoted) {
  fake_.local_app_data = "C:\\Users\\Jane Doe\\AppData\\Local";
  int err = 0;
  EXPECT_EQ(Build({}, err, "C:\\Users\\Jane Doe\\Downloads\\pkg\\"),
            "/package \"C:\\Users\\Jane Doe\\Downloads\\pkg\\drv.msi\"  "
            "/l*vx  \"C:\\Users\\Jane Doe\\AppData\\Local\\VNTR_Oriel2.log\"");
  EXPECT_EQ(QuotedIfBlank("C:\\a\tb\\x.msi"), "\"C:\\a\tb\\x.msi\"");
  EXPECT_EQ(QuotedIfBlank("C:\\ab\\x.msi"), "C:\\ab\\x.msi");
}

TEST_F(ArgumentsTest, LogSwitchLeftOutWithoutLocalAppData) {
  for (bool set : {false, true}) {
    fake_.local_app_data_set = set;
    fake_.local_app_data = "";
    EXPECT_EQ(BuildMsiLogArgs(), "");
    int err = 0;
    EXPECT_EQ(Build({}, err), "/package C:\\pkg\\drv.msi ");
  }
}

TEST_F(ArgumentsTest, InstallModeSwitches) {
  // clang-format off
  const std::pair<int, const char*> cases[] = {
      {1, "/i"}, {2, "/a"}, {3, "/x"}, {4, "/package"}, {0, ""}, {5, ""}, {-1, ""}};
  for (const auto& [mode, text] : cases) EXPECT_EQ(GetInstallModeSwitch(mode), text) << mode;
}

TEST_F(ArgumentsTest, DebugLogFileNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"/debuglog", "vntr_oriel2_setup.txt"},
      {"/DEBUGLOG", "vntr_oriel2_setup.txt"},
      {"/debuglogX", "X"},
      {"/DEBUGLOGab.txt", "ab.txt"},
  };
  // clang-format on
  std::filesystem::path previous = std::filesystem::current_path();
  for (const auto& [arg, file] : cases) {
    testing_support::ScratchDir dir;
    std::filesystem::current_path(dir.path());
    testing_support::ResetDebugLog();
    int err = 0;
    Build({arg}, err);
    CloseDebugLog();
    std::filesystem::current_path(previous);
    EXPECT_EQ(err, 0) << arg;
    EXPECT_TRUE(std::filesystem::exists(dir.path() / file)) << arg;
  }
}

TEST_F(ArgumentsTest, DebugLogSwitchOpensTheNamedFile) {
  testing_support::ScratchDir dir;
  std::string path = dir.file("named.txt");
  int err = 0;
  Build({"/DEBUGLOG" + path, "/S"}, err);
  EXPECT_EQ(err, 0);
  EXPECT_TRUE(SilentMode);
  CloseDebugLog();
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(ArgumentsTest, DebugLogThatCannotOpenStopsTheWalk) {
  testing_support::ScratchDir dir;
  int err = 0;
  Build({"/debuglog" + dir.file("missing/x.txt"), "/bogus"}, err);
  EXPECT_EQ(err, kSetupLogNotOpened);
}

TEST_F(ArgumentsTest, ProductStatuses) {
  struct Case {
    const char* name;
    std::vector<FakeSetupOs::Product> installed;
    int enum_fails_at;
    bool info_fails;
    int status;
    const char* logged;
    const char* upgrade = kUpgrade;
    const char* product = kProduct;
    const char* package = kPackage;
  };
  // clang-format off
  const Case cases[] = {
      {"nothing installed", {}, -1, false, kNothingRelatedInstalled, nullptr},
      {"same package", {{kUpgrade, kProduct, kPackage}}, -1, false, kThisPackageInstalled, nullptr},
      {"other package", {{kUpgrade, kProduct, kOtherPackage}}, -1, false, kProductFromOtherPackage,
       nullptr},
      {"other products of the family", {{kUpgrade, kOtherProduct, kPackage}}, -1, false,
       kOnlyOtherProductsOfFamily, nullptr},
      {"match after another", {{kUpgrade, kOtherProduct, kPackage}, {kUpgrade, kProduct, kPackage}},
       -1, false, kThisPackageInstalled, nullptr},
      {"other family only", {{kOtherProduct, kProduct, kPackage}}, -1, false,
       kNothingRelatedInstalled, nullptr},
      {"product code differs", {{kUpgrade, "{22222222-2222-2222-2222-22222222222A}", kPackage}},
       -1, false, kOnlyOtherProductsOfFamily, nullptr},
      {"codes typed in lower case, other package",
       {{kLetteredUpgrade, kLetteredProduct, kOtherPackage}}, -1, false, kProductFromOtherPackage,
       nullptr, kLowerUpgrade, kLowerProduct, kLowerPackage},
      {"codes typed in lower case, this package",
       {{kLetteredUpgrade, kLetteredProduct, kLetteredPackage}}, -1, false, kThisPackageInstalled,
       nullptr, kLowerUpgrade, kLowerProduct, kLowerPackage},
      {"codes in mixed case", {{kLetteredUpgrade, kLetteredProduct, kLowerPackage}}, -1, false,
       kThisPackageInstalled, nullptr, kLetteredUpgrade, kLowerProduct, kLetteredPackage},
      {"text that is no GUID keeps its case", {{kUpgrade, "{Abc}", "{Pkg}"}}, -1, false,
       kOnlyOtherProductsOfFamily, nullptr, kUpgrade, "{ABC}", "{Pkg}"},
      {"no GUID package code keeps its case", {{kUpgrade, kProduct, "pkg-a"}}, -1, false,
       kProductFromOtherPackage, nullptr, kUpgrade, kProduct, "PKG-A"},
      {"enumeration fails", {}, 0, false, kProductQueryFailed,
       "CheckMSIProductStatus: MsiEnumRelatedProducts failed "},
      {"enumeration fails later", {{kUpgrade, kOtherProduct, kPackage}}, 1, false,
       kProductQueryFailed, "CheckMSIProductStatus: MsiEnumRelatedProducts failed "},
      {"package code unreadable", {{kUpgrade, kProduct, kPackage}}, -1, true, kProductQueryFailed,
       "CheckMSIProductStatus: MsiGetProductInfo failed "},
  };
  // clang-format on
  for (const Case& c : cases) {
    fake_.installed = c.installed;
    fake_.enum_fails_at = c.enum_fails_at;
    fake_.product_info_fails = c.info_fails;
    testing_support::CapturedLog log;
    EXPECT_EQ(CheckMSIProductStatus(0, c.product, c.upgrade, c.package), c.status) << c.name;
    std::vector<std::string> expected;
    if (c.logged) expected.push_back(c.logged);
    EXPECT_EQ(log.Lines(), expected) << c.name;
  }
}

TEST_F(ArgumentsTest, FailedQueryIsNoErrorOfTheRun) {
  fake_.enum_fails_at = 0;
  int err = 0;
  EXPECT_EQ(Build({}, err), std::string("/package C:\\pkg\\drv.msi  ") + kLog);
  EXPECT_EQ(err, 0);
}

}  // namespace
