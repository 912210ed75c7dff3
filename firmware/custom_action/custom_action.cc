#include "firmware/custom_action/custom_action.h"

#include <exception>
#include <vector>

#include "common/number_text.h"
#include "firmware/custom_action/action_settings.h"
#include "firmware/outcome.h"
#include "firmware/restart_pending.h"
#include "platform/os.h"

namespace {

constexpr char kUpdateText[] = "Updating device firmware. Do not turn off the computer.";
// A common-data message's first field for the Cancel button.
constexpr int kCancelButton = 2;
// A progress message's first field for "move the bar on by".
constexpr int kProgressIncrement = 2;
// More addings of one marker than any install makes: a delete that keeps
// failing must not hold the action.
constexpr int kMaxMarkerAddings = 64;

// Hands a line of the check on to the installer's log. Never throws: a line
// that cannot be relayed is lost, the check goes on.
void RelayToInstallerLog(LogHandle session, std::string_view first, std::string_view second,
                         std::string_view third) {
  try {
    os::Current().SessionInfoMessage(session, InstallerLogTemplate(first, second, third).c_str());
  } catch (...) {
  }
}

void SetProperty(uint32_t session, const char* action, const char* name, const std::string& value) {
  uint32_t result = os::Current().SetSessionProperty(session, name, value.c_str());
  if (result != os::kErrorSuccess) {
    std::string line = std::string(action) + ": the property " + name +
                       " could not be set (error " + NumberText(result) + ")";
    LogMessage(session, line.c_str());
  }
}

// The marker by which UpdateFirmware asks ScheduleFirmwareRestart for a
// restart: a deferred action may not ask the installer itself, and it may
// run in another process. A global atom, named with the product code so that
// no other product's install takes it.
std::string RestartMarker(uint32_t session) {
  std::string productCode;
  os::Current().SessionProperty(session, "ProductCode", &productCode);
  return "Vantreo firmware restart " + productCode;
}

// Removes the marker, however often it was left; whether there was one.
bool TakeRestartMarker(const std::string& marker) {
  bool found = false;
  for (int i = 0; i < kMaxMarkerAddings; ++i) {
    uint16_t atom = os::Current().FindGlobalAtom(marker.c_str());
    if (atom == 0 || !os::Current().DeleteGlobalAtom(atom)) break;
    found = true;
  }
  return found;
}

// `folder` made full against the current folder; false when it cannot be.
bool MakeFull(std::string* folder) {
  std::string full;
  if (!os::Current().FullPathName(folder->c_str(), &full)) return false;
  *folder = full;
  return true;
}

// What CheckFirmware sets, so that no value of an earlier run or of the
// command line outlives a check that stops early.
constexpr const char* kCheckOutputs[] = {"FIRMWARE_STATUS",           "FIRMWARE_RESULT",
                                         "FIRMWARE_UPDATE_REQUIRED",  "FIRMWARE_CHECK_FAILED",
                                         "FIRMWARE_DEVICES_REPORTED", "FIRMWARE_DEVICES_EXAMINED",
                                         "FIRMWARE_RESTART_PENDING",  kUpdateDataProperty};

void ReportCheckFailure(uint32_t session, const std::string& reason) {
  LogMessageParam(session, "CheckFirmware: the check failed: [1]", reason.c_str());
  SetProperty(session, "CheckFirmware", "FIRMWARE_CHECK_FAILED", "1");
}

// The user's answers while a tool runs under an action.
struct Watch {
  uint32_t session;
  bool cancelled = false;
  uint32_t reports = 0;

