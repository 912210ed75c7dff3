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

// What the collection itself gave, before a failed read or an unseen end
// counts: the result as the log shows it once the program is done.
int CollectionResult(const RunReport& report) {
  if (report.timedOut || report.stopped) return PROC_TIMED_OUT;
  return report.overflowed ? PROC_OUTPUT_COPY_FAILED : 0;
}

// One call of run_cmd: its handles and its chunk buffer. What it finds out
// goes to the report as it happens; the result follows from that alone.
class CommandRun {
 public:
  CommandRun(LogHandle handle, char* output, int32_t capacity, uint32_t* total_read,
             const RunRequest& request, RunReport* report)
      : handle_(handle),
        output_(output),
        capacity_(capacity),
        total_read_(total_read),
        request_(request),
        report_(report) {}

  void Run(const char* application, char* command_line, bool console_window) {
    report_->pipeMade =
        os::Current().MakePipe(read_end_.receive(), write_end_.receive(), read_event_.receive());
    if (!report_->pipeMade) return;
    report_->started = os::Current().StartProcess(application, command_line, console_window,
                                                  write_end_.get(), process_.receive());
    if (report_->started) {
      // From now on only the program and what it starts hold the write end,
      // so the pipe closes when they are done with it.
      write_end_.reset();
      if (request_.timeLimitMs != 0 && request_.mayBeEnded) {
        time_limit_at_ = os::Current().TickCount() + request_.timeLimitMs;
      }
      Collect();
      Report();
    } else {
      // Read first: logging may change it. It tells "not found" from "access denied".
      uint32_t error = os::Current().LastError();
      LogMessageParam(handle_, "run_cmd: Failed to create the process for running [1]",
                      command_line);
      LogMessageNumber(handle_, "run_cmd: the system's error is [1]", error);
    }
    Finish(command_line);
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
    if (request_.tick.call != nullptr && request_.tick.intervalMs != 0) {
      next_tick_ = os::Current().TickCount() + request_.tick.intervalMs;
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
        report_->endUnseen = true;
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
      report_->readFailed = true;
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
    report_->ended = true;
    report_->exitCodeKnown = exit_code_known;
    report_->exitCode = exit_code;
    process_.reset();
    LogMessageParam(
        handle_, "run_cmd: since the process ended closing the handle and read from pipe [1]", "");
    return Outcome::kEnded;
  }

  // The caller's call, once its time has come. A false answer moves the time
  // limit to now, in a run that may be ended.
  void CallTick(uint64_t now) {
    if (now < next_tick_) return;
    next_tick_ = now + request_.tick.intervalMs;
    if (request_.tick.call(request_.tick.context)) return;
    if (!request_.mayBeEnded) {
      LogMessage(handle_, "run_cmd: the caller asked to stop, but this run is never ended");
      return;
    }
    stop_asked_ = true;
    time_limit_at_ = now;
  }

  // Ends the program that outlived its time limit and waits a little for its
  // end, so that it has stopped when the caller hears of it.
  void EndAtTimeLimit() {
    LogMessage(handle_, stop_asked_ ? "run_cmd: the caller stopped the run, ending the process"
                                    : "run_cmd: the time limit passed, ending the process");
    (stop_asked_ ? report_->stopped : report_->timedOut) = true;
    if (os::Current().TerminateProcess(process_.get(), PROC_TIMED_OUT)) {
      os::Current().WaitForProcess(process_.get(), kEndWaitMs);
    } else {
      LogMessageParam(handle_, "run_cmd: TerminateProcess failed", "");
    }
  }

  // Collects what the ended program left in the pipe. Stops once the pipe is
  // empty rather than closed, since a process it started may keep it open.
  void CollectRest() {
    uint64_t deadline = os::Current().TickCount() + kRestLimitMs;
    for (;;) {
      os::ReadStatus status = Read(os::kNoHandle, 0);
      if (status == os::ReadStatus::kFailed) {
        report_->readFailed = true;
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
    if (chunk_length_ == 0 || report_->overflowed) return;  // an empty write, or no room left
    text::Result appended = text::AppendBounded(output_, Capacity(), chunk_, chunk_length_);
    LogMessage(handle_, "run_cmd: copy  temp buffer to the main buffer");
    if (appended == text::kOk) return;
    LogMessage(handle_, "run_cmd: failed to copy the temp buffer to the main buffer");
    report_->overflowed = true;
  }

  void Report() {
    LogMessageNumber(handle_, "run_cmd: WaitForSingleObject return value is [1]", last_wait_);
    LogMessageNumber(handle_, "run_cmd: exit code is [1]",
                     static_cast<uint32_t>(CollectionResult(*report_)));
    if (report_->readFailed) {
      LogMessage(handle_, "run_cmdA: set exit code to PROC_PIPE_READ_FAILED ");
      return;
    }
    LogMessageParam(handle_, "run_cmdA: output is  [1]", OutputText());
    LogMessage(handle_, "run_cmdA: complete to print the output");
    // Its end never seen, its exit code as it stands now may tell the result.
    if (report_->endUnseen) {
      uint32_t exit_code = 0;
      if (os::Current().ExitCodeOfProcess(process_.get(), &exit_code)) {
        report_->exitCodeKnown = true;
        report_->exitCode = exit_code;
      } else {
        LogMessageParam(handle_, "run_cmd: GetExitCodeProcess failed", "");
      }
    }
  }

  void Finish(const char* command_line) {
    LogMessage(handle_, "run_cmdA: closing process");
    process_.reset();
    write_end_.reset();
    read_end_.reset();
    read_event_.reset();
    LogMessageParam(handle_, "run_cmd: cmd [1] ended", command_line);
    LogMessageNumber(handle_, "run_cmdA: exit code is [1]",
                     static_cast<uint32_t>(RunResult(*report_)));
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
  const RunRequest& request_;
  RunReport* const report_;

  os::UniqueHandle read_end_;
  os::UniqueHandle write_end_;
  os::UniqueHandle read_event_;
  os::UniqueHandle process_;
  char chunk_[kChunkSize];
  uint32_t chunk_length_ = 0;
  bool pipe_open_ = true;
  // Until a round, the program has not been seen to end.
  uint32_t last_wait_ = os::kWaitTimeout;
  uint64_t time_limit_at_ = UINT64_MAX;  // no limit
  uint64_t next_tick_ = UINT64_MAX;      // no call
  bool stop_asked_ = false;              // the caller's call asked to stop
};

}  // namespace

int RunResult(const RunReport& report) {
  if (!report.pipeMade) return PROC_PIPE_CREATE_FAILED;
  if (!report.started) return PROC_CREATE_FAILED;
  if (report.readFailed) return PROC_PIPE_READ_FAILED;
  int collected = CollectionResult(report);
  // Its end never seen, its exit code as it stood at the end is the result,
  // but never over a failure: an output that did not fit is no success.
  if (collected == 0 && report.endUnseen && report.exitCodeKnown) {
    return static_cast<int>(report.exitCode);
  }
  return collected;
}

int run_cmd(LogHandle handle, const char* application, char* command_line, char* output,
            int32_t capacity, uint32_t* total_read, bool console_window) {
  RunReport report;
  return run_cmd(handle, application, command_line, output, capacity, total_read, console_window,
                 RunRequest{}, &report);
}

int run_cmd(LogHandle handle, const char* application, char* command_line, char* output,
            int32_t capacity, uint32_t* total_read, bool console_window, const RunRequest& request,
            RunReport* report) {
  *total_read = 0;
  *report = RunReport{};
  LogMessageParam(handle, "run_cmd: started cmd [1]", command_line);
  CommandRun(handle, output, capacity, total_read, request, report)
      .Run(application, command_line, console_window);
  return RunResult(*report);
}
