#include "setup/debug_log.h"

#include <atomic>
#include <cstring>
#include <string>
#include <utility>

#include "common/number_text.h"

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

// The lines joined by line feeds: written as one piece, in text mode each
// becomes a line end of its own.
struct EarlyLines {
  std::string text;
  bool held = false;
  bool full = false;
};

EarlyLines& Early() {
  static EarlyLines early;
  return early;
}

// Firmware checks may run on several threads while the log is off. A flag
// rather than std::mutex, whose thread library would grow the setup program.
class EarlyLock {
 public:
  EarlyLock() {
    while (Flag().test_and_set(std::memory_order_acquire)) {
    }
  }
  ~EarlyLock() { Flag().clear(std::memory_order_release); }
  EarlyLock(const EarlyLock&) = delete;
  EarlyLock& operator=(const EarlyLock&) = delete;

 private:
  static std::atomic_flag& Flag() {
    static std::atomic_flag flag = ATOMIC_FLAG_INIT;
    return flag;
  }
};

void HoldEarlyLine(std::string_view first, std::string_view second, std::string_view third) {
  EarlyLock guard;
  EarlyLines& early = Early();
  size_t size = first.size() + second.size() + third.size() + 1;
  if (early.full || early.text.size() + size > kEarlyLinesBound) {
    early.full = true;
    return;
  }
  if (early.held) early.text.push_back('\n');
  // By pointer and size: the library's string_view forms of std::string come
  // with its wide strings, which would grow the setup program by a sixth.
  for (std::string_view piece : {first, second, third}) {
    early.text.append(piece.data(), piece.size());
  }
  early.held = true;
}

void WriteEarlyLines() {
  EarlyLines early;
  {
    EarlyLock guard;
    std::swap(early, Early());
  }
  // c_str(), not data(): the library's non-const data() comes with its wide strings.
  if (early.held) {
    DebugLogStream.write_line(std::string_view(early.text.c_str(), early.text.size()));
  }
}

LogRelay g_relay = nullptr;

// One line to the installer's log when `handle` is a session's, and to the
// open log; before the log was ever turned on, to memory.
void EmitLine(LogHandle handle, std::string_view first, std::string_view second = {},
              std::string_view third = {}) {
  if (handle != 0 && g_relay != nullptr) g_relay(handle, first, second, third);
  if (LogIsOpen()) {
    DebugLogStream.write_line(first, second, third);
  } else if (!DebugLogEnabled) {
    HoldEarlyLine(first, second, third);
  }
}

}  // namespace

void SetLogRelay(LogRelay relay) { g_relay = relay; }

void DiscardEarlyLogLines() {
  EarlyLock guard;
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

void LogMessage(LogHandle handle, const char* text) { EmitLine(handle, text); }

void LogMessageParam(LogHandle handle, const char* templ, const char* value) {
  const char* marker = std::strstr(templ, "[1]");
  if (marker == nullptr) {
    EmitLine(handle, templ);
    return;
  }
  EmitLine(handle, std::string_view(templ, static_cast<size_t>(marker - templ)), value, marker + 3);
}

void LogMessageNumber(LogHandle handle, const char* templ, uint32_t value) {
  LogMessageParam(handle, templ, NumberText(value).c_str());
}

void CloseDebugLog() {
  if (LogIsOpen()) DebugLogStream.close();
}
