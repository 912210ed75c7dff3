// fwcheck: the firmware check as a command.
//
//   fwcheck [--update] [--oem-filter] [--supported PN]... [--skip PN]...
//           [--timeout SECONDS] [--debuglog FILE] [--json] [--detailed-exitcode]
//           [--] TOOL_DIR
//   fwcheck --help | --version
//
// Exit codes: 0 the check ran and gave an answer; 1 the check failed (the
// reason is on standard error); 2 bad usage. With --detailed-exitcode an
// answer gives 0, 3 or 4 (see DetailedExitCode).
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/number_text.h"
#include "common/version.h"
#include "firmware/fwcheck_options.h"
#include "firmware/invocation.h"
#include "platform/command_line.h"
#include "platform/os.h"
#include "setup/debug_log.h"

namespace {

constexpr int kExitCheckRan = 0;
constexpr int kExitCheckFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUpdateRequiredOrMade = 3;
constexpr int kExitDeviceProblem = 4;

// The version of the --json object's members and their meanings.
constexpr int kJsonFormatVersion = 1;

constexpr char kUsage[] =
    "usage: fwcheck [--update] [--oem-filter] [--supported PN]... [--skip PN]...\n"
    "               [--timeout SECONDS] [--debuglog FILE] [--json] [--detailed-exitcode]\n"
    "               [--] TOOL_DIR\n"
    "       fwcheck --help | --version\n"
    "Runs TOOL_DIR\\flashkeeper.exe (query mode unless --update) and reports whether\n"
    "a firmware update is required. --supported keeps only devices whose part number\n"
    "line holds one of the given texts; --skip leaves those devices out (not both).\n"
    "--oem-filter leaves out devices whose PSID does not begin with \"QV_\".\n"
    "--timeout ends the tool after SECONDS in query mode (never in update mode).\n"
    "Exit codes: 0 the check ran, 1 the check failed, 2 bad usage; with\n"
    "--detailed-exitcode a check that ran gives 0 nothing to do, 3 an update is\n"
    "required (query) or was made (update), 4 a device reported a problem (query).\n";

// What was found, or why there is no answer.
struct Verdict {
  const FirmwareCheckReport* report = nullptr;  // null: nothing ran
  std::string reason;                           // empty: the check gave an answer
  bool failed() const { return !reason.empty(); }
};

// Whether --json comes before the options end: even bad usage then gets its object.
bool AsksForJson(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) return true;
  }
  return false;
}

const char* StatusMeaning(const Options& options, const Verdict& verdict) {
  static const char* const kMeanings[] = {
      "no problem seen",
      "an update was reported",
      "an update is required",
      "the tool's command line did not build",
      "up to date",
      "a device failed to open",
      "no matching image found",
      "multiple image files found",
      "a forced update is required",
      "mixed versions",
      "unknown status message",
  };
  if (verdict.failed()) return "not determined";
  const FirmwareCheckReport& report = *verdict.report;
  // In update mode the status tells only whether an update was reported.
  if (options.update && report.status == kFwNoProblem && ExaminedDeviceReportsProblem(report)) {
    return "no update was reported, and a device reported a problem";
  }
  int32_t status = report.status;
  return status >= 0 && status <= 10 ? kMeanings[status] : "unknown status";
}

// One JSON object, its members appended in order. (Appended rather than
// joined with +: the temporaries of long chains of + grew the program.)
class JsonObject {
 public:
  JsonObject& Null(const char* name) { return Raw(name, "null"); }
  JsonObject& Bool(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }
  JsonObject& Number(const char* name, const std::string& digits) {
    return Raw(name, digits.c_str());
  }
  // `text` as a JSON string; null when there is none.
  JsonObject& Text(const char* name, const char* text) {
    if (text == nullptr) return Null(name);
    Name(name);
    AppendQuoted(text);
    return *this;
  }
  JsonObject& Text(const char* name, const std::optional<std::string>& text) {
    return Text(name, text ? text->c_str() : nullptr);
  }
  JsonObject& Raw(const char* name, const char* json) {
    Name(name);
    text_ += json;
    return *this;
  }
  std::string Close() {
    text_ += '}';
    return std::move(text_);
  }

