#include "firmware/runner.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/bounded_text.h"
#include "platform/os.h"

namespace {

constexpr uint32_t kChunkSize = 4096;
// While the program runs, a round of progress messages is logged this often.
constexpr uint32_t kProgressIntervalMs = 10000;
// While output flows, whether the program has ended is asked this often:
// asking after every chunk slows a large capture by a tenth under Wine.
constexpr uint32_t kEndCheckIntervalMs = 100;
// Once the program has ended, what it left in the pipe is collected for at
// most this long: a process it started may hold the pipe and keep writing.
constexpr uint32_t kRestLimitMs = 500;
// A program ended at its time limit is waited for at most this long.
constexpr uint32_t kEndWaitMs = 5000;

// One call of run_cmd: its handles, its chunk buffer and what it found out.
class CommandRun {
 public:
  CommandRun(LogHandle handle, char* output, int32_t capacity, uint32_t* total_read,
             RunDetails* details)
      : handle_(handle),
        output_(output),
        capacity_(capacity),
        total_read_(total_read),
        details_(details) {}

  int Run(const char* application, char* command_line, bool console_window) {
    if (!os::Current().MakePipe(read_end_.receive(), write_end_.receive(), read_event_.receive())) {
      return PROC_PIPE_CREATE_FAILED;
    }
    if (os::Current().StartProcess(application, command_line, console_window, write_end_.get(),
                                   process_.receive())) {
      // From now on only the program and what it starts hold the write end,
      // so the pipe closes when they are done with it.
      write_end_.reset();
      if (details_->time_limit_ms != 0) {
        time_limit_at_ = os::Current().TickCount() + details_->time_limit_ms;
      }
      Collect();
      Report();
    } else {
      // Read first: logging may change it. It tells "not found" from "access denied".
      uint32_t error = os::Current().LastError();
      LogMessageParam(handle_, "run_cmd: Failed to create the process for running [1]",
                      command_line);
      LogMessageNumber(handle_, "run_cmd: the system's error is [1]", error);
      result_ = PROC_CREATE_FAILED;
    }
    Finish(command_line);
    return result_;
  }

 private:
  enum class Event { kData, kOther, kWaitFailed, kStop };
  enum class Outcome { kRunning, kEnded, kUnknown };

  // Takes output as it comes until the program has ended and its output is
  // collected, or reading fails, or the program's end cannot be seen.
  // Whether the program has ended is asked after every event but data, and
  // while data flows at least every kEndCheckIntervalMs, so a pipe that never
  // runs dry cannot hide the end. A program still running at the time limit
  // is ended.
  void Collect() {
    uint64_t next_round = os::Current().TickCount() + kProgressIntervalMs;
    uint64_t next_end_check = 0;
    if (details_->tick.call != nullptr && details_->tick.interval_ms != 0) {
      next_tick_ = os::Current().TickCount() + details_->tick.interval_ms;
    }
    for (;;) {
      Event event = Await(std::min({next_round, time_limit_at_, next_tick_}));
      if (event == Event::kStop) return;
      uint64_t now = os::Current().TickCount();
      CallTick(now);
      if (event == Event::kData && now < next_end_check && now < next_round &&
          now < time_limit_at_) {
        continue;
      }
      next_end_check = now + kEndCheckIntervalMs;
      // When the read's own wait for the program failed, that is the answer.
      uint32_t wait = event == Event::kWaitFailed ? os::kWaitFailed
                                                  : os::Current().WaitForProcess(process_.get(), 0);
      if (wait == os::kWaitTimeout && now >= time_limit_at_) {
        EndAtTimeLimit();
        return;
      }
      if (wait == os::kWaitTimeout && now < next_round) continue;

      Outcome outcome = ProgressRound(wait);
      if (outcome == Outcome::kRunning) {
        next_round = os::Current().TickCount() + kProgressIntervalMs;
        continue;
      }
      if (outcome == Outcome::kEnded) {
        CollectRest();
      } else {
        end_unseen_ = true;
      }
      return;
    }
  }

