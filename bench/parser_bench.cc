// Parse throughput on a report of the size of the tool's output buffer
// (100 KB, 64 devices), with the debug log off as in an ordinary run.
// Prints MB/s (10^6 bytes per second). Usage: parser_bench [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "firmware/parser.h"

namespace {

constexpr int kDevices = 64;
constexpr size_t kReportBytes = 102400;
constexpr size_t kDeviceBytes = kReportBytes / kDevices;
constexpr size_t kShortestFillLine = 12;

// One device block of exactly kDeviceBytes: its labelled lines, sensor
// readings, a note line that fills the rest, and the status last.
std::string DeviceBlock(int number) {
  const std::string id = std::to_string(number);
  std::string block = "Device #" + id + " (bay " + id + ")\n" +
                      "  Model: Vistrel VN2-4410 dual-port controller\n"
                      "  Part Number: VN2-4410-A" +
                      std::to_string(number % 4) + "\n" + "  PSID: QV_4410_" + id + "\n" +
                      "  Image: 7.12.044 -> 7.12.051\n";
  const std::string status =
      number % 16 == 0 ? "  Status: Update required\n" : "  Status: Up to date\n";
  const std::string sensor = "    sensor " + id + ": 41 C, 0.92 V, fan 3200 rpm, ok\n";
  while (block.size() + sensor.size() + status.size() + kShortestFillLine <= kDeviceBytes) {
    block += sensor;
  }
  const size_t fill = kDeviceBytes - block.size() - status.size();
  block += "  Notes: " + std::string(fill - 10, '.') + "\n";
  return block + status;
}

std::string Report() {
  std::string report;
  for (int number = 1; number <= kDevices; ++number) report += DeviceBlock(number);
  return report;
}

double MegabytesPerSecond(std::chrono::steady_clock::duration elapsed) {
  return static_cast<double>(kReportBytes) / std::chrono::duration<double>(elapsed).count() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  const std::string report = Report();
  const char* const supported[] = {"VN2-2200", "VN2-4410"};
  std::vector<char> buffer(report.size() + 1);
  std::vector<std::chrono::steady_clock::duration> times;
  for (int round = 0; round < rounds; ++round) {
    // The parse cuts its text into lines, so every round gets a fresh copy.
    std::copy(report.begin(), report.end(), buffer.begin());
    bool updateRequired = false;
    const auto start = std::chrono::steady_clock::now();
    const FirmwareStatus result =
        CheckFWUpdateStatByOutpt(0, buffer.data(), static_cast<uint32_t>(report.size()), true,
                                 &updateRequired, supported, 2, true);
    times.push_back(std::chrono::steady_clock::now() - start);
    if (result != kFwNoProblem || !updateRequired) {
      std::fprintf(stderr, "parser_bench: unexpected result %d\n", static_cast<int>(result));
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  std::printf("parser: %zu bytes, %d devices, %d rounds: median %.0f MB/s, best %.0f MB/s\n",
              report.size(), kDevices, rounds, MegabytesPerSecond(times[times.size() / 2]),
              MegabytesPerSecond(times.front()));
  return 0;
}
