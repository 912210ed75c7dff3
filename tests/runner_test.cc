#include "firmware/runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include "platform/os.h"
#include "tests/fixtures/child_path.h"
#include "tests/fixtures/report_pattern.h"
#include "tests/simulated_tool_os.h"
#include "tests/test_support.h"

namespace {

using os::ReadStatus;

constexpr LogHandle kLogHandle = 7;
constexpr size_t kBufferBytes = 256 * 1024;
constexpr char kUntouched = '#';

// What one run_cmd call gave back and logged.
struct Outcome {
  int result = -1;
  uint32_t total_read = 0;
  std::string output;  // the text in the buffer
  bool wrote_past_capacity = false;
  std::vector<std::string> log;
  std::chrono::milliseconds took{0};
  RunReport report;
};

struct Call {
  Call(std::string command_line, int32_t capacity = 4096, std::string initial_text = "",
       const char* application = nullptr, bool console_window = false)
      : command_line(std::move(command_line)),
        capacity(capacity),
        initial_text(std::move(initial_text)),
        application(application),
        console_window(console_window) {}

  std::string command_line;
  int32_t capacity;
  std::string initial_text;
  const char* application;
  bool console_window;
  RunRequest request;
};

// Runs `call` without capturing the log, so that it can run on any thread.
Outcome RunUnlogged(const Call& call) {
  std::vector<char> buffer(kBufferBytes, kUntouched);
  std::memcpy(buffer.data(), call.initial_text.c_str(), call.initial_text.size() + 1);
  std::string command_line = call.command_line;
  Outcome outcome;
  auto start = std::chrono::steady_clock::now();
  outcome.result =
      run_cmd(kLogHandle, call.application, &command_line[0], buffer.data(), call.capacity,
              &outcome.total_read, call.console_window, call.request, &outcome.report);
  outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  outcome.output = buffer.data();
  size_t kept =
      std::max(static_cast<size_t>(std::max(call.capacity, 0)), call.initial_text.size() + 1);
  outcome.wrote_past_capacity =
      std::any_of(buffer.begin() + kept, buffer.end(), [](char c) { return c != kUntouched; });
  EXPECT_EQ(command_line, call.command_line) << "the command line came back changed";
  return outcome;
}

Outcome RunCall(const Call& call) {
  testing_support::CapturedLog log;
  Outcome outcome = RunUnlogged(call);
  outcome.log = log.Lines();
  return outcome;
}

Outcome RunChild(const std::string& actions, int32_t capacity = 4096) {
  return RunCall({child::CommandLine(actions), capacity});
}

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return Count(lines, line) > 0;
}

// Whether `text` is the first bytes of the child's "fill" report.
bool IsReportStart(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != child::ReportByte(i)) return false;
  }
  return true;
}

// The result from what a run found out: the first failure in the order of
// runner.h's rules; the exit code only for an end never seen.
TEST(RunResultTest, FollowsTheFactsInOrder) {
  // The facts: pipe made, started, ended, exit code known, exit code,
  // overflowed, timed out, stopped, read failed, end unseen.
  const std::pair<RunReport, int> cases[] = {
      {{true, true, false, false, 0, true, false, false, true}, PROC_PIPE_READ_FAILED},
      {{true, true, false, false, 0, true, true}, PROC_TIMED_OUT},
      {{true, true, false, true, 7, true, false, false, false, true}, PROC_OUTPUT_COPY_FAILED},
      {{true, true, false, true, 259, false, false, false, false, true}, 259},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(RunResult(cases[i].first), cases[i].second) << "row " << i + 1;
  }
}

// ---------------------------------------------------------------------------
// A program simulated on a clock of its own.

using testing_support::SimulatedToolOs;

Outcome RunSimulated(SimulatedToolOs& program, const Call& call = Call("tool.exe --no")) {
  os::ScopedOs scoped(program);
  return RunCall(call);
}

