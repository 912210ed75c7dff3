#include "firmware/restart_pending.h"

#include <cstring>

#include "platform/os.h"

namespace {

// The key above the mark, not volatile: a volatile key may hold only
// volatile keys, and the product's own keys may come to live beside the mark.
constexpr char kParentKey[] = "SOFTWARE\\Vantreo\\Oriel2";
constexpr char kTimeValue[] = "Time";
constexpr char kToolFolderValue[] = "ToolFolder";

// `time` in ISO 8601, 2026-12-08T09:05:07Z, and a terminator.
void WriteIsoTime(const os::UtcTime& time, char (&text)[21]) {
  std::memcpy(text, "0000-00-00T00:00:00Z", sizeof(text));
  const unsigned fields[] = {time.year, time.month, time.day, time.hour, time.minute, time.second};
  for (int field = 0; field < 6; ++field) {
    unsigned value = fields[field];
    // The year's four digits end at 3, the others' two at 6, 9, ... 18.
    for (int at = 3 * field + 3, digits = field == 0 ? 4 : 2; digits > 0; --at, --digits) {
      text[at] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
  }
}

}  // namespace

bool RestartPending(std::string* since) {
  return os::Current().MachineValue(kRestartPendingKey, kTimeValue, since) == os::kErrorSuccess;
}

uint32_t RecordRestartPending(const char* toolFolder) {
  os::Os& system = os::Current();
  char time[21];
  WriteIsoTime(system.UtcNow(), time);
  uint32_t result = system.WriteMachineKey(kParentKey, false, nullptr, nullptr);
  if (result == os::kErrorSuccess) {
    result = system.WriteMachineKey(kRestartPendingKey, true, kToolFolderValue, toolFolder);
  }
  // The time last: the mark counts once it is there.
  if (result == os::kErrorSuccess) {
    result = system.WriteMachineKey(kRestartPendingKey, true, kTimeValue, time);
  }
  return result;
}
