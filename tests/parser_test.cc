#include "firmware/parser.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/test_support.h"

using testing_support::CapturedLog;

namespace {

constexpr char kGuard = '\x5a';

// The text in length + 1 bytes, then a guard byte that no parse may touch.
struct ReportBuffer {
  ReportBuffer(const std::string& text, size_t size)
      : bytes(text.begin(), text.end()), length(static_cast<uint32_t>(size)) {
    bytes.resize(size + 1, '\x7f');
    bytes.push_back(kGuard);
  }
  bool GuardIntact() const { return bytes.back() == kGuard; }
  std::vector<char> bytes;
  uint32_t length;
};

struct DeviceSelection {
  bool oemFilter;
  bool supportedList;
  std::vector<const char*> parts;
  std::optional<int32_t> count;  // the size of parts unless given
  bool update = false;           // read as in update mode
};
const DeviceSelection kAllDevices{false, false, {}, {}};
const DeviceSelection kOemLeftOut{true, false, {}, {}};
const DeviceSelection kUpdateMode{false, false, {}, {}, true};
DeviceSelection OnlyParts(std::vector<const char*> parts) { return {false, true, parts, {}}; }
DeviceSelection ExceptParts(std::vector<const char*> parts) { return {false, false, parts, {}}; }

struct Outcome {
  FirmwareStatus result;
  bool updateRequired;
  std::vector<std::string> log;
  DeviceCounts counts;
};

Outcome Parse(const std::string& report, const DeviceSelection& selection) {
  ReportBuffer buffer(report, report.size());
  CapturedLog log;
  bool updateRequired = true;
  DeviceCounts counts{99, 99};
  const DeviceFilter filter{selection.oemFilter, selection.parts.data(),
                            selection.count.value_or(static_cast<int32_t>(selection.parts.size())),
                            selection.supportedList};
  ReportReading reading;
  reading.carriageReturnEndsLine = selection.update;
  const FirmwareStatus result =
      ParseReport(3, buffer.bytes.data(), buffer.length, filter, reading, &updateRequired, &counts);
  EXPECT_TRUE(buffer.GuardIntact());
  return {result, updateRequired, log.Lines(), counts};
}

const std::string kStartLine = "CheckFWUpdateStatByOutpt: start parsing output ";
const std::string kEndLine = "CheckFWUpdateStatByOutpt: completed ";

// The log without the per-line trace and the start and end lines.
std::vector<std::string> Verdicts(const std::vector<std::string>& log) {
  std::vector<std::string> verdicts;
  for (const std::string& line : log) {
    if (line.rfind("parsing line ", 0) != 0 && line != kStartLine && line != kEndLine) {
      verdicts.push_back(line);
    }
  }
  return verdicts;
}

const std::string kSkipByPart =
    "CheckFWUpdateStatByOutpt: Device is not found in the supported devices list. Skipping to the next device.";
const std::string kSkipOem =
    "CheckFWUpdateStatByOutpt: Found  OEM device skipping to the next device  ";
const std::string kUpdateLine =
    "GetStatusByMsg: found one device that should be updated s: Update required ";
const std::string kFailureLine =
    "GetStatusByMsg: found one device that has failure s: Failed to open device ";
const std::string kNoImageLine =
    "GetStatusByMsg: found one device that has no image  s: No matching image found ";

// Three devices whose lines come in different orders; the second reports
// its status before its part number, the third has a PSID of another maker.
const std::string kRackReport =
    "Flash inventory, 3 devices\n"
    "\n"
    "Device #1 (bay 0)\n"
    "  Model: Vistrel VN2-4410 dual-port controller\n"
    "  Part Number: VN2-4410-A2\n"
    "  PSID: QV_4410_0007\n"
    "  Image: 7.12.044 -> 7.12.051\n"
    "  Status: Update required\n"
    "\n"
    "Device #2 (bay 1)\n"
    "  Status: Failed to open device\n"
    "  Part Number: VN2-2200-B1\n"
    "  PSID: QV_2200_0003\n"
    "\n"
    "Device #3 (bay 2)\n"
    "  PSID: RS_9100_0001\n"
    "  Part Number: VN2-9100-C0\n"
    "  Status: No matching image found\n";

// CRLF line ends, a PSID behind blanks and a tab, and one in lower case.
const std::string kCrlfReport =
    "Device #1\r\n"
    "  PSID: \t QV_7700_0001\r\n"
    "  Part Number: VN2-7700-A0\r\n"
    "  Status: N/A (Mixed versions)\r\n"
    "Device #2\r\n"
    "  PSID:\tqv_7700_0002\r\n"
    "  Status: Update required\r\n";

struct ParseCase {
  const char* name;
  std::string report;
  DeviceSelection selection;
  FirmwareStatus result;
  bool updateRequired;
  std::vector<std::string> verdicts;
  DeviceCounts counts;  // reported, examined
};

TEST(ParserTest, ClassifiesReports) {
  const std::string mixedVersions =
      "GetStatusByMsg: found one device that has mixed version s: N/A (Mixed versions)\r ";
  const std::string otherStatuses =
      "Device #1\n  Status: Multiple images files found\n"
      "Device #2\n  Status: Rebooting to recovery\n"
      "Device #3\n  Status: Forced update required\n"
      "Device #4\n  Status: Up to date";
  // clang-format off
  const ParseCase cases[] = {
      {"every device examined; the first problem wins", kRackReport, kAllDevices, kFwOpenFailed, true,
       {kUpdateLine, kFailureLine, kNoImageLine}, {3, 3}},
      {"OEM device skipped at its PSID, before its status", kRackReport, kOemLeftOut, kFwOpenFailed, true,
       {kUpdateLine, kFailureLine, kSkipOem}, {3, 2}},
      {"supported list: a status before the part number that leaves its device out counts for nothing",
       kRackReport, OnlyParts({"VN2-4410", "VN2-9100"}), kFwNoMatchingImage, true,
       {kUpdateLine, kFailureLine, kSkipByPart, kNoImageLine}, {3, 2}},
      {"leave-out list", kRackReport, ExceptParts({"VN2-4410"}), kFwOpenFailed, false,
       {kSkipByPart, kFailureLine, kNoImageLine}, {3, 2}},
      {"empty supported list skips every part-number line", kRackReport, OnlyParts({}),
       kFwNoProblem, false, {kSkipByPart, kFailureLine, kSkipByPart, kSkipByPart}, {3, 0}},
      {"negative count is an empty list", kRackReport, DeviceSelection{false, true, {"VN2-4410"}, -1},
       kFwNoProblem, false, {kSkipByPart, kFailureLine, kSkipByPart, kSkipByPart}, {3, 0}},
      {"empty entry is in every supported line", kRackReport, OnlyParts({"XX", ""}),
       kFwOpenFailed, true, {kUpdateLine, kFailureLine, kNoImageLine}, {3, 3}},
      {"empty entry leaves every device out", kRackReport, ExceptParts({""}), kFwNoProblem,
       false, {kSkipByPart, kFailureLine, kSkipByPart, kSkipByPart}, {3, 0}},
      {"CRLF: blanks and a tab before the PSID; lower-case prefix is OEM", kCrlfReport, kOemLeftOut,
       kFwMixedVersions, false, {mixedVersions, kSkipOem}, {2, 1}},
      {"unknown status text counts as a problem, after an earlier one", otherStatuses, kAllDevices,
       kFwMultipleImages, false,
       {"GetStatusByMsg: found one device that has multiple images s: Multiple images files found ",
        "GetStatusByMsg: Unknown status message s: Rebooting to recovery ",
        "GetStatusByMsg: found one device that force update is required s: Forced update required "},
       {4, 4}},
      {"lines before the first device decide nothing; lower-case labels are not labels",
       "  Status: Rebooting to recovery\n  status: Update required\n  part Number: VX\n", OnlyParts({}),
       kFwNoProblem, false, {"GetStatusByMsg: Unknown status message s: Rebooting to recovery "},
       {0, 0}},
      {"label alone: status 's'; empty PSID, not the next line's text, is OEM",
       "  Status\n  PSID\nQV_1\nDevice #2\n  Status: Up to date", kOemLeftOut, kFwNoProblem, false,
       {"GetStatusByMsg: Unknown status message s ", kSkipOem}, {1, 1}},
      {"a skip resumes after a line starting with the whole device prefix",
       "Device #1\n  Part Number: VN2-1\nDevice\n  Status: Failed to open device\n"
       "device #2\n x Device #3\n  Status: Failed to open device\nDevice #4\n  Status: Up to date",
       OnlyParts({"VN2-4"}), kFwNoProblem, false, {kSkipByPart}, {2, 1}},
      {"text without line feeds", "  Status: Failed to open device", kAllDevices, kFwNoProblem, false,
       {kFailureLine}, {0, 0}},
      {"update mode: a carriage return alone ends a line, progress lines too",
       "Device #1:\r  Part Number:   VN2-4420-A\r  PSID: QV_0017\r  Status: Failed to open device\r"
       "Device #2:\r\n  Part Number: VN2-4421\n Burning 10%\r 55%\r  Status: Update required\r\n",
       kUpdateMode, kFwOpenFailed, true, {kFailureLine, kUpdateLine}, {2, 2}},
  };
  // clang-format on
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = Parse(c.report, c.selection);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.updateRequired, c.updateRequired);
    EXPECT_EQ(Verdicts(outcome.log), c.verdicts);
    EXPECT_EQ(outcome.counts.reported, c.counts.reported);
    EXPECT_EQ(outcome.counts.examined, c.counts.examined);
  }
}

