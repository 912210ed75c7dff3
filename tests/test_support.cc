#include "tests/test_support.h"

#include <atomic>
#include <chrono>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

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

StandardInputWithData::StandardInputWithData() {
  std::string path = dir_.file("input.txt");
  std::ofstream(path, std::ios::binary) << std::string(1000, 'i');
#ifdef _WIN32
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE input = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  replacement_ = reinterpret_cast<std::intptr_t>(input);
  saved_ = reinterpret_cast<std::intptr_t>(::GetStdHandle(STD_INPUT_HANDLE));
  ::SetStdHandle(STD_INPUT_HANDLE, input);
#else
  replacement_ = open(path.c_str(), O_RDONLY);
  saved_ = dup(STDIN_FILENO);
  dup2(static_cast<int>(replacement_), STDIN_FILENO);
#endif
}

StandardInputWithData::~StandardInputWithData() {
#ifdef _WIN32
  ::SetStdHandle(STD_INPUT_HANDLE, reinterpret_cast<HANDLE>(saved_));
  ::CloseHandle(reinterpret_cast<HANDLE>(replacement_));
#else
  dup2(static_cast<int>(saved_), STDIN_FILENO);
  close(static_cast<int>(saved_));
  close(static_cast<int>(replacement_));
#endif
}

}  // namespace testing_support
