// A program simulated on a clock of its own, for the runner's tests and the
// check's: the system calls a run makes are answered from a script of timed
// writes and an end, so timing, chunking and failures are exact and nothing
// waits. Everything else passes on.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/os.h"

namespace testing_support {

class SimulatedToolOs : public os::ForwardingOs {
 public:
  static constexpr os::Handle kReadEnd = 101;
  static constexpr os::Handle kWriteEnd = 102;
  static constexpr os::Handle kProcess = 103;
  static constexpr os::Handle kReadEvent = 104;

  struct Write {
    uint64_t at_ms;
    std::string bytes;
  };
  // The program's writes in time order; those after `ends_at_ms` come from a
  // process it left running with the pipe.
  std::vector<Write> writes;
  uint64_t ends_at_ms = 1000;
  uint32_t exit_code = 0;

  bool has_console = false;
  bool make_pipe_fails = false;
  bool start_fails = false;
  bool exit_code_fails = false;
  // Exit codes the questions get, in turn, before `exit_code` applies.
  std::vector<uint32_t> first_exit_codes;
  bool wait_fails = false;
  bool read_wait_fails = false;  // a read's own wait for the program
  int failing_read = -1;         // index of the read that fails
  // FullPathName: a path with a drive is full, any other is taken from
  // `current_folder`; when not 0, `full_path_length` is the length it has.
  bool full_path_fails = false;
  std::string current_folder = "C:\\work";
  uint32_t full_path_length = 0;

  // Who may change the tool: not elevated unless a test says so. Elevated,
  // `final_paths` says where a link leads and `access_rules` holds each
  // path's rules; a path without any cannot be read (error 5).
  bool elevated = false;
  std::string account = "S-1-5-21-7-7-7-1001";
  std::map<std::string, std::string> final_paths;
  std::map<std::string, os::AccessRules> access_rules;

  // What the run did.
  std::map<os::Handle, int> closes;
  std::vector<uint32_t> read_timeouts;
  bool write_end_closed_before_reading = false;
  std::string started_command_line;
  std::string started_application;  // "" when none was named
  bool started_with_console = false;
  os::Handle started_output = os::kNoHandle;
  std::vector<os::Handle> terminated;

  uint64_t now() const { return now_; }

  // Output in `chunks`, one a read: one written each millisecond from the
  // start, the program ending with its last.
  void WriteChunks(const std::vector<std::string>& chunks) {
    writes.clear();
    for (const std::string& chunk : chunks) writes.push_back({writes.size(), chunk});
    ends_at_ms = chunks.size();
  }

  bool HasConsole() override { return has_console; }

  bool MakePipe(os::Handle* read_end, os::Handle* write_end, os::Handle* read_event) override {
    if (make_pipe_fails) return false;
    *read_end = kReadEnd;
    *write_end = kWriteEnd;
    *read_event = kReadEvent;
    return true;
  }

  bool StartProcess(const char* application, char* command_line, bool console_window,
                    os::Handle output, os::Handle* process) override {
    started_application = application != nullptr ? application : "";
    started_command_line = command_line;
    started_with_console = console_window;
    started_output = output;
    if (start_fails) return false;
    *process = kProcess;
    return true;
  }
  // What a failed start leaves: access denied.
  uint32_t LastError() override { return start_fails ? 5 : ForwardingOs::LastError(); }

  bool Close(os::Handle handle) override {
    ++closes[handle];
    return true;
  }

  uint64_t TickCount() override { return now_; }

  uint32_t WaitForProcess(os::Handle, uint32_t timeout_ms) override {
    if (wait_fails) return os::kWaitFailed;
    if (ends_at_ms > now_ + timeout_ms) {
      now_ += timeout_ms;
      return os::kWaitTimeout;
    }
    now_ = std::max(now_, ends_at_ms);
    return os::kWaitObject0;
  }