struct TraceCase {
  const char* name;
  std::string report;
  DeviceSelection selection;
  std::vector<std::string> log;
};

TEST(ParserTest, TracesExaminedLinesOnly) {
  // clang-format off
  const TraceCase cases[] = {
      {"a skip passes over the next device's line untraced",
       "Device #1\n  Part Number: VN2-1\n  Status: Update required\n"
       "Device #2\n  Part Number: VN2-2\n  Status: Failed to open device\n",
       OnlyParts({"VN2-2"}),
       {kStartLine, "parsing line Device #1", "parsing line   Part Number: VN2-1", kSkipByPart,
        "parsing line   Part Number: VN2-2", "parsing line   Status: Failed to open device", kFailureLine,
        "parsing line ", kEndLine}},
      {"a skip without another device ends the parse",
       "Device #1\n  PSID: OEM_1\n  Status: Failed to open device\n", kOemLeftOut,
       {kStartLine, "parsing line Device #1", "parsing line   PSID: OEM_1", kSkipOem, kEndLine}},
      {"empty text", "", kAllDevices, {kStartLine, "parsing line ", kEndLine}},
  };
  // clang-format on
  for (const TraceCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Parse(c.report, c.selection).log, c.log);
  }
}

struct LinesCase {
  std::string text;
  uint32_t length;
  std::vector<std::string> lines;
};

