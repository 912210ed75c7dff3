// Runs a console program and collects what it writes.
#pragma once

#include <cstdint>

#include "setup/debug_log.h"

// run_cmd's own results; any other non-zero result is an exit code (see below).
inline constexpr int PROC_CREATE_FAILED = 5000;       // the program could not be started
inline constexpr int PROC_PIPE_READ_FAILED = 5001;    // reading its output failed
inline constexpr int PROC_PIPE_CREATE_FAILED = 5002;  // the output pipe could not be made
inline constexpr int PROC_TIMED_OUT = 5003;  // the time limit passed; the program was ended
inline constexpr int PROC_OUTPUT_COPY_FAILED = 5004;  // its output did not fit

// A call the runner makes while the program runs, about every `intervalMs`
// (never when 0 or without `call`): the caller's progress report. When it
// returns false the program is ended as at the time limit (PROC_TIMED_OUT),
// unless the run may not be ended.
struct RunTick {
  bool (*call)(void* context) = nullptr;
  void* context = nullptr;
  uint32_t intervalMs = 0;
};

// What the caller asks of a run beyond its command line.
struct RunRequest {
  // Once this many milliseconds have passed the program is ended and the
  // result is PROC_TIMED_OUT. 0 waits without limit.
  uint32_t timeLimitMs = 0;
  // The caller's call while the program runs.
  RunTick tick;
  // False for a program that must never be cut short (a firmware update):
  // then neither the time limit nor the tick ends it; a tick that asks to
  // stop is logged and ignored.
  bool mayBeEnded = true;
};

// What a run found out, recorded as it went; its result follows from these
// facts alone (RunResult).
struct RunReport {
  bool pipeMade = false;
  bool started = false;
  // The program was seen to end (or taken as ended after a failed wait).
  bool ended = false;
  // Its exit code, when it could be read: at its end, or as it stood when
  // its end was never seen.
  bool exitCodeKnown = false;
  uint32_t exitCode = 0;
  bool overflowed = false;  // its output did not fit
  bool timedOut = false;    // ended by the runner at the time limit
  bool stopped = false;     // ended by the runner at the tick's request
  bool readFailed = false;
  // The wait for the program failed while its exit code read 259
  // (STILL_ACTIVE): whether it ended is not known.
  bool endUnseen = false;
};

// Runs `command_line` (the program is `application`, or the command line's
// first word when that is null) with standard input the null device and
// standard output and standard error joined into one pipe, and appends all
// it writes to the text in `output` as it arrives. `capacity` is the size of
// `output` in bytes, terminator included; output that does not fit is cut to
// capacity - 1 bytes, and what comes after is still read, and dropped: the
// program's output is never closed while it runs, so none of its writes fail.
// Bytes after a NUL in one read are dropped. With `console_window` the
// program shares this program's console (or, without one, gets one of its
// own with a window); without it, it gets a console of its own with no window.
//
// Returns when the program has ended and what it wrote is read, when reading
// fails, or when its end cannot be seen. A program that leaves a process
// running which still holds the pipe does not hold the runner: what is in the
// pipe when the program ends is read, and then the runner returns. Without a
// time limit the program is never ended by the runner, even when it returns
// early.
//
// `total_read` is set to 0 at once and counts every byte read from the pipe,
// also those dropped or cut.
//
// Results (RunResult), the first that applies:
//   5002    the pipe could not be made; 5000: the program could not be started.
//   5001    reading its output failed.
//   5003    the runner ended the program: its time limit passed, or the
//           caller's tick asked to stop.
//   5004    its output did not fit, and the program ended or its end was
//           never seen: an output cut short is never a success.
//   other   only when a wait for the program failed (also one within a
//           read) while its exit code read 259, so its end was never seen:
//           its exit code as it stood at the end of the run (0 if it could
//           not be asked then).
//   0       the program ran and ended, whatever its exit code (the exit code
//           is only logged). That includes a program that ends with 259,
//           STILL_ACTIVE's value: the end is told by the wait, not the code.
//           When the wait fails, an exit code other than 259 tells the end,
//           and one that cannot be read counts as 0, so as ended too.
//
// Every step is written to the debug log under `handle`. While the program
// runs, a round of progress messages is logged every 10 seconds.
int run_cmd(LogHandle handle, const char* application, char* command_line, char* output,
            int32_t capacity, uint32_t* total_read, bool console_window);

// The same for what `request` asks, with what the run found out in `report`.
// Only here is the program ever ended by the runner: when the time limit
// passes or the caller's tick asks for it, and the request allows it.
int run_cmd(LogHandle handle, const char* application, char* command_line, char* output,
            int32_t capacity, uint32_t* total_read, bool console_window, const RunRequest& request,
            RunReport* report);

// run_cmd's result for what a run found out, by the rules above.
int RunResult(const RunReport& report);
