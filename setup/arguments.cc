#include "setup/arguments.h"

#include <cctype>
#include <cstring>
#include <initializer_list>

#include "platform/os.h"

std::string MsiFileName;
bool SilentMode = false;

namespace {

constexpr char kReinstallProperties[] = "REINSTALL=ALL REINSTALLMODE=vomus";
constexpr char kDefaultDebugLogName[] = "vntr_oriel2_setup.txt";
constexpr char kMsiLogFileName[] = "\\VNTR_Oriel2.log";

constexpr std::initializer_list<const char*> kHelpSwitches = {"/h", "/H", "/?"};
constexpr std::initializer_list<const char*> kSilentSwitches = {"/s", "/S"};

bool IsAnyOf(const std::string& arg, std::initializer_list<const char*> texts) {
  for (const char* text : texts) {
    if (arg == text) return true;
  }
  return false;
}

// Whether any element from position `first` on is exactly one of `texts`.
bool AnyFrom(const std::vector<std::string>& args, size_t first,
             std::initializer_list<const char*> texts) {
  for (size_t i = first; i < args.size(); ++i) {
    if (IsAnyOf(args[i], texts)) return true;
  }
  return false;
}

// A Windows Installer GUID in brace form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
bool IsGuid(const std::string& code) {
  constexpr char kPattern[] = "{HHHHHHHH-HHHH-HHHH-HHHH-HHHHHHHHHHHH}";
  if (code.size() != sizeof(kPattern) - 1) return false;
  for (size_t i = 0; i < code.size(); ++i) {
    bool ok = kPattern[i] == 'H' ? std::isxdigit(static_cast<unsigned char>(code[i])) != 0
                                 : code[i] == kPattern[i];
    if (!ok) return false;
  }
  return true;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// GUIDs do not depend on case; any other text is compared byte for byte.
bool SameCode(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  if (!IsGuid(a) || !IsGuid(b)) return a == b;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// The form the Windows Installer keeps its codes in: a GUID in upper case.
std::string InstallerForm(std::string code) {
  if (IsGuid(code)) {
    for (char& c : code) c = AsciiUpper(c);
  }
  return code;
}

// Whether `arg` begins with one of `prefixes`, all of the same length.
bool HasPrefix(const std::string& arg, std::initializer_list<const char*> prefixes) {
  for (const char* prefix : prefixes) {
    if (arg.compare(0, std::strlen(prefix), prefix) == 0) return true;
  }
  return false;
}

// The switches of the program's own, by what they do.
enum class Switch {
  kHelp,
  kAdministrative,
  kUninstall,
  kDebugLog,
  kLanguage,
  kSilent,
  kMsiParams,
  kUnknown,
};

Switch KindOf(const std::string& arg) {
  if (IsAnyOf(arg, kHelpSwitches)) return Switch::kHelp;
  if (IsAnyOf(arg, {"/a", "/A"})) return Switch::kAdministrative;
  if (IsAnyOf(arg, {"/x", "/X"})) return Switch::kUninstall;
  if (HasPrefix(arg, {"/debuglog", "/DEBUGLOG"})) return Switch::kDebugLog;
  if (HasPrefix(arg, {"/l", "/L"})) return Switch::kLanguage;
  if (IsAnyOf(arg, kSilentSwitches)) return Switch::kSilent;
  if (HasPrefix(arg, {"/v", "/V"})) return Switch::kMsiParams;
  return Switch::kUnknown;
}

// Whether the four positional arguments are all there. One that reads as a
// switch of the program's own is taken as left out: a code slot holding "/x"
// must never turn an uninstall into an install.
bool HasPositionalArguments(const std::vector<std::string>& args) {
  if (args.size() < 5) return false;
  for (size_t i = 1; i < 5; ++i) {
    if (KindOf(args[i]) != Switch::kUnknown) return false;
  }
  return true;
}

// Applies one switch. Returns false when the walk stops here.
bool ApplySwitch(const std::string& arg, int& mode, bool& msiParamsGiven, std::string& msiArgs,
                 int& err) {
  Switch kind = KindOf(arg);
  switch (kind) {
    case Switch::kHelp:
      err = kSetupHelpRequested;
      return false;
    case Switch::kAdministrative:
    case Switch::kUninstall:
      if (mode != kPackage) {
        err = kSetupBadSwitch;
        return false;
      }
      mode = kind == Switch::kAdministrative ? kAdministrative : kUninstall;
      return true;
    case Switch::kDebugLog: {
      std::string path = arg.size() < 10 ? kDefaultDebugLogName : arg.substr(9);
      if (!OpenDebugLog(path.c_str())) {
        err = kSetupLogNotOpened;
        return false;
      }
      return true;
    }
    case Switch::kLanguage:
      msiArgs += " /g " + arg.substr(2);
      return true;
    case Switch::kSilent:
      return true;  // silent mode is decided before the walk
    case Switch::kMsiParams:
      msiParamsGiven = true;
      msiArgs += " " + arg.substr(2);
      return true;
    case Switch::kUnknown:
      break;
  }
  err = kSetupBadSwitch;
  return false;
}

}  // namespace

std::string QuotedIfBlank(const std::string& path) {
  if (path.find_first_of(" \t") == std::string::npos) return path;
  return "\"" + path + "\"";
}

std::string GetInstallModeSwitch(int mode) {
  switch (mode) {
    case kInstall:
      return "/i";
    case kAdministrative:
      return "/a";
    case kUninstall:
      return "/x";
    case kPackage:
      return "/package";
    default:
      return "";
  }
}

std::string BuildMsiLogArgs() {
  std::string localAppData;
  // Without a folder for it, no log switch at all: a bare "/l*vx " makes
  // msiexec refuse the whole command line.
  if (!os::Current().EnvironmentValue("LocalAppData", &localAppData) || localAppData.empty()) {
    return "";
  }
  return "/l*vx  " + QuotedIfBlank(localAppData + kMsiLogFileName);
}

int CheckMSIProductStatus(LogHandle handle, const std::string& productCode,
                          const std::string& upgradeCode, const std::string& packageCode) {
  char productBuffer[40] = {};
  char packageBuffer[40] = {};
  os::Os& system = os::Current();
  std::string upgrade = InstallerForm(upgradeCode);
  uint32_t index = 0;
  uint32_t result;
  while ((result = system.EnumRelatedProducts(upgrade.c_str(), index, productBuffer)) ==
         os::kErrorSuccess) {
    if (SameCode(productCode, productBuffer)) {
      uint32_t size = sizeof(packageBuffer);
      if (system.GetProductInfo(productBuffer, "PackageCode", packageBuffer, &size) !=
          os::kErrorSuccess) {
        LogMessage(handle, "CheckMSIProductStatus: MsiGetProductInfo failed ");
        return kProductQueryFailed;
      }
      return SameCode(packageCode, packageBuffer) ? kThisPackageInstalled
                                                  : kProductFromOtherPackage;
    }
    ++index;
  }
  if (result == os::kErrorNoMoreItems) {
    return index == 0 ? kNothingRelatedInstalled : kOnlyOtherProductsOfFamily;
  }
  LogMessage(handle, "CheckMSIProductStatus: MsiEnumRelatedProducts failed ");
  return kProductQueryFailed;
}

std::string BuildMsiexecArgs(std::vector<std::string> args, std::string setupDirectory, int& err) {
  err = 0;
  int mode = kPackage;
  bool msiParamsGiven = false;
  std::string msiArgs;
  // Silent wherever it stands and wherever the walk stops: an unattended run
  // must never wait on a box.
  SilentMode = AnyFrom(args, 1, kSilentSwitches);
  // Without a package, help is still given.
  if (!HasPositionalArguments(args)) {
    err = AnyFrom(args, 1, kHelpSwitches) ? kSetupHelpRequested : kSetupTooFewArguments;
    return msiArgs;
  }
  MsiFileName = args[1];
  const std::string& sUpgradeCode = args[2];
  const std::string& sProductCode = args[3];
  const std::string& sPackageCode = args[4];
  std::string sMsiFullName = setupDirectory + MsiFileName;

  int status = CheckMSIProductStatus(0, sProductCode, sUpgradeCode, sPackageCode);
  for (size_t i = 5; i < args.size(); ++i) {
    if (!ApplySwitch(args[i], mode, msiParamsGiven, msiArgs, err)) break;
  }
  // Windows Installer evaluates REMOVE before REINSTALL: with /x or /a these
  // would bring the product back.
  if (status == kProductFromOtherPackage && mode == kPackage) {
    msiArgs.insert(0, kReinstallProperties);
  }
  if (!msiParamsGiven) {
    std::string logArgs = BuildMsiLogArgs();
    if (!logArgs.empty()) msiArgs += " " + logArgs;
  }
  return GetInstallModeSwitch(mode) + " " + QuotedIfBlank(sMsiFullName) + " " + msiArgs;
}
