#include "firmware/restart_pending.h"

#include "platform/os.h"

namespace {

// Not volatile, and made first: a volatile key may hold only volatile keys,
// and the product's own keys may come to live beside the mark.
constexpr char kParentKey[] = "SOFTWARE\\Vantreo\\Oriel2";
constexpr char kTimeValue[] = "Time";
constexpr char kToolFolderValue[] = "ToolFolder";

// `time` in ISO 8601, 2026-12-08T09:05:07Z, and a terminator.
void WriteIsoTime(const os::UtcTime& time, char (&text)[21]) {
  char* at = text;
  // `value` in `digits` digits, then `after`.
  auto put = [&at](unsigned value, int digits, char after) {
    for (int i = digits - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
    at[digits] = after;
    at += digits + 1;
  };
  put(time.year, 4, '-');
  put(time.month, 2, '-');
  put(time.day, 2, 'T');
  put(time.hour, 2, ':');
  put(time.minute, 2, ':');
  put(time.second, 2, 'Z');
  *at = '\0';
}

}  // namespace

bool RestartPending(std::string* since) {
  return os::Current().MachineValue(kRestartPendingKey, kTimeValue, since) == os::kErrorSuccess;
}

uint32_t RecordRestartPending(const std::string& toolFolder) {
  os::Os& system = os::Current();
  uint32_t result = system.CreateMachineKey(kParentKey, false);
  if (result == os::kErrorSuccess) result = system.CreateMachineKey(kRestartPendingKey, true);
  if (result == os::kErrorSuccess) {
    result = system.SetMachineValue(kRestartPendingKey, kToolFolderValue, toolFolder.c_str());
  }
  // The time last: the mark counts once it is there.
  if (result == os::kErrorSuccess) {
    char time[21];
    WriteIsoTime(system.UtcNow(), time);
    result = system.SetMachineValue(kRestartPendingKey, kTimeValue, time);
  }
  return result;
}

std::string RestartPendingText(const std::string& since) {
  std::string text = "a restart is pending after a firmware update (since ";
  text += since;
  text += ')';
  return text;
}
