// The report view against the parser on one report: both must tell the same
// story. Shared by the unit tests and the parser's fuzz target.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "firmware/parser.h"
#include "firmware/report_view.h"

namespace testing_support {

// A fuzz input: one line of options, then the report. Byte 0 'O' turns the
// OEM filter on; byte 1 'S' makes the list the supported parts (else the
// parts to leave out); the rest of the line is the list, entries separated
// by '|', no entry when it is empty.
struct FuzzInput {
  bool oemFilter = false;
  bool supportedList = false;
  std::vector<std::string> partNumbers;
  std::string_view report;
};

inline FuzzInput DecodeFuzzInput(std::string_view input) {
  const size_t lineEnd = input.find('\n');
  const std::string_view options = input.substr(0, lineEnd);
  FuzzInput decoded;
  decoded.oemFilter = options.size() > 0 && options[0] == 'O';
  decoded.supportedList = options.size() > 1 && options[1] == 'S';
  std::string_view list = options.size() > 2 ? options.substr(2) : std::string_view();
  while (!list.empty()) {
    const size_t bar = list.find('|');
    decoded.partNumbers.emplace_back(list.substr(0, bar));
    if (bar == std::string_view::npos) break;
    list.remove_prefix(bar + 1);
    if (list.empty()) decoded.partNumbers.emplace_back();
  }
  if (lineEnd != std::string_view::npos) decoded.report = input.substr(lineEnd + 1);
  return decoded;
}

// Empty when the view agrees with the parser on `report`, else what differs.
inline std::string ViewDisagreement(std::string_view report, const DeviceFilter& filter) {
  std::vector<char> text(report.begin(), report.end());
  text.push_back('\0');
  bool updateRequired = false;
  DeviceCounts counts;
  FirmwareStatus result = CheckFWUpdateStatByOutpt(
      0, text.data(), static_cast<uint32_t>(report.size()), filter.oemFilter, &updateRequired,
      filter.partNumbers, filter.count, filter.supportedList, &counts);

  ReportView view = ViewReport(report, filter);
  DeviceView beforeDevices;
  beforeDevices.statuses = view.statusesBeforeDevices;
  FirmwareStatus viewResult = beforeDevices.firstProblem();
  bool viewUpdateRequired = beforeDevices.reports(kFwUpdateRequired);
  uint32_t examined = 0;
  for (const DeviceView& device : view.devices) {
    if (viewResult == kFwNoProblem) viewResult = device.firstProblem();
    viewUpdateRequired = viewUpdateRequired || device.reports(kFwUpdateRequired);
    if (device.examined()) ++examined;
  }
  std::string differences;
  auto compare = [&differences](const char* what, long parser, long viewed) {
    if (parser != viewed) {
      differences += std::string(what) + ": parser " + std::to_string(parser) + ", view " +
                     std::to_string(viewed) + "; ";
    }
  };
  compare("result", result, viewResult);
  compare("update required", updateRequired, viewUpdateRequired);
  compare("devices reported", counts.reported, static_cast<long>(view.devices.size()));
  compare("devices examined", counts.examined, examined);
  return differences;
}

}  // namespace testing_support
