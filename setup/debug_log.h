// The program's own plain-text debug log, off unless "/debuglog" opens it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

// Whose line it is, the first value of every logging call: 0 for the front
// end (setup.exe, fwcheck), otherwise the installer session (MSIHANDLE) of a
// custom action, whose lines also go to msiexec's log (SetLogRelay).
using LogHandle = uint32_t;

// A file output stream with the states of a standard one: closed or open,
// and a failure state that, once set, keeps later lines from being written.
class DebugLogFile {
 public:
  DebugLogFile() = default;
  ~DebugLogFile() { close(); }
  DebugLogFile(const DebugLogFile&) = delete;
  DebugLogFile& operator=(const DebugLogFile&) = delete;

  // Creates or truncates `path` in text mode, shared for reading and writing.
  // Opening an open stream fails and leaves the first file open.
  void open(const char* path);
  bool is_open() const { return file_ != nullptr; }
  bool good() const { return !failed_; }
  // Writes the pieces one after another and then a line end.
  void write_line(std::string_view first, std::string_view second = {},
                  std::string_view third = {});
  void close();

 private:
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

// Set by OpenDebugLog, cleared when a run begins; never cleared after a failed open.
extern bool DebugLogEnabled;
extern DebugLogFile DebugLogStream;

// Turns the log on and opens `path` (relative paths from the current folder);
// the lines kept from before go in first. Returns whether the stream is in a
// good state afterwards.
bool OpenDebugLog(const char* path);
// Writes `text` as one line when the log is on and open. Before the log was
// ever turned on, the line is kept in memory (bounded) for OpenDebugLog.
void LogMessage(LogHandle handle, const char* text);
// Writes `templ` with its first "[1]" replaced by `value` as one line, kept
// like LogMessage's; a template without the marker is written alone.
void LogMessageParam(LogHandle handle, const char* templ, const char* value);
// LogMessageParam with `value` as text (NumberText).
void LogMessageNumber(LogHandle handle, const char* templ, uint32_t value);
// Forgets the lines kept from before the log opened: a new run begins.
void DiscardEarlyLogLines();
// Closes the log if it is on and open.
void CloseDebugLog();

// Receives, as up to three pieces, every line that LogMessage and
// LogMessageParam make for a non-zero handle, whether or not the file log is
// on: a custom action hands its installer session's lines on to the
// installer's own log this way. Handle 0 (the front end) is never relayed.
using LogRelay = void (*)(LogHandle handle, std::string_view first, std::string_view second,
                          std::string_view third);
// Installs `relay` (nullptr: none) for the rest of the process.
void SetLogRelay(LogRelay relay);