// Every handle the runner got is closed, each exactly once.
void ExpectEachClosedOnce(const SimulatedToolOs& program, const std::vector<os::Handle>& handles) {
  std::map<os::Handle, int> once;
  for (os::Handle handle : handles) once[handle] = 1;
  EXPECT_EQ(program.closes, once);
}

void ExpectAllClosedOnce(const SimulatedToolOs& program) {
  ExpectEachClosedOnce(program, {SimulatedToolOs::kReadEnd, SimulatedToolOs::kWriteEnd,
                                 SimulatedToolOs::kProcess, SimulatedToolOs::kReadEvent});
}

TEST(SimulatedRunTest, LogsEachStepOfANormalRunInOrder) {
  SimulatedToolOs program;
  program.writes = {{1000, "hello"}};
  program.ends_at_ms = 2000;
  program.exit_code = 3;
  Outcome outcome = RunSimulated(program, {"tool.exe --no"});

  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "hello");
  EXPECT_EQ(outcome.total_read, 5u);
  EXPECT_EQ(outcome.log,
            (std::vector<std::string>{
                "run_cmd: started cmd tool.exe --no",
                "run_cmd: copy  temp buffer to the main buffer",
                "run_cmd: proc exit code is 3",
                "run_cmd: proc err code is 0",
                "run_cmd: reading data from pipe",
                "run_cmd: since the process ended closing the handle and read from pipe ",
                "run_cmd: WaitForSingleObject return value is 0",
                "run_cmd: exit code is 0",
                "run_cmdA: output is  hello",
                "run_cmdA: complete to print the output",
                "run_cmdA: closing process",
                "run_cmd: cmd tool.exe --no ended",
                "run_cmdA: exit code is 0",
            }));
  EXPECT_TRUE(program.write_end_closed_before_reading);
  ExpectAllClosedOnce(program);
}

TEST(SimulatedRunTest, HandsItsArgumentsToTheProgramStart) {
  SimulatedToolOs program;
  for (bool console_window : {false, true}) {
    program.start_fails = true;  // the start itself is all this looks at
    RunSimulated(program, {"tool.exe -u -y", 4096, "", "C:\\fw\\tool.exe", console_window});
    EXPECT_EQ(program.started_application, "C:\\fw\\tool.exe");
    EXPECT_EQ(program.started_command_line, "tool.exe -u -y");
    EXPECT_EQ(program.started_with_console, console_window);
    EXPECT_EQ(program.started_output, SimulatedToolOs::kWriteEnd);
  }
}

// How chunks land in the caller's buffer. What does not fit is still read,
// to the program's end, and dropped; that it did not fit is logged once.
TEST(SimulatedRunTest, AppendsChunksWithinTheCapacity) {
  struct Case {
    const char* name;
    std::string initial_text;
    int32_t capacity;
    std::vector<std::string> chunks;
    std::string output;
    uint32_t total_read;
    int result;
  };
  // clang-format off
  const Case cases[] = {
      {"NUL inside a chunk", "", 16, {std::string("ab\0de", 5)}, "ab", 5, 0},
      {"old text stays in front", "old:", 16, {"new"}, "old:new", 3, 0},
      {"empty chunks add nothing", "", 16, {"", "a", ""}, "a", 1, 0},
      {"12 bytes into 10", "", 10, {"123456789012"}, "123456789", 12, PROC_OUTPUT_COPY_FAILED},
      {"exactly 9 into 10", "", 10, {"123456789"}, "123456789", 9, 0},
      {"9, then one more", "", 10, {"123456789", "x"}, "123456789", 10, PROC_OUTPUT_COPY_FAILED},
      {"more after the overflow", "", 10, {"123456789012", "345", "", "6789"}, "123456789", 19,
       PROC_OUTPUT_COPY_FAILED},
      {"capacity 0", "keep", 0, {"abc", "def"}, "keep", 6, PROC_OUTPUT_COPY_FAILED},
      {"negative capacity", "keep", -5, {"abc"}, "keep", 3, PROC_OUTPUT_COPY_FAILED},
      {"no terminator within the capacity", "keep", 4, {"abc"}, "keep", 3,
       PROC_OUTPUT_COPY_FAILED},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedToolOs program;
    for (size_t i = 0; i < c.chunks.size(); ++i)
      program.writes.push_back({100 * (i + 1), c.chunks[i]});
    program.ends_at_ms = 100 * (c.chunks.size() + 1);
    Outcome outcome = RunSimulated(program, {"tool.exe", c.capacity, c.initial_text});

    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.output, c.output);
    EXPECT_EQ(outcome.total_read, c.total_read);
    EXPECT_FALSE(outcome.wrote_past_capacity);
    EXPECT_TRUE(outcome.report.ended);
    EXPECT_EQ(program.now(), program.ends_at_ms);
    EXPECT_EQ(Count(outcome.log, "run_cmd: failed to copy the temp buffer to the main buffer"),
              c.result == PROC_OUTPUT_COPY_FAILED ? 1 : 0);
    // The runner never ends the program.
    ExpectAllClosedOnce(program);
  }
}

