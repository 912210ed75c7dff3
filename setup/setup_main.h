// The setup program's entry and whole run: directory, translation, msiexec.
#pragma once

#include <string>

#include "platform/os.h"

// Run results of the program's own, besides msiexec's exit code.
inline constexpr int kSetupMsiexecNotStarted = 1;
inline constexpr int kSetupNoModulePath = 2;
inline constexpr int kSetupNoModuleHandle = 3;
// msiexec ran but the wait for it failed or its exit code could not be read:
// the outcome is unknown and must not read as success (ERROR_INSTALL_FAILURE).
inline constexpr int kSetupExitCodeUnknown = static_cast<int>(os::kErrorInstallFailure);

// The whole run; returns the process exit code.
int SetupMain(int argc, char** argv);

// The folder of the program file, ending with a backslash. `err` becomes 0,
// kSetupNoModuleHandle or kSetupNoModulePath.
std::string GetSetupDirectory(int& err);

// Shows the usage box unless the run is silent.
void ShowUsage();

// Starts `file` from the system directory with `parameters`, waits for it and
// returns its exit code; kSetupMsiexecNotStarted when no process started or
// the command line would be too long for the system. The shell shows no error
// box in a silent run.
int RunMsiexec(const std::string& file, const std::string& parameters);
