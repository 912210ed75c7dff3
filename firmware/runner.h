// Runs a console program and collects what it writes.
#pragma once

#include <cstdint>

#include "setup/debug_log.h"

// run_cmd's own results; any other non-zero result is an exit code (see below).
inline constexpr int PROC_CREATE_FAILED = 5000;       // the program could not be started
inline constexpr int PROC_PIPE_READ_FAILED = 5001;    // reading its output failed
inline constexpr int PROC_PIPE_CREATE_FAILED = 5002;  // the output pipe could not be made
inline constexpr int PROC_OUTPUT_COPY_FAILED = 5004;  // its output did not fit in `output`

// Runs `command_line` (the program is `application`, or the command line's
// first word when that is null) with standard input the null device and
// standard output and standard error joined into one pipe, and appends all
// it writes to the text in `output` as it arrives. `capacity` is the size of
// `output` in bytes, terminator included; output that does not fit is cut to
// capacity - 1 bytes. Bytes after a NUL in one read are dropped. Without
// `console_window` the program gets no console window.
//
// Returns when the program has ended and what it wrote is collected, or when
// collecting fails. A program that leaves a process running which still holds
// the pipe does not hold the runner: what is in the pipe when the program
// ends is collected, and then the runner returns. The program is never ended
// by the runner, even when it returns early.
//
// `total_read` is set to 0 at once and counts every byte read from the pipe,
// also those dropped or cut.
//
// Results:
//   0       the program ran and ended, whatever its exit code (the exit code
//           is only logged). That includes a program that ends with 259,
//           STILL_ACTIVE's value: the end is told by the wait, not the code.
//   5000-5004  the failures named above.
//   other   only when waiting for the program failed, so its end was never
//           seen: its exit code as it stood then, 259 if it still ran (0 if
//           even that could not be asked).
//
// Every step is written to the debug log under `handle`. While the program
// runs, a round of progress messages is logged every 10 seconds.
int run_cmd(LogHandle handle, const char* application, char* command_line, char* output,
            int32_t capacity, uint32_t* total_read, bool console_window);
