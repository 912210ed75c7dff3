// Feeds arbitrary reports, device filters and part-number lists through the
// report parser. An input is one line of options, then the report:
//   byte 0 'O' turns the OEM filter on; byte 1 'S' makes the list the
//   supported parts (else the parts to leave out); the rest of the line is
//   the list, entries separated by '|', no entry when it is empty.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/parser.h"

namespace {

struct FuzzInput {
  bool oemFilter = false;
  bool supportedList = false;
  std::vector<std::string> partNumbers;
  std::string_view report;
};

std::vector<std::string> SplitList(std::string_view list) {
  std::vector<std::string> entries;
  if (list.empty()) return entries;
  for (;;) {
    const size_t bar = list.find('|');
    entries.emplace_back(list.substr(0, bar));
    if (bar == std::string_view::npos) return entries;
    list.remove_prefix(bar + 1);
  }
}

FuzzInput Decode(std::string_view input) {
  const size_t lineEnd = input.find('\n');
  const std::string_view options = input.substr(0, lineEnd);
  FuzzInput decoded;
  decoded.oemFilter = options.size() > 0 && options[0] == 'O';
  decoded.supportedList = options.size() > 1 && options[1] == 'S';
  decoded.partNumbers = SplitList(options.size() > 2 ? options.substr(2) : std::string_view());
  if (lineEnd != std::string_view::npos) decoded.report = input.substr(lineEnd + 1);
  return decoded;
}

bool IsParserResult(FirmwareStatus status) {
  return status == kFwNoProblem || (status >= kFwOpenFailed && status <= kFwUnknownStatus);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Messages are built and written as in a logged run, and go nowhere.
  OpenDebugLog("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const FuzzInput input = Decode(std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<const char*> partNumbers;
  for (const std::string& entry : input.partNumbers) partNumbers.push_back(entry.c_str());

  // Exactly length + 1 bytes, so that any access beyond them is reported.
  const uint32_t length = static_cast<uint32_t>(input.report.size());
  std::unique_ptr<char[]> text(new char[length + 1]);
  input.report.copy(text.get(), length);
  text[length] = '\x7f';

  bool updateRequired = true;
  DeviceCounts counts;
  const FirmwareStatus result = CheckFWUpdateStatByOutpt(
      0, text.get(), length, input.oemFilter, &updateRequired, partNumbers.data(),
      static_cast<int32_t>(partNumbers.size()), input.supportedList, &counts);
  if (!IsParserResult(result)) std::abort();
  // Never more devices examined than reported, nor more reported than lines.
  if (counts.examined > counts.reported || counts.reported > length / 8 + 1) std::abort();
  return 0;
}