  // Waits at most until `deadline` for output or the program's end, and
  // appends what comes. kStop: reading failed.
  Event Await(uint64_t deadline) {
    if (!pipe_open_) {
      os::Current().WaitForProcess(process_.get(), MsUntil(deadline));
      return Event::kOther;
    }
    os::ReadStatus status = Read(process_.get(), MsUntil(deadline));
    if (status == os::ReadStatus::kFailed) {
      read_failed_ = true;
      return Event::kStop;
    }
    if (status == os::ReadStatus::kProcessWaitFailed) return Event::kWaitFailed;
    // The program closed its output but may still run.
    if (status == os::ReadStatus::kEndOfData) pipe_open_ = false;
    if (status != os::ReadStatus::kData) return Event::kOther;
    Append();
    return Event::kData;
  }

  // Logs a round of progress for the wait result `wait`; closes the process
  // handle when the program is taken as ended: the wait saw its end, or the
  // wait failed and the exit code does not say it still runs (an exit code
  // that cannot be read counts as 0).
  Outcome ProgressRound(uint32_t wait) {
    last_wait_ = wait;
    uint32_t exit_code = 0;
    bool exit_code_known = os::Current().ExitCodeOfProcess(process_.get(), &exit_code);
    if (!exit_code_known) {
      exit_code = 0;
      LogMessageParam(handle_, "run_cmd: GetExitCodeProcess  in the loop failed", "");
    }
    LogMessageNumber(handle_, "run_cmd: proc exit code is [1]", exit_code);
    LogMessageNumber(handle_, "run_cmd: proc err code is [1]", wait);
    LogMessage(handle_, "run_cmd: reading data from pipe");
    bool ended =
        wait == os::kWaitObject0 || (wait != os::kWaitTimeout && exit_code != os::kStillActive);
    if (!ended) {
      LogMessage(handle_, "run_cmd: process did not complete waiting ...");
      return wait == os::kWaitTimeout ? Outcome::kRunning : Outcome::kUnknown;
    }
    details_->ended = true;
    details_->exit_code_known = exit_code_known;
    details_->exit_code = exit_code;
    process_.reset();
    LogMessageParam(
        handle_, "run_cmd: since the process ended closing the handle and read from pipe [1]", "");
    return Outcome::kEnded;
  }

  // The caller's call, once its time has come. A false answer moves the time
  // limit to now.
  void CallTick(uint64_t now) {
    if (now < next_tick_) return;
    next_tick_ = now + details_->tick.interval_ms;
    if (!details_->tick.call(details_->tick.context)) {
      stopped_ = true;
      time_limit_at_ = now;
    }
  }

  // Ends the program that outlived its time limit and waits a little for its
  // end, so that it has stopped when the caller hears of it.
  void EndAtTimeLimit() {
    LogMessage(handle_, stopped_ ? "run_cmd: the caller stopped the run, ending the process"
                                 : "run_cmd: the time limit passed, ending the process");
    if (os::Current().TerminateProcess(process_.get(), PROC_TIMED_OUT)) {
      os::Current().WaitForProcess(process_.get(), kEndWaitMs);
    } else {
      LogMessageParam(handle_, "run_cmd: TerminateProcess failed", "");
    }
    result_ = PROC_TIMED_OUT;
  }

  // Collects what the ended program left in the pipe. Stops once the pipe is
  // empty rather than closed, since a process it started may keep it open.
  void CollectRest() {
    uint64_t deadline = os::Current().TickCount() + kRestLimitMs;
    for (;;) {
      os::ReadStatus status = Read(os::kNoHandle, 0);
      if (status == os::ReadStatus::kFailed) {
        read_failed_ = true;
        return;
      }
      if (status != os::ReadStatus::kData) return;
      Append();
      if (os::Current().TickCount() >= deadline) return;
    }
  }

  os::ReadStatus Read(os::Handle watched, uint32_t timeout_ms) {
    return os::Current().ReadOutput(read_end_.get(), read_event_.get(), watched, chunk_, kChunkSize,
                                    timeout_ms, &chunk_length_);
  }

  static uint32_t MsUntil(uint64_t deadline) {
    uint64_t now = os::Current().TickCount();
    return deadline > now ? static_cast<uint32_t>(deadline - now) : 0;
  }

