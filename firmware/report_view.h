// The tool's report device by device: what each "Device #" block said and
// what the check decided about it. It reads the report by the same rules as
// CheckFWUpdateStatByOutpt, but leaves the text as it is, so it can be taken
// before the parser cuts the text into lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/parser.h"

enum class LeftOutBy { kNothing, kPartNumberList, kOemFilter };

// One "Device #" block. Values come from the lines the check read: a line
// after the one that left the device out is not read. Each value is the text
// after its label and colon, without surrounding white space.
struct DeviceView {
  uint32_t index = 0;  // 1 for the first block
  std::optional<std::string> partNumber;
  std::optional<std::string> psid;
  std::optional<std::string> statusText;  // of the first status line read
  // The codes of every status line read, in order; the first is the device's status.
  std::vector<FirmwareStatus> statuses;
  LeftOutBy leftOutBy = LeftOutBy::kNothing;

  bool examined() const { return leftOutBy == LeftOutBy::kNothing; }
  // kFwUpdateRequired, kFwUpToDate or a problem code; kFwNoProblem without a status line.
  FirmwareStatus status() const { return statuses.empty() ? kFwNoProblem : statuses.front(); }
  // The first problem code (5 to 10) among its status lines, or kFwNoProblem.
  FirmwareStatus firstProblem() const;
  bool reports(FirmwareStatus code) const;
};

struct ReportView {
  std::vector<DeviceView> devices;
  // Status lines before the first "Device #" line belong to no device, yet
  // the parser classifies them too.
  std::vector<FirmwareStatus> statusesBeforeDevices;
};

// `text` ends at its length, or at a NUL within a line as the parser's lines do.
ReportView ViewReport(std::string_view text, const DeviceFilter& filter);

// "part-number list", "OEM filter", or nullptr for an examined device.
const char* LeftOutByText(LeftOutBy leftOutBy);
