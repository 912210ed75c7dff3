// Translation of the setup program's arguments into one msiexec parameter
// string, with the check of what the Windows Installer has installed.
#pragma once

#include <string>
#include <vector>

#include "setup/debug_log.h"

// Result codes of a translation besides 0 (the run's codes).
inline constexpr int kSetupHelpRequested = -1;
inline constexpr int kSetupLogNotOpened = 4;
inline constexpr int kSetupBadSwitch = 87;
inline constexpr int kSetupTooFewArguments = 101;

// The msiexec operation; only the switches can change it from kPackage.
enum InstallMode { kInstall = 1, kAdministrative = 2, kUninstall = 3, kPackage = 4 };

// What the Windows Installer knows of this product.
enum ProductStatus {
  kProductQueryFailed = 0,
  kNothingRelatedInstalled = 1,
  kProductFromOtherPackage = 2,
  kOnlyOtherProductsOfFamily = 3,
  kThisPackageInstalled = 4,
};

// The MSI file name of the run (first positional argument).
extern std::string MsiFileName;
// Set when "/s" or "/S" is among the arguments, in a code slot too and
// wherever the walk stops: no usage box and no window of the shell's.
extern bool SilentMode;

// The parameter string for msiexec. `err` becomes 0 when it may be used,
// otherwise kSetupTooFewArguments, kSetupHelpRequested, kSetupBadSwitch or
// kSetupLogNotOpened. A positional argument that reads as one of the
// program's switches counts as missing.
std::string BuildMsiexecArgs(std::vector<std::string> args, std::string setupDirectory, int& err);

// The MSI's path: `name` itself when it is a full path (a drive and a
// separator, or two separators), otherwise `name` in `setupDirectory`.
std::string MsiPath(const std::string& setupDirectory, const std::string& name);

// The Windows Installer logging switch with its file under LocalAppData, or
// nothing when LocalAppData has no value.
std::string BuildMsiLogArgs();

// "/i", "/a", "/x" or "/package"; empty for any other value.
std::string GetInstallModeSwitch(int mode);

// Asks the Windows Installer whether the product of `upgradeCode` with
// `productCode`, and the package `packageCode` of it, are installed. Codes that
// are GUIDs match whatever their case; other text must match byte for byte.
int CheckMSIProductStatus(LogHandle handle, const std::string& productCode,
                          const std::string& upgradeCode, const std::string& packageCode);

// `path`, in double quotes when a blank or a tab would split it on msiexec's
// command line.
std::string QuotedIfBlank(const std::string& path);