TEST(SimulatedRunTest, LogsProgressEveryTenSecondsWhileAChattyProgramRuns) {
  SimulatedToolOs program;
  for (uint64_t at = 4000; at < 25000; at += 4000) program.writes.push_back({at, "tick\n"});
  program.ends_at_ms = 25000;
  Outcome outcome = RunSimulated(program);

  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.total_read, 30u);
  EXPECT_EQ(Count(outcome.log, "run_cmd: process did not complete waiting ..."), 2);
  EXPECT_EQ(Count(outcome.log, "run_cmd: proc exit code is 259"), 2);
  EXPECT_EQ(Count(outcome.log, "run_cmd: proc err code is 258"), 2);
  EXPECT_EQ(Count(outcome.log, "run_cmd: proc exit code is 0"), 1);
  EXPECT_EQ(program.now(), 25000u);  // returned as the program ended
  // The waits for output end at the rounds' times, 10 s apart.
  EXPECT_EQ(program.read_timeouts.front(), 10000u);
  EXPECT_NE(std::find(program.read_timeouts.begin(), program.read_timeouts.end(), 1999u),
            program.read_timeouts.end());
}

TEST(SimulatedRunTest, AProgramEndingWith259HasEnded) {
  SimulatedToolOs program;
  program.writes = {{500, "done"}};
  program.ends_at_ms = 1000;
  program.exit_code = os::kStillActive;
  Outcome outcome = RunSimulated(program);

  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "done");
  EXPECT_TRUE(Contains(outcome.log, "run_cmd: proc exit code is 259"));
  EXPECT_EQ(Count(outcome.log, "run_cmd: process did not complete waiting ..."), 0);
}

TEST(SimulatedRunTest, CollectsEverythingLeftInThePipeAfterTheEnd) {
  SimulatedToolOs program;
  program.writes = {{1000, std::string(10000, 'x')}};
  program.ends_at_ms = 1000;
  Outcome outcome = RunSimulated(program, {"tool.exe", 20000});

  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, std::string(10000, 'x'));
  EXPECT_EQ(outcome.total_read, 10000u);
}

TEST(SimulatedRunTest, AProcessLeftWritingDoesNotHoldTheRunner) {
  SimulatedToolOs program;
  program.writes = {{500, "mine\n"}};
  for (uint64_t at = 1000; at < 60000; ++at) program.writes.push_back({at, "."});
  program.ends_at_ms = 1000;
  Outcome outcome = RunSimulated(program, {"tool.exe", 200000});

  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output.substr(0, 5), "mine\n");
  EXPECT_LT(program.now(), 2000u);
}

