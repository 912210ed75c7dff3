#include "firmware/parser.h"

#include <cstring>

#include "firmware/report_format.h"

namespace {

using namespace report_format;

struct KnownStatus {
  const char* text;
  FirmwareStatus code;
  const char* message;  // nullptr: nothing is logged
};

// Searched in this order; the first text found decides.
constexpr KnownStatus kKnownStatuses[] = {
    {"Update required", kFwUpdateRequired,
     "GetStatusByMsg: found one device that should be updated [1] "},
    {"Failed to open device", kFwOpenFailed,
     "GetStatusByMsg: found one device that has failure [1] "},
    {"No matching image found", kFwNoMatchingImage,
     "GetStatusByMsg: found one device that has no image  [1] "},
    {"Multiple images files found", kFwMultipleImages,
     "GetStatusByMsg: found one device that has multiple images [1] "},
    {"Forced update required", kFwForcedUpdateRequired,
     "GetStatusByMsg: found one device that force update is required [1] "},
    {"N/A (Mixed versions)", kFwMixedVersions,
     "GetStatusByMsg: found one device that has mixed version [1] "},
    {"Up to date", kFwUpToDate, nullptr},
};
constexpr KnownStatus kUnknownStatus{"", kFwUnknownStatus,
                                     "GetStatusByMsg: Unknown status message [1] "};

const KnownStatus& FindKnownStatus(const char* status) {
  for (const KnownStatus& known : kKnownStatuses) {
    if (std::strstr(status, known.text) != nullptr) return known;
  }
  return kUnknownStatus;
}

// What the examined devices reported so far.
struct Findings {
  FirmwareStatus firstProblem = kFwNoProblem;
  bool updateRequired = false;
  uint32_t devices = 0;
  uint32_t devicesLeftOut = 0;
};

// What the block being read reported: it counts only once the block has
// ended without being left out.
struct Block {
  bool isDevice = false;  // false before the first "Device #" line
  FirmwareStatus firstProblem = kFwNoProblem;
  bool updateRequired = false;
};

// A plain loop: most lines differ within the first bytes, and a library call
// per line and prefix costs more than the comparison.
bool StartsWith(const char* line, const char* prefix) {
  while (*prefix != '\0' && *line == *prefix) {
    ++line;
    ++prefix;
  }
  return *prefix == '\0';
}

// Bytes 128 and above are never white space, whatever the locale says.
bool IsWhiteSpace(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

char* CutLineAt(LineCursor& cursor, char* text, uint32_t start, uint32_t length) {
  char* line = text + start;
  char* end = static_cast<char*>(std::memchr(line, '\n', length - start));
  if (end == nullptr) end = text + length;
  if (cursor.carriageReturnEndsLine) {
    char* carriageReturn =
        static_cast<char*>(std::memchr(line, '\r', static_cast<size_t>(end - line)));
    if (carriageReturn != nullptr) end = carriageReturn;
  }
  *end = '\0';
  cursor.position = static_cast<uint32_t>(end - text);
  return line;
}

// A "  PSID" line shorter than the value index has an empty PSID.
const char* PsidText(const char* psidLine) {
  return psidLine[kValueIndex - 1] == '\0' ? "" : psidLine + kValueIndex;
}

void RecordStatus(FirmwareStatus code, Block& block) {
  if (code == kFwUpdateRequired) {
    block.updateRequired = true;
  } else if (IsProblemStatus(code) && block.firstProblem == kFwNoProblem) {
    block.firstProblem = code;
  }
}

// A device's block has ended without being left out: what it said counts.
void Commit(const Block& block, Findings& findings) {
  if (!block.isDevice) return;
  if (findings.firstProblem == kFwNoProblem) findings.firstProblem = block.firstProblem;
  findings.updateRequired = findings.updateRequired || block.updateRequired;
}

// Applies the rule of the line's prefix; what leaves the rest of the device
// out, or LeftOutBy::kNothing.
LeftOutBy ExamineLine(LogHandle handle, const char* line, const DeviceFilter& filter, Block& block,
                      DeviceSink* sink) {
  if (!block.isDevice) sink = nullptr;
  if (StartsWith(line, kStatusPrefix)) {
    const FirmwareStatus code = GetStatusByMsg(handle, line + kValueIndex);
    RecordStatus(code, block);
    if (sink != nullptr) sink->StatusRead(line, code);
    return LeftOutBy::kNothing;
  }
  if (StartsWith(line, kPartNumberPrefix)) {
    if (sink != nullptr) sink->PartNumberRead(line);
    if (!PartNumberLeavesOut(line, filter)) return LeftOutBy::kNothing;
    LogMessage(handle,
               "CheckFWUpdateStatByOutpt: Device is not found in the supported devices list. "
               "Skipping to the next device.");
    return LeftOutBy::kPartNumberList;
  }
  if (StartsWith(line, kPsidPrefix)) {
    if (sink != nullptr) sink->PsidRead(line);
    if (!filter.oemFilter || !IsOemPsid(PsidText(line))) return LeftOutBy::kNothing;
    LogMessage(handle, "CheckFWUpdateStatByOutpt: Found  OEM device skipping to the next device  ");
    return LeftOutBy::kOemFilter;
  }
  return LeftOutBy::kNothing;
}

// A "Device #" line: the block before it has ended, a new one begins.
void OpenDevice(Block& block, Findings& findings, DeviceSink* sink) {
  Commit(block, findings);
  block = Block{true};
  ++findings.devices;
  if (sink != nullptr) sink->DeviceOpened();
}

}  // namespace

char* NextLine(LineCursor& cursor, const char* previousLine, char* text, uint32_t length) {
  if (text == nullptr || length == 0) return nullptr;
  if (previousLine == nullptr) return CutLineAt(cursor, text, 0, length);
  // Compared before adding so a cursor at the largest length cannot wrap.
  if (cursor.position >= length - 1) return nullptr;
  return CutLineAt(cursor, text, cursor.position + 1, length);
}

char* NextLineWithPrefix(LineCursor& cursor, const char* currentLine, char* text, uint32_t length,
                         const char* prefix) {
  if (currentLine == nullptr) return nullptr;
  for (char* line = NextLine(cursor, currentLine, text, length); line != nullptr;
       line = NextLine(cursor, line, text, length)) {
    if (StartsWith(line, prefix)) return line;
  }
  return nullptr;
}

bool IsOemPsid(const char* psid) {
  while (IsWhiteSpace(*psid)) ++psid;
  return !StartsWith(psid, kMakerPsidPrefix);
}

bool PartNumberLeavesOut(const char* line, const DeviceFilter& filter) {
  bool listed = false;
  for (int32_t i = 0; i < filter.count && !listed; ++i) {
    listed = std::strstr(line, filter.partNumbers[i]) != nullptr;
  }
  return listed != filter.supportedList;
}

FirmwareStatus StatusOfText(const char* status) { return FindKnownStatus(status).code; }

FirmwareStatus GetStatusByMsg(LogHandle handle, const char* status) {
  const KnownStatus& known = FindKnownStatus(status);
  if (known.message != nullptr) LogMessageParam(handle, known.message, status);
  return known.code;
}

FirmwareStatus CheckFWUpdateStatByOutpt(LogHandle handle, char* text, uint32_t length,
                                        bool oemFilter, bool* updateRequired,
                                        const char* const* partNumbers, int32_t count,
                                        bool supportedList) {
  DeviceCounts counts;
  return ParseReport(handle, text, length,
                     DeviceFilter{oemFilter, partNumbers, count, supportedList}, ReportReading{},
                     updateRequired, &counts);
}

FirmwareStatus ParseReport(LogHandle handle, char* text, uint32_t length,
                           const DeviceFilter& filter, const ReportReading& reading,
                           bool* updateRequired, DeviceCounts* counts) {
  *updateRequired = false;
  LogMessage(handle, "CheckFWUpdateStatByOutpt: start parsing output ");
  Findings findings;
  Block block;
  LineCursor cursor;
  cursor.carriageReturnEndsLine = reading.carriageReturnEndsLine;
  char* line = NextLine(cursor, nullptr, text, length);
  for (;;) {
    LogMessageParam(handle, "parsing line [1]", line != nullptr ? line : "");
    if (line == nullptr) break;
    if (StartsWith(line, kDevicePrefix)) OpenDevice(block, findings, reading.sink);
    const LeftOutBy leftOutBy = ExamineLine(handle, line, filter, block, reading.sink);
    if (leftOutBy != LeftOutBy::kNothing) {
      if (block.isDevice) {
        ++findings.devicesLeftOut;
        if (reading.sink != nullptr) reading.sink->DeviceLeftOut(leftOutBy);
      }
      block = Block{};
      // The next device's "Device #" line is passed over like the rest.
      line = NextLineWithPrefix(cursor, line, text, length, kDevicePrefix);
      if (line == nullptr) break;
      OpenDevice(block, findings, reading.sink);
    }
    line = NextLine(cursor, line, text, length);
  }
  Commit(block, findings);
  *updateRequired = findings.updateRequired;
  counts->reported = findings.devices;
  counts->examined = findings.devices - findings.devicesLeftOut;
  LogMessage(handle, "CheckFWUpdateStatByOutpt: completed ");
  return findings.firstProblem;
}
