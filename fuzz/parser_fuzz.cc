// Feeds arbitrary reports, device filters and part-number lists through the
// report parser and its device-by-device view (input format: DecodeFuzzInput).
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/parser.h"
#include "tests/report_agreement.h"

namespace {

bool IsParserResult(FirmwareStatus status) {
  return status == kFwNoProblem || IsProblemStatus(status);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Messages are built and written as in a logged run, and go nowhere.
  OpenDebugLog("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const testing_support::FuzzInput input =
      testing_support::DecodeFuzzInput(std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<const char*> partNumbers;
  for (const std::string& entry : input.partNumbers) partNumbers.push_back(entry.c_str());

  // Exactly length + 1 bytes, so that any access beyond them is reported.
  const uint32_t length = static_cast<uint32_t>(input.report.size());
  std::unique_ptr<char[]> text(new char[length + 1]);
  input.report.copy(text.get(), length);
  text[length] = '\x7f';

  const DeviceFilter filter{input.oemFilter, partNumbers.data(),
                            static_cast<int32_t>(partNumbers.size()), input.supportedList};
  // Update mode (a carriage return ends a line too) when the report's length is odd.
  ReportReading reading;
  reading.carriageReturnEndsLine = length % 2 == 1;
  bool updateRequired = true;
  DeviceCounts counts;
  const FirmwareStatus result =
      ParseReport(0, text.get(), length, filter, reading, &updateRequired, &counts);
  if (!IsParserResult(result)) std::abort();
  // Never more devices examined than reported, nor more reported than lines.
  if (counts.examined > counts.reported || counts.reported > length / 8 + 1) std::abort();
  // The parser's totals must follow from the devices its walk handed on.
  if (!testing_support::ViewDisagreement(input.report, filter, reading.carriageReturnEndsLine)
           .empty()) {
    std::abort();
  }
  return 0;
}
