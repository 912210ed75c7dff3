// Helpers shared by the unit tests of both builds.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "setup/debug_log.h"

namespace testing_support {

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);

// The whole file, line ends of either kind removed, one element per line.
std::vector<std::string> ReadLines(const std::string& path);

// Turns the debug log on into a scratch file for one test and reads it back.
class CapturedLog {
 public:
  CapturedLog();
  ~CapturedLog();
  // Closes the log and returns its lines.
  std::vector<std::string> Lines();

 private:
  ScratchDir dir_;
  std::string path_;
};

// Puts the log back to the state of a new process.
void ResetDebugLog();

}  // namespace testing_support
