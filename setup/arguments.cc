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

// How the first positional argument names the package.
enum class PackageName {
  kRelative,   // to the folder of setup.exe
  kFull,       // a drive and a separator, or two separators (UNC, \\?\ and \\.\ forms)
  kUncertain,  // empty, rooted without a drive ("\pkg\drv.msi") or "C:drv.msi"
};

PackageName KindOfPackageName(const std::string& name) {
  // Windows takes a slash for a backslash in a path.
  auto separatorAt = [&name](size_t i) {
    return i < name.size() && (name[i] == '\\' || name[i] == '/');
  };
  char first = AsciiUpper(name.empty() ? '\0' : name[0]);
  if (first >= 'A' && first <= 'Z' && name.size() >= 2 && name[1] == ':') {
    return separatorAt(2) ? PackageName::kFull : PackageName::kUncertain;
  }
  if (separatorAt(0)) return separatorAt(1) ? PackageName::kFull : PackageName::kUncertain;
  return name.empty() ? PackageName::kUncertain : PackageName::kRelative;
}

// Whether the four positional arguments are all there. One that reads as a
// switch of the program's own is taken as left out: a code slot holding "/x"
// must never turn an uninstall into an install. So is a package name that
// names no one file for certain.
bool HasPositionalArguments(const std::vector<std::string>& args) {
  if (args.size() < 5) return false;
  for (size_t i = 1; i < 5; ++i) {
    if (KindOf(args[i]) != Switch::kUnknown) return false;
  }
  return KindOfPackageName(args[1]) != PackageName::kUncertain;
}

// A Windows language ID: decimal digits. Anything else would reach msiexec as
// switches of its own: a bare "/g" takes the next switch ("/qn") for its ID.
bool IsLanguageId(const std::string& id) {
  return !id.empty() && id.find_first_not_of("0123456789") == std::string::npos;
}

bool NamesFile(const std::string& path, const os::FileId& id) {
  os::FileId other;
  return os::Current().FileIdentity(path.c_str(), &other) && other == id;
}

// Whether a log opened at `logPath` would truncate the package or this
// program, by whatever name it is given (case, "..", a short name).
bool WouldOverwritePackage(const std::string& logPath, const std::string& package) {
  os::FileId log;
  if (!os::Current().FileIdentity(logPath.c_str(), &log)) return false;  // a new file
  std::string program;
  return NamesFile(package, log) || (os::Current().ModulePath(&program) && NamesFile(program, log));
}

// The working values of one translation.
struct Translation {
  std::string package;  // the MSI's path
  int mode = kPackage;
  bool msiParamsGiven = false;
  std::string msiArgs;
};

// Ends the walk with `err`, saying why in a debug log that is open.
bool Stop(int code, const char* why, const std::string& arg, int& err) {
  LogMessageParam(0, why, arg.c_str());
  err = code;
  return false;
}

// Applies one switch. Returns false when the walk stops here.
bool ApplySwitch(const std::string& arg, Translation& run, int& err) {
  Switch kind = KindOf(arg);
  switch (kind) {
    case Switch::kHelp:
      err = kSetupHelpRequested;
      return false;
    case Switch::kAdministrative:
    case Switch::kUninstall:
      if (run.mode != kPackage) {
        return Stop(kSetupBadSwitch,
                    "BuildMsiexecArgs: a second install mode, nothing started: [1]", arg, err);
      }
      run.mode = kind == Switch::kAdministrative ? kAdministrative : kUninstall;
      return true;
    case Switch::kDebugLog: {
      std::string path = arg.size() < 10 ? kDefaultDebugLogName : arg.substr(9);
      if (WouldOverwritePackage(path, run.package)) {
        return Stop(kSetupLogNotOpened,
                    "BuildMsiexecArgs: the debug log would overwrite the package or setup, "
                    "nothing started: [1]",
                    arg, err);
      }
      if (DebugLogEnabled) {
        return Stop(kSetupLogNotOpened,
                    "BuildMsiexecArgs: a second debug log, nothing started: [1]", arg, err);
      }
      if (!OpenDebugLog(path.c_str())) {
        err = kSetupLogNotOpened;
        return false;
      }
      return true;
    }
    case Switch::kLanguage:
      if (!IsLanguageId(arg.substr(2))) break;
      run.msiArgs += " /g " + arg.substr(2);
      return true;
    case Switch::kSilent:
      return true;  // silent mode is decided before the walk
    case Switch::kMsiParams:
      run.msiParamsGiven = true;
      run.msiArgs += " " + arg.substr(2);
      return true;
    case Switch::kUnknown:
      break;
  }
  return Stop(kSetupBadSwitch, "BuildMsiexecArgs: switch not recognised, nothing started: [1]", arg,
              err);
}

}  // namespace

std::string QuotedIfBlank(const std::string& path) {
  if (path.find_first_of(" \t") == std::string::npos) return path;
  return "\"" + path + "\"";
}

std::string MsiPath(const std::string& setupDirectory, const std::string& name) {
  return KindOfPackageName(name) == PackageName::kFull ? name : setupDirectory + name;
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
  // Silent wherever it stands and wherever the walk stops: an unattended run
  // must never wait on a box.
  SilentMode = AnyFrom(args, 1, kSilentSwitches);
  // Without a package, help is still given.
  if (!HasPositionalArguments(args)) {
    err = AnyFrom(args, 1, kHelpSwitches) ? kSetupHelpRequested : kSetupTooFewArguments;
    return "";
  }
  MsiFileName = args[1];
  const std::string& sUpgradeCode = args[2];
  const std::string& sProductCode = args[3];
  const std::string& sPackageCode = args[4];
  Translation run;
  run.package = MsiPath(setupDirectory, MsiFileName);

  int status = CheckMSIProductStatus(0, sProductCode, sUpgradeCode, sPackageCode);
  for (size_t i = 5; i < args.size(); ++i) {
    if (!ApplySwitch(args[i], run, err)) break;
  }
  // Windows Installer evaluates REMOVE before REINSTALL: with /x or /a these
  // would bring the product back.
  if (status == kProductFromOtherPackage && run.mode == kPackage) {
    run.msiArgs.insert(0, kReinstallProperties);
  }
  if (!run.msiParamsGiven) {
    std::string logArgs = BuildMsiLogArgs();
    if (!logArgs.empty()) run.msiArgs += " " + logArgs;
  }
  return GetInstallModeSwitch(run.mode) + " " + QuotedIfBlank(run.package) + " " + run.msiArgs;
}
