// The mark that firmware written by an update waits for the system's next
// start: a volatile registry key, which Windows drops at that start as it
// drops its own "restart required" keys. Until then the update is not made
// again. Only administrators may write under HKEY_LOCAL_MACHINE\SOFTWARE, so
// no one else can fake or clear the mark.
#pragma once

#include <cstdint>
#include <string>

// Under HKEY_LOCAL_MACHINE, in its 64-bit view.
inline constexpr char kRestartPendingKey[] = "SOFTWARE\\Vantreo\\Oriel2\\FirmwareRestartPending";

// Whether a restart is pending; `since` then holds when the mark was
// recorded (UTC, ISO 8601: 2026-12-08T10:42:07Z).
bool RestartPending(std::string* since);

// Records that a restart is pending after an update from `toolFolder`, at the
// time now. kErrorSuccess, or the system's error: 5 for a process that may
// not write there.
uint32_t RecordRestartPending(const char* toolFolder);