TEST(SimulatedRunTest, FailureToMakeThePipeEndsTheRunAtOnce) {
  SimulatedToolOs program;
  program.make_pipe_fails = true;
  Outcome outcome = RunSimulated(program, {"tool.exe --no"});

  EXPECT_EQ(outcome.result, PROC_PIPE_CREATE_FAILED);
  EXPECT_EQ(outcome.log, std::vector<std::string>{"run_cmd: started cmd tool.exe --no"});
  EXPECT_TRUE(program.started_command_line.empty());
  ExpectEachClosedOnce(program, {});
}

TEST(SimulatedRunTest, FailureToStartClosesThePipe) {
  SimulatedToolOs program;
  program.start_fails = true;
  Outcome outcome = RunSimulated(program, {"tool.exe --no"});

  EXPECT_EQ(outcome.result, PROC_CREATE_FAILED);
  EXPECT_EQ(outcome.log, (std::vector<std::string>{
                             "run_cmd: started cmd tool.exe --no",
                             "run_cmd: Failed to create the process for running tool.exe --no",
                             "run_cmd: the system's error is 5",
                             "run_cmdA: closing process",
                             "run_cmd: cmd tool.exe --no ended",
                             "run_cmdA: exit code is 5000",
                         }));
  ExpectEachClosedOnce(program, {SimulatedToolOs::kReadEnd, SimulatedToolOs::kWriteEnd,
                                 SimulatedToolOs::kReadEvent});
}

TEST(SimulatedRunTest, AFailedExitCodeQuestionIsLoggedAsZero) {
  SimulatedToolOs program;
  program.writes = {{500, "out"}};
  program.exit_code = 9;
  program.exit_code_fails = true;
  Outcome outcome = RunSimulated(program);

  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "out");
  EXPECT_TRUE(Contains(outcome.log, "run_cmd: GetExitCodeProcess  in the loop failed"));
  EXPECT_TRUE(Contains(outcome.log, "run_cmd: proc exit code is 0"));
  EXPECT_FALSE(Contains(outcome.log, "run_cmd: GetExitCodeProcess failed"));
}

// Without a working wait, on its own or within a read, the exit code tells
// the end: any value but 259 (STILL_ACTIVE) takes the program as ended, and
// so does one that cannot be read. Only a 259 leaves its end unseen: the
// result is then the exit code as it stands at the end of the run, unless
// the output did not fit.
TEST(SimulatedRunTest, AFailedWaitLeavesTheEndToTheExitCode) {
  struct Case {
    const char* name;
    bool in_read;  // only the wait within a read fails
    uint64_t ends_at_ms;
    bool exit_code_fails;
    std::vector<uint32_t> first_exit_codes;
    int result;
    bool ended;
    bool exit_code_known;
    uint32_t exit_code;
    int32_t capacity = 4096;
  };
  // clang-format off
  const Case cases[] = {
      {"it has ended", false, 1, false, {}, 0, true, true, 7},
      {"it has ended with an exception code", false, 1, false, {0xC0000005u}, 0, true, true,
       0xC0000005u},
      {"the exit code cannot be asked", false, 1, true, {}, 0, true, false, 0},
      {"it still runs", false, 5000, false, {}, static_cast<int>(os::kStillActive), false, true,
       os::kStillActive},
      {"it still ran, then ended with a negative code", false, 1, false, {259, 0xC0000005u},
       static_cast<int>(0xC0000005u), false, true, 0xC0000005u},
      {"in a read, it has ended", true, 5000, false, {7}, 0, true, true, 7},
      {"in a read, it still runs", true, 5000, false, {}, static_cast<int>(os::kStillActive),
       false, true, os::kStillActive},
      {"in a read, it still runs, its output did not fit", true, 5000, false, {},
       PROC_OUTPUT_COPY_FAILED, false, true, os::kStillActive, 3},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedToolOs program;
    program.writes = {{0, "out"}};
    program.ends_at_ms = c.ends_at_ms;
    program.exit_code = 7;
    program.wait_fails = !c.in_read;
    program.read_wait_fails = c.in_read;
    program.exit_code_fails = c.exit_code_fails;
    program.first_exit_codes = c.first_exit_codes;
    Outcome outcome = RunSimulated(program, {"tool.exe --no", c.capacity});

    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.output, std::string("out").substr(0, c.capacity - 1));
    EXPECT_EQ(outcome.report.ended, c.ended);
    EXPECT_EQ(outcome.report.exitCodeKnown, c.exit_code_known);
    EXPECT_EQ(outcome.report.exitCode, c.exit_code);
    EXPECT_EQ(Contains(outcome.log, "run_cmd: process did not complete waiting ..."), !c.ended);
    EXPECT_EQ(Contains(outcome.log,
                       "run_cmd: since the process ended closing the handle and read from pipe "),
              c.ended);
    EXPECT_TRUE(Contains(outcome.log, "run_cmd: WaitForSingleObject return value is 4294967295"));
    EXPECT_FALSE(Contains(outcome.log, "run_cmd: GetExitCodeProcess failed"));
    EXPECT_TRUE(program.terminated.empty());
    ExpectAllClosedOnce(program);
  }
}