  // Appends the chunk just read to the output. Once a chunk did not fit, the
  // rest is still read, and dropped: a closed pipe would fail the program's
  // next write, perhaps in the middle of a firmware update.
  void Append() {
    *total_read_ += chunk_length_;
    if (chunk_length_ == 0 || output_full_) return;  // an empty write, or no room left
    text::Result appended = text::AppendBounded(output_, Capacity(), chunk_, chunk_length_);
    LogMessage(handle_, "run_cmd: copy  temp buffer to the main buffer");
    if (appended == text::kOk) return;
    LogMessage(handle_, "run_cmd: failed to copy the temp buffer to the main buffer");
    output_full_ = true;
    result_ = PROC_OUTPUT_COPY_FAILED;
  }

  void Report() {
    LogMessageNumber(handle_, "run_cmd: WaitForSingleObject return value is [1]", last_wait_);
    LogMessageNumber(handle_, "run_cmd: exit code is [1]", static_cast<uint32_t>(result_));
    if (read_failed_) {
      LogMessage(handle_, "run_cmdA: set exit code to PROC_PIPE_READ_FAILED ");
      result_ = PROC_PIPE_READ_FAILED;
      return;
    }
    LogMessageParam(handle_, "run_cmdA: output is  [1]", OutputText());
    LogMessage(handle_, "run_cmdA: complete to print the output");
    // Its end never seen, the result is its exit code as it stands now.
    if (end_unseen_) {
      uint32_t exit_code = 0;
      if (os::Current().ExitCodeOfProcess(process_.get(), &exit_code)) {
        details_->exit_code_known = true;
        details_->exit_code = exit_code;
      } else {
        LogMessageParam(handle_, "run_cmd: GetExitCodeProcess failed", "");
      }
      result_ = static_cast<int>(exit_code);
    }
  }

  void Finish(const char* command_line) {
    LogMessage(handle_, "run_cmdA: closing process");
    process_.reset();
    write_end_.reset();
    read_end_.reset();
    read_event_.reset();
    LogMessageParam(handle_, "run_cmd: cmd [1] ended", command_line);
    LogMessageNumber(handle_, "run_cmdA: exit code is [1]", static_cast<uint32_t>(result_));
  }

  size_t Capacity() const { return capacity_ > 0 ? static_cast<size_t>(capacity_) : 0; }

  // The output buffer's text; empty when the buffer holds no terminated text.
  const char* OutputText() const {
    size_t capacity = Capacity();
    return capacity > 0 && std::memchr(output_, '\0', capacity) != nullptr ? output_ : "";
  }

  const LogHandle handle_;
  char* const output_;
  const int32_t capacity_;
  uint32_t* const total_read_;
  RunDetails* const details_;

  os::UniqueHandle read_end_;
  os::UniqueHandle write_end_;
  os::UniqueHandle read_event_;
  os::UniqueHandle process_;
  char chunk_[kChunkSize];
  uint32_t chunk_length_ = 0;
  bool pipe_open_ = true;
  // Until a round, the program has not been seen to end.
  uint32_t last_wait_ = os::kWaitTimeout;
  bool read_failed_ = false;
  bool output_full_ = false;
  bool end_unseen_ = false;
  int result_ = 0;
  uint64_t time_limit_at_ = UINT64_MAX;  // no limit
  uint64_t next_tick_ = UINT64_MAX;      // no call
  bool stopped_ = false;                 // the caller's call asked to stop
};

}  // namespace

int run_cmd(LogHandle handle, const char* application, char* command_line, char* output,
            int32_t capacity, uint32_t* total_read, bool console_window) {
  RunDetails details;
  return run_cmd(handle, application, command_line, output, capacity, total_read, console_window,
                 &details);
}

int run_cmd(LogHandle handle, const char* application, char* command_line, char* output,
            int32_t capacity, uint32_t* total_read, bool console_window, RunDetails* details) {
  *total_read = 0;
  details->ended = false;
  details->exit_code_known = false;
  details->exit_code = 0;
  LogMessageParam(handle, "run_cmd: started cmd [1]", command_line);
  return CommandRun(handle, output, capacity, total_read, details)
      .Run(application, command_line, console_window);
}
