#include "firmware/report_view.h"

#include <algorithm>
#include <string_view>

#include "firmware/report_format.h"

namespace {

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// What follows a label: its colon and the white space around the value dropped.
std::string ValueAfter(std::string_view line, std::string_view label) {
  std::string_view value = line.substr(label.size());
  if (!value.empty() && value.front() == ':') value.remove_prefix(1);
  while (!value.empty() && IsWhiteSpace(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsWhiteSpace(value.back())) value.remove_suffix(1);
  return std::string(value);
}

}  // namespace

const ReportedStatus* DeviceView::shown() const {
  const ReportedStatus* updateRequired = nullptr;
  const ReportedStatus* upToDate = nullptr;
  for (const ReportedStatus& status : statuses) {
    if (IsProblemStatus(status.code)) return &status;
    if (status.code == kFwUpdateRequired && updateRequired == nullptr) updateRequired = &status;
    if (status.code == kFwUpToDate && upToDate == nullptr) upToDate = &status;
  }
  return updateRequired != nullptr ? updateRequired : upToDate;
}

FirmwareStatus DeviceView::firstProblem() const {
  const ReportedStatus* status = shown();
  return status != nullptr && IsProblemStatus(status->code) ? status->code : kFwNoProblem;
}

bool DeviceView::reports(FirmwareStatus code) const {
  return std::any_of(statuses.begin(), statuses.end(),
                     [code](const ReportedStatus& status) { return status.code == code; });
}

void ReportViewBuilder::DeviceOpened() {
  devices_.emplace_back();
  devices_.back().index = static_cast<uint32_t>(devices_.size());
}

void ReportViewBuilder::StatusRead(const char* line, FirmwareStatus code) {
  devices_.back().statuses.push_back({code, ValueAfter(line, report_format::kStatusPrefix)});
}

void ReportViewBuilder::PartNumberRead(const char* line) {
  std::optional<std::string>& partNumber = devices_.back().partNumber;
  if (!partNumber) partNumber = ValueAfter(line, report_format::kPartNumberPrefix);
}

void ReportViewBuilder::PsidRead(const char* line) {
  std::optional<std::string>& psid = devices_.back().psid;
  if (!psid) psid = ValueAfter(line, report_format::kPsidPrefix);
}

void ReportViewBuilder::DeviceLeftOut(LeftOutBy reason) { devices_.back().leftOutBy = reason; }

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