// The caller's tick of the runs below: every second, asking to stop from
// `stop_at_ms` on (0: never); counts its calls.
struct TickScript {
  const SimulatedToolOs* program;
  uint64_t stop_at_ms;
  int calls = 0;
  static bool Call(void* context) {
    auto* script = static_cast<TickScript*>(context);
    ++script->calls;
    return script->stop_at_ms == 0 || script->program->now() < script->stop_at_ms;
  }
};

// A time limit, or the caller's tick, ends a program that outlives it, quiet
// or chatty, also one whose output no longer fits; without one, when the
// program ends in time, or in a run that may not be ended, nothing is ended.
TEST(SimulatedRunTest, ATimeLimitEndsTheProgram) {
  struct Case {
    const char* name;
    uint32_t time_limit_ms;
    uint64_t ends_at_ms;
    bool chatty;  // writes every millisecond until its end
    int32_t capacity;
    int result;
    bool terminated;
    uint64_t stop_at_ms = 0;  // the tick asks to stop from then on
    int ticks = 0;            // calls of the tick, one a second
    bool may_be_ended = true;
  };
  // clang-format off
  const Case cases[] = {
      {"quiet, past the limit", 5000, 60000, false, 200000, PROC_TIMED_OUT, true},
      {"chatty, past the limit", 5000, 60000, true, 200000, PROC_TIMED_OUT, true},
      {"overflowing, past the limit", 5000, 60000, true, 100, PROC_TIMED_OUT, true},
      {"overflowing, ends in time", 5000, 3000, true, 100, PROC_OUTPUT_COPY_FAILED, false},
      {"past a limit beyond a progress round", 25000, 60000, false, 200000, PROC_TIMED_OUT, true},
      {"ends in time", 5000, 3000, false, 200000, 0, false},
      {"no limit", 0, 60000, false, 200000, 0, false},
      {"stopped by the tick", 0, 60000, false, 200000, PROC_TIMED_OUT, true, 3000, 3},
      {"chatty, stopped by the tick", 5000, 60000, true, 200000, PROC_TIMED_OUT, true, 3000, 3},
      {"a tick that lets it run", 0, 3500, true, 200000, 0, false, 0, 3},
      {"never ended: the limit and the tick's stop", 2000, 3500, false, 200000, 0, false, 1000, 3,
       false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedToolOs program;
    program.writes = {{500, "report\n"}};
    if (c.chatty) {
      for (uint64_t at = 1000; at < c.ends_at_ms; ++at) program.writes.push_back({at, "."});
    }
    program.ends_at_ms = c.ends_at_ms;
    Call call("tool.exe --no", c.capacity);
    call.request.timeLimitMs = c.time_limit_ms;
    call.request.mayBeEnded = c.may_be_ended;
    TickScript tick{&program, c.stop_at_ms};
    if (c.ticks != 0) call.request.tick = {TickScript::Call, &tick, 1000};
    Outcome outcome = RunSimulated(program, call);

    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.output.substr(0, 7), "report\n");
    EXPECT_EQ(program.terminated, c.terminated ? std::vector<os::Handle>{SimulatedToolOs::kProcess}
                                               : std::vector<os::Handle>{});
    EXPECT_EQ(Contains(outcome.log, "run_cmd: the time limit passed, ending the process"),
              c.terminated && c.stop_at_ms == 0);
    EXPECT_EQ(Contains(outcome.log, "run_cmd: the caller stopped the run, ending the process"),
              c.terminated && c.stop_at_ms != 0);
    EXPECT_EQ(Count(outcome.log, "run_cmd: the caller asked to stop, but this run is never ended"),
              c.may_be_ended ? 0 : c.ticks);
    EXPECT_EQ(tick.calls, c.ticks);
    if (c.terminated) {
      uint64_t end = c.stop_at_ms != 0 ? c.stop_at_ms : c.time_limit_ms;
      EXPECT_GE(program.now(), end);
      EXPECT_LT(program.now(), end + 200u);
      EXPECT_EQ(outcome.log.back(), "run_cmdA: exit code is 5003");
    } else {
      EXPECT_EQ(program.now(), c.ends_at_ms);
    }
    ExpectAllClosedOnce(program);
  }
}

