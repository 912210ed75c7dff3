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

// One report read as the check reads it: the parser's totals and the
// devices its walk handed to the view.
struct ReportReadout {
  FirmwareStatus result = kFwNoProblem;
  bool updateRequired = false;
  DeviceCounts counts;
  std::vector<DeviceView> devices;
};

inline ReportReadout ReadReport(std::string_view report, const DeviceFilter& filter,
                                bool update = false) {
  std::vector<char> text(report.begin(), report.end());
  text.push_back('\0');
  ReportViewBuilder view;
  ReportReading reading;
  reading.carriageReturnEndsLine = update;
  reading.sink = &view;
  ReportReadout readout;
  readout.result = ParseReport(0, text.data(), static_cast<uint32_t>(report.size()), filter,
                               reading, &readout.updateRequired, &readout.counts);
  readout.devices = view.Take();
  return readout;
}

// Empty when the parser's totals follow from the examined devices' entries
// (the first problem in device order, any update required, the counts),
// else what differs.
inline std::string ViewDisagreement(std::string_view report, const DeviceFilter& filter,
                                    bool update = false) {
  const ReportReadout readout = ReadReport(report, filter, update);
  FirmwareStatus viewResult = kFwNoProblem;
  bool viewUpdateRequired = false;
  uint32_t examined = 0;
  for (const DeviceView& device : readout.devices) {
    if (!device.examined()) continue;
    ++examined;
    if (viewResult == kFwNoProblem) viewResult = device.firstProblem();
    viewUpdateRequired = viewUpdateRequired || device.reports(kFwUpdateRequired);
  }
  std::string differences;
  auto compare = [&differences](const char* what, long parser, long viewed) {
    if (parser != viewed) {
      differences += std::string(what) + ": parser " + std::to_string(parser) + ", view " +
                     std::to_string(viewed) + "; ";
    }
  };
  compare("result", readout.result, viewResult);
  compare("update required", readout.updateRequired, viewUpdateRequired);
  compare("devices reported", readout.counts.reported, static_cast<long>(readout.devices.size()));
  compare("devices examined", readout.counts.examined, examined);
  return differences;
}

}  // namespace testing_support
