// Who can change the tool that a check is about to run. A process that runs
// elevated or as the system would run, with its rights, whatever another
// account put there: such a process runs the tool only when nobody but
// SYSTEM, Administrators, TrustedInstaller and its own account can change
// the tool, its folder or a folder above it.
#pragma once

#include <string>

struct ToolPathCheck {
  enum class Verdict {
    kRun,      // start `runPath`
    kMissing,  // the tool is not there: nothing runs, as if it failed to start
    kRefused,  // `reason` says who can change what; nothing runs
  };
  Verdict verdict = Verdict::kRun;
  // The path to start: for an elevated process the one the system opens,
  // links and junctions followed, so that no link can lead the start
  // elsewhere than the check; `toolPath` itself otherwise.
  std::string runPath;
  std::string reason;  // one line, no line end
};

// Checks the full path `toolPath` of the tool before it is started.
ToolPathCheck CheckToolPath(const std::string& toolPath);