 private:
  void Name(const char* name) {
    text_ += text_.size() > 1 ? ", \"" : "\"";
    text_ += name;
    text_ += "\": ";
  }
  void AppendQuoted(const char* text) {
    static const char kHexDigits[] = "0123456789abcdef";
    text_ += '"';
    for (const char* c = text; *c != '\0'; ++c) {
      unsigned char byte = static_cast<unsigned char>(*c);
      if (byte == '"' || byte == '\\') {
        text_ += '\\';
        text_ += *c;
      } else if (byte < 0x20) {
        text_ += "\\u00";
        text_ += kHexDigits[byte >> 4];
        text_ += kHexDigits[byte & 0xF];
      } else {
        text_ += *c;
      }
    }
    text_ += '"';
  }

  std::string text_ = "{";
};

std::string JsonDevice(const DeviceView& device) {
  JsonObject json;
  json.Number("index", NumberText(device.index))
      .Text("part_number", device.partNumber)
      .Text("psid", device.psid)
      .Text("status_text", device.statusText);
  if (device.statuses.empty()) {
    json.Null("status");
  } else {
    json.Number("status", NumberText(device.status()));
  }
  return json.Bool("examined", device.examined())
      .Text("left_out_by", LeftOutByText(device.leftOutBy))
      .Close();
}

std::string JsonDevices(const FirmwareCheckReport* report) {
  if (report == nullptr) return "null";
  std::string devices = "[";
  for (const DeviceView& device : report->devices) {
    if (devices.size() > 1) devices += ", ";
    devices += JsonDevice(device);
  }
  devices += ']';
  return devices;
}

void PrintJson(const Options& options, const Verdict& verdict) {
  const FirmwareCheckReport* report = verdict.report;
  JsonObject json;
  json.Number("format_version", NumberText(kJsonFormatVersion));
  if (report != nullptr) {
    json.Number("status", NumberText(report->status))
        .Text("status_meaning", StatusMeaning(options, verdict))
        .Number("result", NumberText(report->result))
        .Text("result_meaning", FirmwareResultMeaning(report->result));
  } else {
    json.Null("status")
        .Text("status_meaning", "not determined")
        .Null("result")
        .Null("result_meaning");
  }
  json.Text("mode", options.update ? "update" : "query");
  if (report != nullptr && report->toolExitCodeKnown) {
    json.Number("tool_exit_code", NumberText(report->toolExitCode));
  } else {
    json.Null("tool_exit_code");
  }
  if (report != nullptr) {
    json.Number("devices_reported", NumberText(report->devicesReported))
        .Number("devices_examined", NumberText(report->devicesExamined));
  } else {
    json.Null("devices_reported").Null("devices_examined");
  }
  json.Bool("failed", verdict.failed())
      .Text("reason", verdict.failed() ? verdict.reason.c_str() : nullptr)
      .Raw("devices", JsonDevices(report).c_str());
  std::string line = json.Close();
  line += '\n';
  std::fputs(line.c_str(), stdout);
}

// Writes the pieces to standard output, one after another.
void Print(std::initializer_list<std::string_view> pieces) {
  for (std::string_view piece : pieces) std::fwrite(piece.data(), 1, piece.size(), stdout);
}

std::string_view ValueOrNone(const std::optional<std::string>& value) {
  return value && !value->empty() ? std::string_view(*value) : "(none)";
}

// One line for a device: what it said and what was decided about it.
void PrintDevice(const DeviceView& device) {
  Print({"device ", NumberText(device.index), ": part number ", ValueOrNone(device.partNumber),
         ", PSID ", ValueOrNone(device.psid)});
  if (device.statusText) {
    Print({", status \"", *device.statusText, "\" (", NumberText(device.status()), ")"});
  } else {
    Print({", no status"});
  }
  if (device.examined()) {
    Print({", examined\n"});
  } else {
    Print({", left out by the ", LeftOutByText(device.leftOutBy), "\n"});
  }
}