  bool ExitCodeOfProcess(os::Handle, uint32_t* code) override {
    if (exit_code_fails) return false;
    if (exit_code_questions_ < first_exit_codes.size()) {
      *code = first_exit_codes[exit_code_questions_++];
      return true;
    }
    *code = Ended() ? exit_code : os::kStillActive;
    return true;
  }

  bool TerminateProcess(os::Handle process, uint32_t) override {
    terminated.push_back(process);
    ends_at_ms = std::min(ends_at_ms, now_);
    return true;
  }

  // Reading a chunk takes a millisecond; waiting takes until the next write,
  // the watched process's end or the time limit, whichever comes first.
  os::ReadStatus ReadOutput(os::Handle, os::Handle read_event, os::Handle process, char* buffer,
                            uint32_t size, uint32_t timeout_ms, uint32_t* bytes_read) override {
    EXPECT_EQ(read_event, kReadEvent);
    *bytes_read = 0;
    if (read_timeouts.empty()) write_end_closed_before_reading = closes[kWriteEnd] == 1;
    read_timeouts.push_back(timeout_ms);
    if (static_cast<int>(read_timeouts.size()) - 1 == failing_read) return os::ReadStatus::kFailed;
    uint64_t deadline = now_ + timeout_ms;
    for (;;) {
      for (; next_write_ < writes.size() && writes[next_write_].at_ms <= now_; ++next_write_) {
        if (writes[next_write_].bytes.empty() && unread_.empty()) {
          ++next_write_;
          ++now_;
          return os::ReadStatus::kData;  // an empty write completes a read with nothing
        }
        unread_ += writes[next_write_].bytes;
      }
      if (!unread_.empty()) {
        *bytes_read = static_cast<uint32_t>(std::min<size_t>(size, unread_.size()));
        std::memcpy(buffer, unread_.data(), *bytes_read);
        unread_.erase(0, *bytes_read);
        ++now_;
        return os::ReadStatus::kData;
      }
      bool more_writes = next_write_ < writes.size();
      if (Ended() && !more_writes) return os::ReadStatus::kEndOfData;
      if (process != os::kNoHandle && read_wait_fails) return os::ReadStatus::kProcessWaitFailed;
      if (process != os::kNoHandle && Ended()) return os::ReadStatus::kProcessEnded;
      uint64_t next = more_writes ? writes[next_write_].at_ms : UINT64_MAX;
      if (process != os::kNoHandle) next = std::min(next, ends_at_ms);
      if (next > deadline) {
        now_ = deadline;
        return os::ReadStatus::kTimeout;
      }
      now_ = next;
    }
  }

  bool ProcessAccount(std::string* sid, bool* is_elevated) override {
    *sid = account;
    *is_elevated = elevated;
    return true;
  }
  bool FinalPath(const char* path, std::string* final) override {
    auto link = final_paths.find(path);
    *final = link == final_paths.end() ? path : link->second;
    return true;
  }
  uint32_t ReadAccessRules(const char* path, os::AccessRules* rules) override {
    auto found = access_rules.find(path);
    if (found == access_rules.end()) return 5;
    *rules = found->second;
    return 0;
  }
  std::string AccountName(const std::string& sid) override {
    const std::map<std::string, std::string> names = {
        {"S-1-1-0", "Everyone"},
        {"S-1-5-4", "NT AUTHORITY\\INTERACTIVE"},
        {"S-1-5-11", "NT AUTHORITY\\Authenticated Users"},
        {"S-1-5-32-545", "BUILTIN\\Users"}};
    auto found = names.find(sid);
    return found == names.end() ? sid : found->second;
  }

  bool FullPathName(const char* path, std::string* full) override {
    if (full_path_fails) return false;
    *full = std::strchr(path, ':') != nullptr ? path : current_folder + "\\" + path;
    if (full_path_length != 0) full->resize(full_path_length, 'x');
    return true;
  }

 private:
  bool Ended() const { return now_ >= ends_at_ms; }

  uint64_t now_ = 0;
  size_t exit_code_questions_ = 0;
  size_t next_write_ = 0;
  std::string unread_;
};

}  // namespace testing_support
