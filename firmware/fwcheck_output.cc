#include "firmware/fwcheck_output.h"

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "common/number_text.h"
#include "firmware/outcome.h"

namespace {

// The version of the --json object's members and their meanings.
constexpr int kJsonFormatVersion = 1;

constexpr char kNotDetermined[] = "not determined";

const char kHexDigits[] = "0123456789abcdef";
// In place of each byte that is not part of valid UTF-8.
constexpr uint32_t kReplacementCharacter = 0xFFFD;

void AppendUnicodeEscape(std::string* json, uint32_t unit) {
  *json += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) *json += kHexDigits[(unit >> shift) & 0xF];
}

void AppendAscii(std::string* json, unsigned char byte) {
  if (byte == '"' || byte == '\\') {
    *json += '\\';
    *json += static_cast<char>(byte);
  } else if (byte < 0x20) {
    AppendUnicodeEscape(json, byte);
  } else {
    *json += static_cast<char>(byte);
  }
}

// Beyond the first plane as a surrogate pair.
void AppendCodePoint(std::string* json, uint32_t codePoint) {
  if (codePoint < 0x10000) {
    AppendUnicodeEscape(json, codePoint);
    return;
  }
  AppendUnicodeEscape(json, 0xD800 + ((codePoint - 0x10000) >> 10));
  AppendUnicodeEscape(json, 0xDC00 + ((codePoint - 0x10000) & 0x3FF));
}

// The length of the valid UTF-8 sequence at `text` and its code point, or 0
// when the bytes there are none: overlong forms, surrogates and code points
// beyond U+10FFFF included.
size_t DecodeUtf8(const unsigned char* text, uint32_t* codePoint) {
  const unsigned char lead = text[0];
  size_t length;
  uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, *codePoint = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, *codePoint = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, *codePoint = lead & 0x07u;
  } else {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    // A NUL ends the text and is no continuation byte, so nothing past it is read.
    if ((text[i] & 0xC0) != 0x80) return 0;
    *codePoint = (*codePoint << 6) | (text[i] & 0x3Fu);
  }
  bool surrogate = *codePoint >= 0xD800 && *codePoint <= 0xDFFF;
  return *codePoint < minimum || *codePoint > 0x10FFFF || surrogate ? 0 : length;
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
    return Raw(name, JsonString(text).c_str());
  }
  JsonObject& Text(const char* name, const std::optional<std::string>& text) {
    return Text(name, text ? text->c_str() : nullptr);
  }
  JsonObject& Raw(const char* name, const char* json) {
    text_ += text_.size() > 1 ? ", \"" : "\"";
    text_ += name;
    text_ += "\": ";
    text_ += json;
    return *this;
  }
  std::string Close() {
    text_ += '}';
    return std::move(text_);
  }

 private:
  std::string text_ = "{";
};

std::string JsonDevice(const DeviceView& device) {
  JsonObject json;
  const ReportedStatus* shown = device.shown();
  json.Number("index", NumberText(device.index))
      .Text("part_number", device.partNumber)
      .Text("psid", device.psid)
      .Text("status_text", shown != nullptr ? shown->text.c_str() : nullptr);
  if (shown == nullptr) {
    json.Null("status");
  } else {
    json.Number("status", NumberText(shown->code));
  }
  return json.Bool("update_required", device.reports(kFwUpdateRequired))
      .Bool("examined", device.examined())
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

std::string StatusMeaningOf(const Options& options, const Verdict& verdict) {
  return verdict.failed() ? kNotDetermined : StatusMeaning(options.update, *verdict.report);
}

void PrintJson(const Options& options, const Verdict& verdict) {
  const FirmwareCheckReport* report = verdict.report;
  JsonObject json;
  json.Number("format_version", NumberText(kJsonFormatVersion));
  if (report != nullptr) {
    json.Number("status", NumberText(report->status))
        .Text("status_meaning", StatusMeaningOf(options, verdict).c_str())
        .Number("result", NumberText(report->result))
        .Text("result_meaning", FirmwareResultMeaning(report->result));
  } else {
    json.Null("status")
        .Text("status_meaning", kNotDetermined)
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
  if (const ReportedStatus* shown = device.shown()) {
    Print({", status \"", shown->text, "\" (", NumberText(shown->code), ")"});
    if (shown->code != kFwUpdateRequired && device.reports(kFwUpdateRequired)) {
      Print({", also needs an update"});
    }
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
  if (verdict.failed()) {
    Print({"status: ", kNotDetermined, "\n"});
  } else {
    Print({"status: ", NumberText(report.status), " (", StatusMeaningOf(options, verdict), ")\n"});
  }
  Print({"result: ", NumberText(report.result), " (", FirmwareResultMeaning(report.result), ")\n"});
  if (report.toolExitCodeKnown) Print({"tool exit code: ", NumberText(report.toolExitCode), "\n"});
  Print({"devices: ", NumberText(report.devicesReported), " reported, ",
         NumberText(report.devicesExamined), " examined\n"});
  for (const DeviceView& device : report.devices) PrintDevice(device);
}

}  // namespace

std::string JsonString(const char* text) {
  std::string json = "\"";
  for (const auto* c = reinterpret_cast<const unsigned char*>(text); *c != '\0';) {
    if (*c < 0x80) {
      AppendAscii(&json, *c++);
      continue;
    }
    uint32_t codePoint = 0;
    size_t length = DecodeUtf8(c, &codePoint);
    AppendCodePoint(&json, length == 0 ? kReplacementCharacter : codePoint);
    c += length == 0 ? 1 : length;
  }
  json += '"';
  return json;
}

void PrintVerdict(const Options& options, const Verdict& verdict) {
  if (options.json) {
    PrintJson(options, verdict);
  } else if (verdict.report != nullptr) {
    PrintText(options, verdict);
  }
}
