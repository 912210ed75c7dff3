#include "setup/debug_log.h"

#include <cstring>

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

LogRelay g_relay = nullptr;

void Relay(LogHandle handle, std::string_view first, std::string_view second = {},
           std::string_view third = {}) {
  if (handle != 0 && g_relay != nullptr) g_relay(handle, first, second, third);
}
}  // namespace

void SetLogRelay(LogRelay relay) { g_relay = relay; }

bool OpenDebugLog(const char* path) {
  DebugLogEnabled = true;
  DebugLogStream.open(path);
  return DebugLogStream.good();
}

void LogMessage(LogHandle handle, const char* text) {
  Relay(handle, text);
  if (LogIsOpen()) DebugLogStream.write_line(text);
}

void LogMessageParam(LogHandle handle, const char* templ, const char* value) {
  const char* marker = std::strstr(templ, "[1]");
  if (marker == nullptr) {
    Relay(handle, templ);
    if (LogIsOpen()) DebugLogStream.write_line(templ);
    return;
  }
  std::string_view before(templ, static_cast<size_t>(marker - templ));
  Relay(handle, before, value, marker + 3);
  if (LogIsOpen()) DebugLogStream.write_line(before, value, marker + 3);
}

void CloseDebugLog() {
  if (LogIsOpen()) DebugLogStream.close();
}
