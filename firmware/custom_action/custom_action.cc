#include "firmware/custom_action/custom_action.h"

#include <exception>
#include <vector>

#include "firmware/custom_action/action_settings.h"
#include "platform/os.h"

namespace {

// Hands a line of the check on to the installer's log. Never throws: a line
// that cannot be relayed is lost, the check goes on.
void RelayToInstallerLog(LogHandle session, std::string_view first, std::string_view second,
                         std::string_view third) {
  try {
    os::Current().SessionInfoMessage(session, InstallerLogTemplate(first, second, third).c_str());
  } catch (...) {
  }
}

void SetProperty(uint32_t session, const char* name, const std::string& value) {
  uint32_t result = os::Current().SetSessionProperty(session, name, value.c_str());
  if (result != os::kErrorSuccess) {
    std::string line = std::string("the property ") + name + " could not be set (error " +
                       std::to_string(result) + ")";
    LogMessageParam(session, "CheckFirmware: [1]", line.c_str());
  }
}

// What CheckFirmware sets, so that no value of an earlier run or of the
// command line outlives a check that stops early.
constexpr const char* kCheckOutputs[] = {"FIRMWARE_STATUS", "FIRMWARE_RESULT",
                                         "FIRMWARE_UPDATE_REQUIRED", "FIRMWARE_CHECK_FAILED",
                                         kUpdateDataProperty};

void ReportCheckFailure(uint32_t session, const std::string& reason) {
  LogMessageParam(session, "CheckFirmware: the check failed: [1]", reason.c_str());
  SetProperty(session, "FIRMWARE_CHECK_FAILED", "1");
}

void CheckFirmwareOrThrow(uint32_t session) {
  for (const char* name : kCheckOutputs) SetProperty(session, name, "");
  FirmwareActionSettings settings;
  std::string error;
  if (!ReadSettingsFromProperties(session, &settings, &error)) {
    ReportCheckFailure(session, error);
    return;
  }
  std::vector<const char*> partNumbers;
  FirmwareCheckRequest request = RequestFor(settings, false, &partNumbers);
  request.timeoutMs = kInstallerQueryTimeoutMs;
  FirmwareCheckReport report;
  CheckFirmware(session, request, &report);
  std::string failure = FirmwareCheckFailureReason(request, report);
  bool updateRequired = failure.empty() && report.status == kFwUpdateRequired;

  SetProperty(session, "FIRMWARE_STATUS", std::to_string(report.status));
  SetProperty(session, "FIRMWARE_RESULT", std::to_string(report.result));
  SetProperty(session, kUpdateDataProperty, EncodeUpdateData(settings));
  std::string outcome = "status " + std::to_string(report.status) + ", result " +
                        std::to_string(report.result) + ", update required: " +
                        (updateRequired ? "yes" : "no");
  LogMessageParam(session, "CheckFirmware: [1]", outcome.c_str());
  if (!failure.empty()) ReportCheckFailure(session, failure);
  // Last: whatever stops the action before leaves no update asked for.
  if (updateRequired) SetProperty(session, "FIRMWARE_UPDATE_REQUIRED", "1");
}

// The action's result for an update that failed, by the data's own wish.
uint32_t FailedUpdate(uint32_t session, const std::string& reason, bool mustSucceed) {
  LogMessageParam(session, "UpdateFirmware: the firmware update failed: [1]", reason.c_str());
  LogMessage(session, mustSucceed
                          ? "UpdateFirmware: FIRMWARE_UPDATE_MUST_SUCCEED is set: the install fails"
                          : "UpdateFirmware: FIRMWARE_UPDATE_MUST_SUCCEED is not set: the install goes on");
  return mustSucceed ? kActionInstallFailure : kActionSuccess;
}

uint32_t UpdateFirmwareOrThrow(uint32_t session, bool* mustSucceed) {
  std::string data;
  uint32_t read = os::Current().SessionProperty(session, "CustomActionData", &data);
  // Text the code page cannot hold still tells, with stand-ins, whether the
  // update must succeed; nothing of it runs.
  bool untranslatable = read == os::kErrorNoUnicodeTranslation;
  if (read != os::kErrorSuccess && !untranslatable) {
    return FailedUpdate(session,
                        "the CustomActionData could not be read (error " + std::to_string(read) + ")",
                        false);
  }
  FirmwareActionSettings settings;
  std::string error;
  bool wellFormed = ParseUpdateData(data, &settings, &error);
  *mustSucceed = settings.updateMustSucceed;
  if (untranslatable) {
    return FailedUpdate(session, std::string("the CustomActionData") + kUntranslatable, *mustSucceed);
  }
  if (!wellFormed) return FailedUpdate(session, "malformed CustomActionData: " + error, *mustSucceed);

  std::vector<const char*> partNumbers;
  FirmwareCheckRequest request = RequestFor(settings, true, &partNumbers);
  FirmwareCheckReport report;
  CheckFirmware(session, request, &report);
  std::string outcome =
      "status " + std::to_string(report.status) + ", result " + std::to_string(report.result);
  std::string failure = FirmwareCheckFailureReason(request, report);
  if (!failure.empty()) return FailedUpdate(session, failure + " (" + outcome + ")", *mustSucceed);
  LogMessageParam(session, "UpdateFirmware: the firmware update finished: [1]", outcome.c_str());
  return kActionSuccess;
}

std::string ExceptionText() {
  try {
    throw;
  } catch (const std::exception& exception) {
    return std::string("an internal error: ") + exception.what();
  } catch (...) {
    return "an internal error";
  }
}

}  // namespace

uint32_t CheckFirmwareAction(uint32_t session) {
  SetLogRelay(RelayToInstallerLog);
  try {
    CheckFirmwareOrThrow(session);
  } catch (...) {
    try {
      ReportCheckFailure(session, ExceptionText());
    } catch (...) {
    }
  }
  return kActionSuccess;
}

uint32_t UpdateFirmwareAction(uint32_t session) {
  SetLogRelay(RelayToInstallerLog);
  bool mustSucceed = false;
  try {
    return UpdateFirmwareOrThrow(session, &mustSucceed);
  } catch (...) {
    try {
      return FailedUpdate(session, ExceptionText(), mustSucceed);
    } catch (...) {
      return mustSucceed ? kActionInstallFailure : kActionSuccess;
    }
  }
}

std::string InstallerLogTemplate(std::string_view first, std::string_view second,
                                 std::string_view third) {
  std::string text;
  text.reserve(first.size() + second.size() + third.size());
  for (std::string_view piece : {first, second, third}) {
    for (char c : piece) {
      if (c == '[') {
        text += "[\\[]";
      } else if (c == ']') {
        text += "[\\]]";
      } else {
        text += c;
      }
    }
  }
  return text;
}
