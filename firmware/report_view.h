// The tool's report device by device: what each "Device #" block said and
// what the check decided about it, built from the parser's own walk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/parser.h"

// One status line of a device.
struct ReportedStatus {
  FirmwareStatus code;  // kFwUpdateRequired, kFwUpToDate or a problem code
  std::string text;     // after the label and its colon, without surrounding white space
};

// One "Device #" block. Values come from the lines the check read: a line
// after the one that left the device out is not read. Each value is the text
// after its label and colon, without surrounding white space.
struct DeviceView {
  uint32_t index = 0;  // 1 for the first block
  std::optional<std::string> partNumber;
  std::optional<std::string> psid;
  std::vector<ReportedStatus> statuses;  // every status line read, in order
  LeftOutBy leftOutBy = LeftOutBy::kNothing;

  bool examined() const { return leftOutBy == LeftOutBy::kNothing; }
  // The status the device stands for: its first problem, else its "Update
  // required", else its "Up to date"; null without a status line.
  const ReportedStatus* shown() const;
  // The first problem code (5 to 10) among its status lines, or kFwNoProblem.
  FirmwareStatus firstProblem() const;
  bool reports(FirmwareStatus code) const;
};

// Builds the devices of one report from the parser's walk (ParseReport's sink).
class ReportViewBuilder final : public DeviceSink {
 public:
  void DeviceOpened() override;
  void StatusRead(const char* line, FirmwareStatus code) override;
  void PartNumberRead(const char* line) override;
  void PsidRead(const char* line) override;
  void DeviceLeftOut(LeftOutBy reason) override;

  std::vector<DeviceView> Take() { return std::move(devices_); }

 private:
  std::vector<DeviceView> devices_;
};

// "part-number list", "OEM filter", or nullptr for an examined device.
const char* LeftOutByText(LeftOutBy leftOutBy);