TEST(SimulatedRunTest, AFailedReadEndsTheRunWith5001) {
  struct Case {
    const char* name;
    int failing_read;
    uint32_t total_read;
  };
  // The third read is the first after the program's end.
  for (Case c : {Case{"while it runs", 0, 0}, Case{"after its end", 2, 3}}) {
    SCOPED_TRACE(c.name);
    SimulatedToolOs program;
    program.writes = {{500, "out"}};
    program.failing_read = c.failing_read;
    Outcome outcome = RunSimulated(program);

    EXPECT_EQ(outcome.result, PROC_PIPE_READ_FAILED);
    EXPECT_EQ(outcome.total_read, c.total_read);
    EXPECT_TRUE(Contains(outcome.log, "run_cmdA: set exit code to PROC_PIPE_READ_FAILED "));
    EXPECT_FALSE(Contains(outcome.log, "run_cmdA: complete to print the output"));
    EXPECT_EQ(outcome.log.back(), "run_cmdA: exit code is 5001");
  }
}

// ---------------------------------------------------------------------------
// Real programs: the test child, through the real system calls.

TEST(RunnerWithProgramTest, ProgramsThatEndGiveZeroAndTheirOutput) {
  struct Case {
    const char* actions;
    std::string initial_text;
    std::string output;
    uint32_t total_read;
  };
  // clang-format off
  const Case cases[] = {
      {"exit 0", "keep", "keep", 0},
      {"out \"a little\" exit 3", "", "a little", 8},
      {"out done exit 259", "", "done", 4},
      {"out ab\\0de", "", "ab", 5},
      {"out old\\n err err\\n out end", "", "old\nerr\nend", 11},
      {"out new", "old:", "old:new", 3},
      {"stdin", "", "stdin: 0 bytes\n", 15},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.actions);
    Outcome outcome = RunCall({child::CommandLine(c.actions), 4096, c.initial_text});
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.output, c.output);
    EXPECT_EQ(outcome.total_read, c.total_read);
    EXPECT_TRUE(Contains(outcome.log, "run_cmd: proc err code is 0"));
  }
}

// The program reads the null device, never this program's own input, even
// when that holds data.
TEST(RunnerWithProgramTest, TheProgramsInputIsTheNullDevice) {
  testing_support::StandardInputWithData input;
  Outcome outcome = RunChild("stdin");
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "stdin: 0 bytes\n");
}

TEST(RunnerWithProgramTest, LogsTheExitCode) {
  Outcome outcome = RunChild("exit 3");
  EXPECT_EQ(outcome.result, 0);
  EXPECT_TRUE(Contains(outcome.log, "run_cmd: proc exit code is 3"));
}