  // Sends a message; remembers a cancel among the answers.
  void Send(uint32_t type, std::initializer_list<os::RecordField> fields) {
    if (os::Current().SessionMessage(session, type, fields) == os::kIdCancel) cancelled = true;
  }
};

// The query's tick: a progress message that moves nothing, the installer's
// way to hear of a cancel. The user asked to stop and nothing is written to
// a device yet, so a cancel ends the query.
bool QueryGoesOn(void* context) {
  auto* watch = static_cast<Watch*>(context);
  watch->Send(os::kMessageProgress, {kProgressIncrement, 0});
  return !watch->cancelled;
}

// "status S, result R", for the log.
std::string OutcomeText(const FirmwareCheckReport& report) {
  std::string text = "status ";
  text += NumberText(report.status);
  text += ", result ";
  text += NumberText(report.result);
  return text;
}

// The marker for ScheduleFirmwareRestart unless FIRMWARE_REBOOT is 0, and
// a line that begins with `why`.
void AskForRestart(uint32_t session, const char* why, bool restart) {
  if (!restart) {
    LogMessageParam(session, "[1]: FIRMWARE_REBOOT is 0: no restart is asked for", why);
  } else if (os::Current().AddGlobalAtom(RestartMarker(session).c_str()) == 0) {
    uint32_t error = os::Current().LastError();
    LogMessage(session, (std::string(why) + ": the restart could not be asked for (error " +
                         NumberText(error) + ")")
                            .c_str());
  } else {
    LogMessageParam(session, "[1]: a restart is asked for", why);
  }
}

// What the query found, as the check's properties and in the log. While an
// earlier update's firmware waits for the restart, no update is asked for,
// and the install asks for that restart again: the deployment tool goes on
// asking for it.
void PublishCheck(uint32_t session, const FirmwareActionSettings& settings,
                  const FirmwareCheckRequest& request, const FirmwareCheckReport& report) {
  std::string failure = FirmwareCheckFailureReason(request, report);
  std::string since;
  bool restartPending = RestartPending(&since);
  bool updateRequired = UpdateRequiredAnswer(request, report) && !restartPending;

  SetProperty(session, "CheckFirmware", "FIRMWARE_STATUS", NumberText(report.status));
  SetProperty(session, "CheckFirmware", "FIRMWARE_RESULT", NumberText(report.result));
  SetProperty(session, "CheckFirmware", "FIRMWARE_DEVICES_REPORTED",
              NumberText(report.devicesReported));
  SetProperty(session, "CheckFirmware", "FIRMWARE_DEVICES_EXAMINED",
              NumberText(report.devicesExamined));
  SetProperty(session, "CheckFirmware", kUpdateDataProperty, EncodeUpdateData(settings));
  std::string outcome = OutcomeText(report);
  outcome += updateRequired ? ", update required: yes" : ", update required: no";
  LogMessageParam(session, "CheckFirmware: [1]", outcome.c_str());
  std::string devices = "devices reported: ";
  devices += NumberText(report.devicesReported);
  devices += ", examined: ";
  devices += NumberText(report.devicesExamined);
  LogMessageParam(session, "CheckFirmware: [1]", devices.c_str());
  if (!failure.empty()) ReportCheckFailure(session, failure);
  if (restartPending) {
    SetProperty(session, "CheckFirmware", "FIRMWARE_RESTART_PENDING", "1");
    LogMessageParam(session,
                    "CheckFirmware: a restart is pending after a firmware update (since [1]): "
                    "no update runs until then",
                    since.c_str());
    AskForRestart(session, "CheckFirmware", settings.restartAfterUpdate);
  }
  // Last: whatever stops the action before leaves no update asked for.
  if (updateRequired) SetProperty(session, "CheckFirmware", "FIRMWARE_UPDATE_REQUIRED", "1");
}

uint32_t CheckFirmwareOrThrow(uint32_t session) {
  for (const char* name : kCheckOutputs) SetProperty(session, "CheckFirmware", name, "");
  TakeRestartMarker(RestartMarker(session));  // left by an install that never ended
  FirmwareActionSettings settings;
  std::string error;
  if (!ReadSettingsFromProperties(session, &settings, &error)) {
    ReportCheckFailure(session, error);
    return kActionSuccess;
  }
  // The deferred action runs elsewhere, maybe in another current folder: it
  // gets the folder the query used.
  if (!settings.toolDirectory.empty() && !MakeFull(&settings.toolDirectory)) {
    ReportCheckFailure(session, "FIRMWARE_TOOL_DIR \"" + settings.toolDirectory +
                                    "\" cannot be made a full path (error " +
                                    NumberText(os::Current().LastError()) + ")");
    return kActionSuccess;
  }
  std::vector<const char*> partNumbers;
  FirmwareCheckRequest request = RequestFor(settings, false, &partNumbers);
  request.timeoutMs = kInstallerQueryTimeoutMs;
  Watch watch{session};
  request.tick = {QueryGoesOn, &watch, kQueryCancelPollMs};
  FirmwareCheckReport report;
  RunFirmwareCheck(session, request, &report);
  if (watch.cancelled) {
    LogMessage(session, "CheckFirmware: the install was cancelled: the query was ended");
    return kActionUserExit;
  }
  PublishCheck(session, settings, request, report);
  return kActionSuccess;
}

// The update's tick: how long it has run, in the installer's log and its
// window. The update goes on whatever the answer.
bool ReportUpdateTime(void* context) {
  auto* watch = static_cast<Watch*>(context);
  ++watch->reports;
  std::string line = "The firmware update has run for " + NumberText(watch->reports) +
                     (watch->reports == 1 ? " minute." : " minutes.");
  watch->Send(os::kMessageActionData, {line.c_str()});
  return true;
}

// The installer's Cancel button, hidden while this lives: an update cut
// short can leave a device unusable.
class CancelButtonHidden {
 public:
  explicit CancelButtonHidden(Watch* watch) : watch_(watch) {
    watch_->Send(os::kMessageCommonData, {kCancelButton, 0});
  }
  ~CancelButtonHidden() {
    try {
      watch_->Send(os::kMessageCommonData, {kCancelButton, 1});
    } catch (...) {
    }
  }
  CancelButtonHidden(const CancelButtonHidden&) = delete;
  CancelButtonHidden& operator=(const CancelButtonHidden&) = delete;

