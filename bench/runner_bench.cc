// What capturing a program's output costs: the test child writes a 100 KB
// report through run_cmd into the caller's buffer, and the same child, run
// the same way, writes the same report to a file instead. Both include the
// program's start, so the ratio shows what the capture adds to a real run.
//
// Usage: runner_bench [rounds]   (default 20; each way is run once per round)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/median.h"

#include "firmware/runner.h"
#include "platform/os.h"
#include "tests/fixtures/child_path.h"

namespace {

constexpr uint32_t kReportBytes = 100 * 1024;
char g_output[kReportBytes + 4096];

// Runs `command_line` once; milliseconds taken, or a negative number when
// the run did not deliver what it should.
double TimedRun(const std::string& command_line, uint32_t expected_total) {
  std::string line = command_line;
  g_output[0] = '\0';
  uint32_t total = 0;
  auto start = std::chrono::steady_clock::now();
  int result = run_cmd(0, nullptr, &line[0], g_output, sizeof(g_output), &total, false);
  std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  if (result != 0 || total != expected_total) {
    std::fprintf(stderr, "run failed: %s: result %d (last error %lu), %lu bytes read\n",
                 command_line.c_str(), result, static_cast<unsigned long>(os::Native().LastError()),
                 static_cast<unsigned long>(total));
    return -1;
  }
  return took.count();
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  if (rounds < 1) rounds = 1;
  std::string file = (std::filesystem::temp_directory_path() / "runner_bench_report.txt").string();
  std::string size = std::to_string(kReportBytes);
  std::string captured = child::CommandLine("fill " + size);
  std::string to_file = child::CommandLine("to \"" + file + "\" fill " + size);

  std::vector<double> capture_ms;
  std::vector<double> file_ms;
  for (int round = 0; round <= rounds; ++round) {  // round 0 warms up
    double capture = TimedRun(captured, kReportBytes);
    double written = TimedRun(to_file, 0);
    if (capture < 0 || written < 0) return 1;
    if (round == 0) continue;
    capture_ms.push_back(capture);
    file_ms.push_back(written);
  }
  std::error_code ignored;
  std::filesystem::remove(file, ignored);

  double capture = Median(capture_ms);
  double written = Median(file_ms);
  std::printf("100 KB report, median of %d runs each\n", rounds);
  std::printf("  captured through run_cmd: %8.2f ms\n", capture);
  std::printf("  written to a file:        %8.2f ms\n", written);
  std::printf("  ratio:                    %8.2f\n", capture / written);
  return 0;
}
