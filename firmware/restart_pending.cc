#include "firmware/restart_pending.h"

#include "common/number_text.h"
#include "platform/os.h"

namespace {

// Not volatile, and made first: a volatile key may hold only volatile keys,
// and the product's own keys may come to live beside the mark.
constexpr char kParentKey[] = "SOFTWARE\\Vantreo\\Oriel2";
constexpr char kTimeValue[] = "Time";
constexpr char kToolFolderValue[] = "ToolFolder";

std::string TwoDigits(uint16_t value) {
  return (value < 10 ? "0" : "") + NumberText(uint32_t{value});
}

std::string IsoTime(const os::UtcTime& time) {
  return NumberText(uint32_t{time.year}) + "-" + TwoDigits(time.month) + "-" + TwoDigits(time.day) +
         "T" + TwoDigits(time.hour) + ":" + TwoDigits(time.minute) + ":" + TwoDigits(time.second) +
         "Z";
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
    result =
        system.SetMachineValue(kRestartPendingKey, kTimeValue, IsoTime(system.UtcNow()).c_str());
  }
  return result;
}

std::string RestartPendingText(const std::string& since) {
  return "a restart is pending after a firmware update (since " + since + ")";
}