 private:
  Watch* watch_;
};

// The action's result for an update that failed, by the data's own wish.
uint32_t FailedUpdate(uint32_t session, const std::string& reason, bool mustSucceed) {
  LogMessageParam(session, "UpdateFirmware: the firmware update failed: [1]", reason.c_str());
  LogMessage(session,
             mustSucceed
                 ? "UpdateFirmware: FIRMWARE_UPDATE_MUST_SUCCEED is set: the install fails"
                 : "UpdateFirmware: FIRMWARE_UPDATE_MUST_SUCCEED is not set: the install goes on");
  return mustSucceed ? kActionInstallFailure : kActionSuccess;
}

// A cancel that came while the update ran, handed on now that it is over.
uint32_t ResultAfterCancel(uint32_t session, const Watch& watch) {
  if (!watch.cancelled) return kActionSuccess;
  LogMessage(session,
             "UpdateFirmware: the install was cancelled while the update ran: "
             "the update was not ended, the cancel goes on now");
  return kActionUserExit;
}

uint32_t UpdateFirmwareOrThrow(uint32_t session, uint32_t reportIntervalMs, bool* mustSucceed) {
  std::string data;
  uint32_t read = os::Current().SessionProperty(session, "CustomActionData", &data);
  // Text the code page cannot hold still tells, with stand-ins, whether the
  // update must succeed; nothing of it runs.
  bool untranslatable = read == os::kErrorNoUnicodeTranslation;
  if (read != os::kErrorSuccess && !untranslatable) {
    return FailedUpdate(
        session, "the CustomActionData could not be read (error " + NumberText(read) + ")", false);
  }
  FirmwareActionSettings settings;
  std::string error;
  bool wellFormed = ParseUpdateData(data, &settings, &error);
  *mustSucceed = settings.updateMustSucceed;
  if (untranslatable) {
    return FailedUpdate(session, std::string("the CustomActionData") + kUntranslatable,
                        *mustSucceed);
  }
  if (!wellFormed)
    return FailedUpdate(session, "malformed CustomActionData: " + error, *mustSucceed);
  // However the action came to run: the firmware that waits for the restart
  // is never written again before it.
  std::string since;
  if (RestartPending(&since)) {
    LogMessageParam(session,
                    "UpdateFirmware: a restart is pending after a firmware update (since [1]): "
                    "nothing was run",
                    since.c_str());
    return kActionSuccess;
  }

  std::vector<const char*> partNumbers;
  FirmwareCheckRequest request = RequestFor(settings, true, &partNumbers);
  Watch watch{session};
  request.tick = {ReportUpdateTime, &watch, reportIntervalMs};
  watch.Send(os::kMessageActionStart, {"UpdateFirmware", kUpdateText, "[1]"});
  watch.Send(os::kMessageActionData, {kUpdateText});
  FirmwareCheckReport report;
  {
    CancelButtonHidden hidden(&watch);
    RunFirmwareCheck(session, request, &report);
  }
  std::string outcome = OutcomeText(report);
  std::string failure = FirmwareCheckFailureReason(request, report);
  uint32_t result = kActionSuccess;
  if (!failure.empty()) {
    result = FailedUpdate(session, failure + " (" + outcome + ")", *mustSucceed);
  } else {
    LogMessageParam(session, "UpdateFirmware: the firmware update finished: [1]", outcome.c_str());
  }
  // New firmware waits for the restart even when the update as a whole failed.
  if (ExaminedDeviceReportsUpdate(report)) {
    uint32_t recorded = RecordRestartPending(settings.toolDirectory.c_str());
    if (recorded != os::kErrorSuccess) {
      LogMessageNumber(session,
                       "UpdateFirmware: the pending restart could not be recorded (error [1])",
                       recorded);
    }
    // ScheduleFirmwareRestart runs only in an install that goes on to its end.
    const char* why = "UpdateFirmware: a device was updated";
    if (result == kActionSuccess && !watch.cancelled) {
      AskForRestart(session, why, settings.restartAfterUpdate);
    } else {
      LogMessageParam(session, "[1]: a restart is still needed", why);
    }
  }
  return result == kActionSuccess ? ResultAfterCancel(session, watch) : result;
}

// Whether the installer's user interface is reduced or full (UILevel 4 or
// 5): it then asks the user itself whether to restart now.
bool ShowsRestartPrompt(uint32_t session) {
  std::string level;
  return os::Current().SessionProperty(session, "UILevel", &level) == os::kErrorSuccess &&
         (level == "4" || level == "5");
}

void ScheduleFirmwareRestartOrThrow(uint32_t session) {
  if (!TakeRestartMarker(RestartMarker(session))) {
    LogMessage(session, "ScheduleFirmwareRestart: no firmware update asked for a restart");
    return;
  }
  // Asked for, never forced: without a REBOOT of its own, a quiet or basic
  // install would restart by itself at its end. A reduced or full user
  // interface shows the installer's own prompt instead.
  std::string reboot;
  uint32_t read = os::Current().SessionProperty(session, "REBOOT", &reboot);
  if ((read != os::kErrorSuccess || reboot.empty()) && !ShowsRestartPrompt(session)) {
    reboot = "ReallySuppress";
    SetProperty(session, "ScheduleFirmwareRestart", "REBOOT", reboot.c_str());
  }
  uint32_t set = os::Current().SetSessionMode(session, os::kRunModeRebootAtEnd, true);
  if (set != os::kErrorSuccess) {
    LogMessageNumber(
        session, "ScheduleFirmwareRestart: the restart could not be asked for (error [1])", set);
    return;
  }
  LogMessageParam(session,
                  reboot.empty() ? "ScheduleFirmwareRestart: a restart is asked for at the end "
                                   "(the installer asks the user)"
                                 : "ScheduleFirmwareRestart: a restart is asked for at the end "
                                   "(REBOOT=[1])",
                  reboot.c_str());
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
    return CheckFirmwareOrThrow(session);
  } catch (...) {
    try {
      ReportCheckFailure(session, ExceptionText());
    } catch (...) {
    }
  }
  return kActionSuccess;
}

