#include "setup/debug_log.h"

#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

bool DebugLogEnabled = false;
DebugLogFile DebugLogStream;

void DebugLogFile::open(const char* path) {
  if (file_ != nullptr) {
    failed_ = true;
    return;
  }
  // Text mode gives CR LF line ends on Windows; the C runtime opens the file
  // with no sharing restriction.
  file_ = std::fopen(path, "w");
  failed_ = file_ == nullptr;
}

void DebugLogFile::write_line(std::string_view first, std::string_view second,
                              std::string_view third) {
  if (file_ == nullptr || failed_) return;
  for (std::string_view piece : {first, second, third}) {
    if (!piece.empty() && std::fwrite(piece.data(), 1, piece.size(), file_) != piece.size()) {
      failed_ = true;
    }
  }
  if (std::fputc('\n', file_) == EOF) failed_ = true;
}

void DebugLogFile::close() {
  if (file_ == nullptr) return;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
}

namespace {

bool LogIsOpen() { return DebugLogEnabled && DebugLogStream.is_open(); }

// --- Lines written before the log opens, kept in memory until it does.
// The earliest lines explain the rest; once the bound is reached later ones
// are dropped, so a run that never opens the log holds little.
constexpr size_t kEarlyLinesBound = 64 * 1024;

struct EarlyLines {
  std::vector<std::string> lines;
  size_t bytes = 0;
  bool full = false;
};

EarlyLines& Early() {
  static EarlyLines early;
  return early;
}

// Firmware checks may run on several threads while the log is off.
std::mutex& EarlyLock() {
  static std::mutex lock;
  return lock;
}

void HoldEarlyLine(std::string_view first, std::string_view second, std::string_view third) {
  std::lock_guard<std::mutex> guard(EarlyLock());
  EarlyLines& early = Early();
  size_t size = first.size() + second.size() + third.size();
  if (early.full || early.bytes + size > kEarlyLinesBound) {
    early.full = true;
    return;
  }
  std::string line;
  line.reserve(size);
  line.append(first).append(second).append(third);
  early.lines.push_back(std::move(line));
  early.bytes += size;
}

void WriteEarlyLines() {
  EarlyLines early;
  {
    std::lock_guard<std::mutex> guard(EarlyLock());
    std::swap(early, Early());
  }
  for (const std::string& line : early.lines) DebugLogStream.write_line(line);
}

// One line to the open log; before the log was ever turned on, to memory.
void EmitLine(std::string_view first, std::string_view second = {}, std::string_view third = {}) {
  if (LogIsOpen()) {
    DebugLogStream.write_line(first, second, third);
  } else if (!DebugLogEnabled) {
    HoldEarlyLine(first, second, third);
  }
}

}  // namespace

void DiscardEarlyLogLines() {
  std::lock_guard<std::mutex> guard(EarlyLock());
  Early() = EarlyLines{};
}

bool OpenDebugLog(const char* path) {
  DebugLogEnabled = true;
  DebugLogStream.open(path);
  if (!DebugLogStream.good()) {
    DiscardEarlyLogLines();
    return false;
  }
  WriteEarlyLines();
  return true;
}

void LogMessage(LogHandle, const char* text) { EmitLine(text); }

void LogMessageParam(LogHandle, const char* templ, const char* value) {
  const char* marker = std::strstr(templ, "[1]");
  if (marker == nullptr) {
    EmitLine(templ);
    return;
  }
  EmitLine(std::string_view(templ, static_cast<size_t>(marker - templ)), value, marker + 3);
}

void CloseDebugLog() {
  if (LogIsOpen()) DebugLogStream.close();
}