void PrintText(const Options& options, const Verdict& verdict) {
  const FirmwareCheckReport& report = *verdict.report;
  Print({"status: ", NumberText(report.status), " (", StatusMeaning(options, verdict),
         ")\nresult: ", NumberText(report.result), " (", FirmwareResultMeaning(report.result),
         ")\n"});
  if (report.toolExitCodeKnown) Print({"tool exit code: ", NumberText(report.toolExitCode), "\n"});
  Print({"devices: ", NumberText(report.devicesReported), " reported, ",
         NumberText(report.devicesExamined), " examined\n"});
  for (const DeviceView& device : report.devices) PrintDevice(device);
}

// --detailed-exitcode: the answer's status as an exit code. It follows the
// status reported, so an update required wins over another device's problem.
int DetailedExitCode(const Options& options, const FirmwareCheckReport& report) {
  if (options.update)
    return report.status == kFwUpdated ? kExitUpdateRequiredOrMade : kExitCheckRan;
  if (report.status == kFwUpdateRequired) return kExitUpdateRequiredOrMade;
  if (report.status >= kFwOpenFailed && report.status <= kFwUnknownStatus)
    return kExitDeviceProblem;
  return kExitCheckRan;
}

// Prints the verdict and gives the exit code.
int Conclude(const Options& options, const Verdict& verdict, int failureExitCode) {
  if (options.json) {
    PrintJson(options, verdict);
  } else if (verdict.report != nullptr) {
    PrintText(options, verdict);
  }
  if (verdict.failed()) {
    std::fputs(("fwcheck: " + verdict.reason + "\n").c_str(), stderr);
    return failureExitCode;
  }
  const FirmwareCheckReport& report = *verdict.report;
  // Not the same as "all up to date": the filters left nothing to look at.
  if (report.devicesReported > 0 && report.devicesExamined == 0) {
    std::fputs(("fwcheck: the report held " + NumberText(report.devicesReported) +
                " devices, and the part-number list or the OEM filter left out every one\n")
                   .c_str(),
               stderr);
  }
  return options.detailedExitCode ? DetailedExitCode(options, report) : kExitCheckRan;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything may load a DLL: never from the program's own folder.
  os::RestrictDllSearch();
  os::ProgramArguments arguments(argc, argv);
  argc = arguments.count();
  argv = arguments.values();
  if (!arguments.exact()) {
    Options options;
    options.json = AsksForJson(argc, argv);
    Verdict verdict;
    verdict.reason = "an argument holds a character that this system's code page cannot hold";
    return Conclude(options, verdict, kExitUsage);
  }
  Options options;
  OptionParser parser(argc, argv, &options);
  if (!parser.Parse()) {
    options.json = AsksForJson(argc, argv);
    Verdict verdict;
    verdict.reason = parser.error();
    int exitCode = Conclude(options, verdict, kExitUsage);
    std::fputs(kUsage, stderr);
    return exitCode;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitCheckRan;
  }
  if (options.version) {
    std::fputs("fwcheck " SETUP_VERSION_TEXT "\n", stdout);
    return kExitCheckRan;
  }
  if (options.debugLog != nullptr && !OpenDebugLog(options.debugLog)) {
    Verdict verdict;
    verdict.reason = "the debug log could not be opened";
    return Conclude(options, verdict, kExitCheckFailed);
  }
  bool supportedList = !options.supported.empty();
  const std::vector<const char*>& list = supportedList ? options.supported : options.skipped;
  FirmwareCheckRequest request =
      CheckRequestFor(options.toolDirectory, options.update, options.oemFilter, list.data(),
                      static_cast<int32_t>(list.size()), supportedList);
  request.timeoutMs = options.timeoutMs;
  request.shareConsole = true;
  FirmwareCheckReport report;
  RunFirmwareCheck(0, request, &report);
  CloseDebugLog();
  Verdict verdict;
  verdict.report = &report;
  verdict.reason = FirmwareCheckFailureReason(request, report);
  return Conclude(options, verdict, kExitCheckFailed);
}
