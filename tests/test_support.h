// Helpers shared by the unit tests of both builds.
#pragma once

#include <cstdint>
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

// Gives this process, for its lifetime, a standard input that holds data, so
// a test can tell whether a child reads the parent's input.
class StandardInputWithData {
 public:
  StandardInputWithData();
  ~StandardInputWithData();
  StandardInputWithData(const StandardInputWithData&) = delete;
  StandardInputWithData& operator=(const StandardInputWithData&) = delete;

 private:
  ScratchDir dir_;
  std::intptr_t saved_ = -1;
  std::intptr_t replacement_ = -1;
};

}  // namespace testing_support