// A large report is read whole as it comes. One too large for the buffer is
// read to the program's end all the same, what fits kept: a program that goes
// on writing after a pause is not cut off.
TEST(RunnerWithProgramTest, ReadsALargeReportToTheProgramsEnd) {
  struct Case {
    const char* actions;
    int result;
    uint32_t total_read;
    size_t kept;
    uint32_t exit_code;
  };
  // clang-format off
  const Case cases[] = {
      {"fill 61440 exit 3", 0, 61440, 61440, 3},
      {"fill 150000 slow 3 20 exit 7", PROC_OUTPUT_COPY_FAILED, 150021, 102399, 7},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.actions);
    Outcome outcome = RunChild(c.actions, 102400);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.total_read, c.total_read);
    EXPECT_EQ(outcome.output.size(), c.kept);
    EXPECT_TRUE(IsReportStart(outcome.output));
    EXPECT_FALSE(outcome.wrote_past_capacity);
    // Its own exit code: a failed write would have ended it with 2.
    EXPECT_TRUE(outcome.report.ended);
    EXPECT_EQ(outcome.report.exitCode, c.exit_code);
    // Read as it comes: no 10-second round while the program writes.
    EXPECT_EQ(Count(outcome.log, "run_cmd: process did not complete waiting ..."), 0);
  }
}

#ifdef _WIN32
// Another local process that takes the pipe names this program would use if
// they were made of its process id and a counter cannot make checks fail.
TEST(RunnerWithProgramTest, PipeNamesCannotBeTakenFirst) {
  std::vector<os::UniqueHandle> squatted;
  for (int counter = 1; counter <= 500; ++counter) {
    std::string name = "\\\\.\\pipe\\vntr_setup_output." + std::to_string(::GetCurrentProcessId()) +
                       "." + std::to_string(counter);
    HANDLE pipe =
        ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    squatted.emplace_back(reinterpret_cast<os::Handle>(pipe));
  }
  Outcome outcome = RunChild("out fine");
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "fine");
}
#endif

#ifndef _WIN32
// Fails every read of the program's output; the rest is the real system's.
class FailingReadOs : public os::ForwardingOs {
 public:
  ReadStatus ReadOutput(os::Handle, os::Handle, os::Handle, char*, uint32_t, uint32_t,
                        uint32_t* bytes_read) override {
    *bytes_read = 0;
    return ReadStatus::kFailed;
  }
};

// A program still running when the runner stops early is not ended, but once
// it ends it is reaped: no zombie is left.
TEST(RunnerWithProgramTest, AProgramLeftRunningIsReapedOnceItEnds) {
  FailingReadOs failing_read;
  os::ScopedOs scoped(failing_read);
  Outcome outcome = RunChild("sleep 300");
  ASSERT_EQ(outcome.result, PROC_PIPE_READ_FAILED);
  // No child at all, running or ended, once it is gone; waits for its end at most 20 s.
  bool gone = false;
  for (int round = 0; round < 200 && !gone; ++round) {
    siginfo_t info{};
    gone = waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno == ECHILD;
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(gone) << "the program is still running or was left a zombie";
}
#endif

TEST(RunnerWithProgramTest, TakesASlowWritersLinesAsTheyCome) {
  Outcome outcome = RunChild("slow 5 500");
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "tick 1\ntick 2\ntick 3\ntick 4\ntick 5\n");
  EXPECT_EQ(Count(outcome.log, "run_cmd: copy  temp buffer to the main buffer"), 5);
}

// A pipe made through the seam, as the runner makes one.
struct Pipe {
  Pipe() {
    made = os::Current().MakePipe(read_end.receive(), write_end.receive(), read_event.receive());
  }
  // Reads one byte at most.
  ReadStatus Read(os::Handle process, uint32_t timeout_ms) {
    char byte;
    uint32_t count = 0;
    return os::Current().ReadOutput(read_end.get(), read_event.get(), process, &byte, 1, timeout_ms,
                                    &count);
  }
  os::UniqueHandle read_end;
  os::UniqueHandle write_end;
  os::UniqueHandle read_event;
  bool made = false;
};

