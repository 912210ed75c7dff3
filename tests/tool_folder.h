// The stand-in tool as flashkeeper.exe in a scratch folder: the report it
// writes, the exit code it ends with and the arguments it was given.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/test_support.h"

namespace testing_support {

class ToolFolder {
 public:
  // The default name holds a blank and brackets, as an installer's property gives it.
  explicit ToolFolder(const std::string& report = "", unsigned long exitCode = 0,
                      const std::string& name = "fw tool [1]")
      : folder_(dir_.path() / name) {
    std::filesystem::create_directories(folder_);
    std::filesystem::copy_file(FAKE_FLASHKEEPER_PATH, folder_ / "flashkeeper.exe");
    Report(report, exitCode);
  }
  void Report(const std::string& report, unsigned long exitCode = 0) const {
    std::ofstream(folder_ / "report.txt", std::ios::binary) << report;
    std::ofstream(folder_ / "exitcode.txt") << exitCode;
  }
  // The tool keeps running this long after its report.
  void RunsFor(int ms) const { std::ofstream(folder_ / "sleep.txt") << ms; }
  // In the form the tool's command line names it: Windows' where the program runs on Windows.
  std::string Path() const { return std::filesystem::path(folder_).make_preferred().string(); }
  std::string Parent() const { return dir_.path().string(); }
  std::string Name() const { return folder_.filename().string(); }
  std::string Missing() const { return Path() + "-missing"; }
  std::string Arguments() const { return ReadFile((folder_ / "args.txt").string()); }

 private:
  ScratchDir dir_;
  std::filesystem::path folder_;
};

}  // namespace testing_support