TEST(LineTokenizerTest, CutsLinesInPlaceWithinLengthPlusOne) {
  // clang-format off
  const LinesCase cases[] = {
      {"a\r\nb\n\nc", 7, {"a\r", "b", "", "c"}},
      {"one\n", 4, {"one"}},
      {"\n\n", 2, {"", ""}},
      {"ab\ncd", 4, {"ab", "c"}},  // the length, not the text, ends the last line
      {"x", 0, {}},
  };
  // clang-format on
  for (const LinesCase& c : cases) {
    SCOPED_TRACE(c.text);
    ReportBuffer buffer(c.text, c.length);
    LineCursor cursor;
    std::vector<std::string> lines;
    for (char* line = NextLine(cursor, nullptr, buffer.bytes.data(), c.length); line != nullptr;
         line = NextLine(cursor, line, buffer.bytes.data(), c.length)) {
      lines.emplace_back(line);
    }
    EXPECT_EQ(lines, c.lines);
    if (c.length > 0 && c.text[c.length - 1] != '\n') {
      EXPECT_EQ(buffer.bytes[c.length], '\0');
    }
    EXPECT_TRUE(buffer.GuardIntact());
  }
}

TEST(FirmwarePsidTest, OnlyTheMakersPrefixAfterWhiteSpaceIsNotOem) {
  // clang-format off
  const std::pair<const char*, bool> cases[] = {
      {"QV_4410", false}, {" \t\r\n\v\fQV_1", false}, {"qv_4410", true}, {"QV", true},
      {"", true},         {"\xa0QV_1", true},         {"XQV_1", true},   {"QV-1", true},
  };
  // clang-format on
  for (const auto& [psid, oem] : cases) EXPECT_EQ(IsOemPsid(psid), oem) << psid;
}

TEST(FirmwareStatusTest, FirstKnownTextInSearchOrderDecides) {
  // clang-format off
  const std::pair<const char*, FirmwareStatus> cases[] = {
      {"Failed to open device; Update required", kFwUpdateRequired},
      {"N/A (Mixed versions) and No matching image found", kFwNoMatchingImage},
      {"Up to date", kFwUpToDate},
      {"up to date", kFwUnknownStatus},
  };
  // clang-format on
  for (const auto& [text, code] : cases) EXPECT_EQ(GetStatusByMsg(0, text), code) << text;
}

// Many devices, so that two parses at once overlap for many lines.
std::string LongReport(int devices, const char* lastStatus) {
  std::string report;
  for (int i = 1; i <= devices; ++i) {
    report += "Device #" + std::to_string(i) + "\n  Part Number: VN2-" + std::to_string(i % 7) +
              "\n  PSID: QV_" + std::to_string(i) +
              "\n  Status: " + (i == devices ? lastStatus : "Up to date") + "\n";
  }
  return report;
}

TEST(ParserTest, ConcurrentParsesAreIndependent) {
  testing_support::ResetDebugLog();
  const auto countWrongResults = [](const std::string& report, FirmwareStatus expected,
                                    int* wrong) {
    const char* const leaveOut[] = {"VN2-3"};
    for (int round = 0; round < 200; ++round) {
      std::vector<char> buffer(report.begin(), report.end());
      buffer.push_back('\0');
      bool updateRequired = false;
      const FirmwareStatus result =
          CheckFWUpdateStatByOutpt(0, buffer.data(), static_cast<uint32_t>(report.size()), true,
                                   &updateRequired, leaveOut, 1, false);
      if (result != expected) ++*wrong;
    }
  };
  const std::string first = LongReport(300, "Failed to open device");
  const std::string second = LongReport(211, "N/A (Mixed versions)");
  int firstWrong = 0;
  int secondWrong = 0;
  std::thread other(countWrongResults, std::cref(second), kFwMixedVersions, &secondWrong);
  countWrongResults(first, kFwOpenFailed, &firstWrong);
  other.join();
  EXPECT_EQ(firstWrong, 0);
  EXPECT_EQ(secondWrong, 0);
}

}  // namespace
