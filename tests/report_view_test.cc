#include "firmware/report_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/report_agreement.h"
#include "tests/test_support.h"

namespace {

// Device 2 states its status before its part number; device 3 is a reseller's;
// device 4 reports a problem between "Up to date" and "Update required".
const char kReport[] =
    "Querying devices...\r\n"
    "  Status: Rebooting\n"
    "Device #1:\n"
    "  Part Number:   VN2-4420-A\n"
    "  PSID:          QV_0017\n"
    "  Status:        Update required \r\n"
    "Device #2:\n"
    "  Status:        Failed to open device\n"
    "  Part Number:   VN2-4410-B\n"
    "  Status:        Up to date\n"
    "Device #3:\n"
    "  PSID:\tRS_0003\n"
    "  Part Number:   VN2-4410-B\n"
    "  Status:        No matching image found\n"
    "Device #4:\n"
    "  Status:        Up to date\n"
    "  Part Number:   VN2-4420-C\n"
    "  Status:        Failed to open device\n"
    "  Status:        Update required\n"
    "Device #5:\n"
    "  Part Number:";

// A device in one line: part number|PSID|status text|statuses|left out by.
std::string Described(const DeviceView& device) {
  const ReportedStatus* shown = device.shown();
  std::string line = device.partNumber.value_or("-") + "|" + device.psid.value_or("-") + "|" +
                     (shown != nullptr ? shown->text : "-") + "|";
  for (const ReportedStatus& status : device.statuses) line += std::to_string(status.code) + " ";
  const char* leftOutBy = LeftOutByText(device.leftOutBy);
  return line + "|" + (leftOutBy ? leftOutBy : "-");
}

TEST(ReportViewTest, TellsWhatEachDeviceSaidAndWhatWasDecided) {
  const char* const notVn2_4410[] = {"VN2-4410"};
  const std::string kDevice4 = "VN2-4420-C|-|Failed to open device|4 5 2 |-";
  struct Case {
    const char* name;
    DeviceFilter filter;
    std::vector<std::string> devices;
  };
  // clang-format off
  const Case cases[] = {
      {"all examined",
       {},
       {"VN2-4420-A|QV_0017|Update required|2 |-", "VN2-4410-B|-|Failed to open device|5 4 |-",
        "VN2-4410-B|RS_0003|No matching image found|6 |-", kDevice4, "|-|-||-"}},
      {"left out by part number after a status; lines after the decision unread",
       {false, notVn2_4410, 1, false},
       {"VN2-4420-A|QV_0017|Update required|2 |-",
        "VN2-4410-B|-|Failed to open device|5 |part-number list",
        "VN2-4410-B|RS_0003|-||part-number list", kDevice4, "|-|-||-"}},
      {"OEM filter",
       {true, nullptr, 0, false},
       {"VN2-4420-A|QV_0017|Update required|2 |-", "VN2-4410-B|-|Failed to open device|5 4 |-",
        "-|RS_0003|-||OEM filter", kDevice4, "|-|-||-"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> devices;
    for (const DeviceView& device : testing_support::ReadReport(kReport, c.filter).devices) {
      EXPECT_EQ(device.index, devices.size() + 1);
      devices.push_back(Described(device));
    }
    EXPECT_EQ(devices, c.devices);
    EXPECT_EQ(testing_support::ViewDisagreement(kReport, c.filter), "");
  }
}

// The view and the parser agree on every input of the parser's fuzz corpus, in both modes.
TEST(ReportViewTest, AgreesWithTheParserOnTheFuzzCorpus) {
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(PARSER_FUZZ_CORPUS)) {
    std::string input = testing_support::ReadFile(entry.path().string());
    testing_support::FuzzInput decoded = testing_support::DecodeFuzzInput(input);
    std::vector<const char*> parts;
    for (const std::string& part : decoded.partNumbers) parts.push_back(part.c_str());
    DeviceFilter filter{decoded.oemFilter, parts.data(), static_cast<int32_t>(parts.size()),
                        decoded.supportedList};
    for (bool update : {false, true}) {
      EXPECT_EQ(testing_support::ViewDisagreement(decoded.report, filter, update), "")
          << entry.path();
    }
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

// Reports made of the lines a parser must tell apart, in random order.
TEST(ReportViewTest, AgreesWithTheParserOnRandomReports) {
  // clang-format off
  const std::string pieces[] = {
      "Device #", "Device #7:", "device #1", " Device #2", "  Status: Update required",
      "  Status: Up to date", "  Status: Failed to open device", "  Status: Forced update required",
      "  Status: spinning", "  Status", "  status: Update required", "  Part Number: VN2-4410-B",
      "  Part Number: VN2-4420-A", "  Part Number", "  PSID: QV_0001", "  PSID:\t RS_0002",
      "  PSID", "  PSID: qv_3", "", "\r", "  Status: Up to date\r  Part Number: VN2-4420-A",
      std::string("  Status: \0Update required", 26), "junk",
  };
  // clang-format on
  const char* const lists[][2] = {{"VN2-4410", "4420"}, {"", "VN2-44"}, {"4420", ""}};
  std::mt19937 random(20261208);
  for (int round = 0; round < 3000; ++round) {
    std::string report;
    for (int line = random() % 24; line > 0; --line) {
      report += pieces[random() % std::size(pieces)];
      if (random() % 8 != 0 || line > 1) report += '\n';
    }
    const char* const* list = lists[random() % std::size(lists)];
    DeviceFilter filter{random() % 2 == 0, list, static_cast<int32_t>(random() % 3),
                        random() % 2 == 0};
    ASSERT_EQ(testing_support::ViewDisagreement(report, filter, random() % 2 == 0), "") << report;
  }
}

}  // namespace
