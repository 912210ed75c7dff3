#include "tests/test_support.h"

#include <atomic>
#include <chrono>
#include <random>

namespace testing_support {

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  auto name = "vntr_test_" + std::to_string(random()) + "_" + std::to_string(counter++);
  path_ = std::filesystem::temp_directory_path() / name;
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::string text = ReadFile(path);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

void ResetDebugLog() {
  DebugLogEnabled = true;
  CloseDebugLog();
  DebugLogEnabled = false;
  DiscardEarlyLogLines();
}

CapturedLog::CapturedLog() : path_(dir_.file("debug.log")) {
  ResetDebugLog();
  OpenDebugLog(path_.c_str());
}

CapturedLog::~CapturedLog() { ResetDebugLog(); }

std::vector<std::string> CapturedLog::Lines() {
  CloseDebugLog();
  return ReadLines(path_);
}

}  // namespace testing_support