// Checks at once on several threads keep to their own pipes: each run gets
// its whole output, and a read with nothing to come is not ended by reads
// completing on other threads.
TEST(RunnerWithProgramTest, RunsAtOnceOnSeveralThreadsKeepToTheirOwnPipes) {
  Pipe pipe;
  ASSERT_TRUE(pipe.made);
  ReadStatus idle_status = ReadStatus::kFailed;
  std::thread idle([&pipe, &idle_status] { idle_status = pipe.Read(os::kNoHandle, 60000); });
  Outcome slow;
  std::thread slow_run([&slow] { slow = RunUnlogged({child::CommandLine("slow 5 200")}); });
  Outcome lines = RunUnlogged(
      {child::CommandLine("out one\\n sleep 100 out two\\n err three\\n sleep 100 out four\\n")});
  slow_run.join();
  pipe.write_end.reset();  // the idle read's only news
  idle.join();

  EXPECT_EQ(slow.output, "tick 1\ntick 2\ntick 3\ntick 4\ntick 5\n");
  EXPECT_EQ(lines.output, "one\ntwo\nthree\nfour\n");
  EXPECT_EQ(idle_status, ReadStatus::kEndOfData);
}

TEST(RunnerWithProgramTest, AGrandchildHoldingThePipeDoesNotHoldTheRunner) {
  Outcome outcome = RunChild("out before\\n grandchild 5000 out after\\n");
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "before\nafter\n");
  // Far less than the grandchild's 5 s: the runner did not wait for it.
  EXPECT_LT(outcome.took.count(), 3000);
}

// A handle that is inheritable but not meant for the program must not reach
// it: here a pipe whose end would stay open in the program's grandchild.
TEST(RunnerWithProgramTest, TheProgramGetsOnlyItsOwnHandles) {
  Pipe pipe;
  ASSERT_TRUE(pipe.made);
  Outcome outcome = RunChild("grandchild 5000");
  ASSERT_EQ(outcome.result, 0);
  pipe.write_end.reset();
  EXPECT_EQ(pipe.Read(os::kNoHandle, 0), ReadStatus::kEndOfData);
}

// A read whose wait for the process fails says so, apart from a failed read.
TEST(RunnerWithProgramTest, AReadTellsAFailedWaitForTheProcess) {
  Pipe pipe;
  ASSERT_TRUE(pipe.made);
  const os::Handle no_process = 0x7FFFFFF0;  // no handle of this program, nor a descriptor
  EXPECT_EQ(pipe.Read(no_process, 5000), ReadStatus::kProcessWaitFailed);
}

TEST(RunnerWithProgramTest, RunsTheApplicationNamedApartFromItsCommandLine) {
  std::string quoted = child::CommandLine("");
  std::string path = quoted.substr(1, quoted.find('"', 1) - 1);
  Outcome outcome = RunCall({"runner_child out named", 4096, "", path.c_str()});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "named");
}

TEST(RunnerWithProgramTest, AProgramThatCannotStartGives5000) {
  Outcome outcome = RunCall({"no_such_program.exe --no", 4096, "", "no_such_program.exe"});
  EXPECT_EQ(outcome.result, PROC_CREATE_FAILED);
  EXPECT_EQ(outcome.total_read, 0u);
  EXPECT_EQ(outcome.log,
            (std::vector<std::string>{
                "run_cmd: started cmd no_such_program.exe --no",
                "run_cmd: Failed to create the process for running no_such_program.exe --no",
                "run_cmd: the system's error is 2",
                "run_cmdA: closing process",
                "run_cmd: cmd no_such_program.exe --no ended",
                "run_cmdA: exit code is 5000",
            }));
}

}  // namespace