uint32_t UpdateFirmwareAction(uint32_t session, uint32_t reportIntervalMs) {
  SetLogRelay(RelayToInstallerLog);
  bool mustSucceed = false;
  try {
    return UpdateFirmwareOrThrow(session, reportIntervalMs, &mustSucceed);
  } catch (...) {
    try {
      return FailedUpdate(session, ExceptionText(), mustSucceed);
    } catch (...) {
      return mustSucceed ? kActionInstallFailure : kActionSuccess;
    }
  }
}

uint32_t ScheduleFirmwareRestartAction(uint32_t session) {
  SetLogRelay(RelayToInstallerLog);
  try {
    ScheduleFirmwareRestartOrThrow(session);
  } catch (...) {
    try {
      LogMessageParam(session, "ScheduleFirmwareRestart: [1]", ExceptionText().c_str());
    } catch (...) {
    }
  }
  return kActionSuccess;
}

std::string InstallerLogTemplate(std::string_view first, std::string_view second,
                                 std::string_view third) {
  std::string text;
  text.reserve(first.size() + second.size() + third.size());
  for (std::string_view piece : {first, second, third}) {
    for (char c : piece) {
      if (c == '[' || c == ']' || c == '{' || c == '}') {
        text += "[\\";
        text += c;
        text += ']';
      } else {
        text += c;
      }
    }
  }
  return text;
}
