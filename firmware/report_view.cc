#include "firmware/report_view.h"

#include <algorithm>

namespace {

constexpr std::string_view kDevicePrefix = "Device #";
constexpr std::string_view kStatusPrefix = "  Status";
constexpr std::string_view kPartNumberPrefix = "  Part Number";
constexpr std::string_view kPsidPrefix = "  PSID";
// Where the parser takes a status or PSID text from: the label's last letter on.
constexpr size_t kValueIndex = 7;

bool StartsWith(std::string_view line, std::string_view prefix) {
  return line.substr(0, prefix.size()) == prefix;
}

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// What follows a label: its colon and the white space around the value dropped.
std::string ValueAfter(std::string_view line, std::string_view label) {
  std::string_view value = line.substr(label.size());
  if (!value.empty() && value.front() == ':') value.remove_prefix(1);
  while (!value.empty() && IsWhiteSpace(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsWhiteSpace(value.back())) value.remove_suffix(1);
  return std::string(value);
}

// The parser's PSID text: empty when the line ends before the value index.
const char* PsidText(const std::string& line) {
  return line.size() < kValueIndex ? "" : line.c_str() + kValueIndex;
}

class ViewBuilder {
 public:
  explicit ViewBuilder(const DeviceFilter& filter) : filter_(filter) {}

  void Take(std::string_view line) {
    if (StartsWith(line, kDevicePrefix)) {
      view_.devices.emplace_back();
      view_.devices.back().index = static_cast<uint32_t>(view_.devices.size());
      leftOut_ = false;
      return;
    }
    if (leftOut_) return;
    if (StartsWith(line, kStatusPrefix)) {
      TakeStatus(std::string(line));
    } else if (StartsWith(line, kPartNumberPrefix)) {
      TakePartNumber(std::string(line));
    } else if (StartsWith(line, kPsidPrefix)) {
      TakePsid(std::string(line));
    }
  }

  ReportView Finish() { return std::move(view_); }

 private:
  DeviceView* Current() { return view_.devices.empty() ? nullptr : &view_.devices.back(); }

  void TakeStatus(const std::string& line) {
    FirmwareStatus code = StatusOfText(line.c_str() + kValueIndex);
    DeviceView* device = Current();
    if (device == nullptr) {
      view_.statusesBeforeDevices.push_back(code);
      return;
    }
    if (!device->statusText) device->statusText = ValueAfter(line, kStatusPrefix);
    device->statuses.push_back(code);
  }

  void TakePartNumber(const std::string& line) {
    DeviceView* device = Current();
    if (device != nullptr && !device->partNumber) {
      device->partNumber = ValueAfter(line, kPartNumberPrefix);
    }
    if (PartNumberLeavesOut(line.c_str(), filter_)) LeaveOut(LeftOutBy::kPartNumberList);
  }

  void TakePsid(const std::string& line) {
    DeviceView* device = Current();
    if (device != nullptr && !device->psid) device->psid = ValueAfter(line, kPsidPrefix);
    if (filter_.oemFilter && IsOemPsid(PsidText(line))) LeaveOut(LeftOutBy::kOemFilter);
  }

  // The rest of the block is not read; lines before the first device are
  // left out without a device to mark.
  void LeaveOut(LeftOutBy reason) {
    leftOut_ = true;
    if (DeviceView* device = Current()) device->leftOutBy = reason;
  }

  const DeviceFilter& filter_;
  ReportView view_;
  bool leftOut_ = false;
};

}  // namespace

FirmwareStatus DeviceView::firstProblem() const {
  for (FirmwareStatus code : statuses) {
    if (code != kFwUpdateRequired && code != kFwUpToDate) return code;
  }
  return kFwNoProblem;
}

bool DeviceView::reports(FirmwareStatus code) const {
  return std::find(statuses.begin(), statuses.end(), code) != statuses.end();
}

ReportView ViewReport(std::string_view text, const DeviceFilter& filter) {
  ViewBuilder builder(filter);
  while (!text.empty()) {
    size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    builder.Take(line.substr(0, line.find('\0')));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return builder.Finish();
}

const char* LeftOutByText(LeftOutBy leftOutBy) {
  switch (leftOutBy) {
    case LeftOutBy::kPartNumberList:
      return "part-number list";
    case LeftOutBy::kOemFilter:
      return "OEM filter";
    case LeftOutBy::kNothing:
      break;
  }
  return nullptr;
}
