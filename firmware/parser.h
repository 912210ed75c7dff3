// Classification of the firmware manager tool's report, device by device.
#pragma once

#include <cstdint>

#include "setup/debug_log.h"

// Outcome of a firmware check.
using FirmwareStatus = int32_t;
inline constexpr FirmwareStatus kFwNoProblem = 0;
inline constexpr FirmwareStatus kFwUpdated = 1;
inline constexpr FirmwareStatus kFwUpdateRequired = 2;
inline constexpr FirmwareStatus kFwCommandLineFailed = 3;
inline constexpr FirmwareStatus kFwUpToDate = 4;
inline constexpr FirmwareStatus kFwOpenFailed = 5;
inline constexpr FirmwareStatus kFwNoMatchingImage = 6;
inline constexpr FirmwareStatus kFwMultipleImages = 7;
inline constexpr FirmwareStatus kFwForcedUpdateRequired = 8;
inline constexpr FirmwareStatus kFwMixedVersions = 9;
inline constexpr FirmwareStatus kFwUnknownStatus = 10;

// A device's problem: kFwOpenFailed to kFwUnknownStatus.
constexpr bool IsProblemStatus(FirmwareStatus status) {
  return status >= kFwOpenFailed && status <= kFwUnknownStatus;
}

// Where a parse stands in its text: the index of the terminator of the line
// taken last. Each parse owns one, so parses in different threads never
// disturb each other.
struct LineCursor {
  uint32_t position = 0;
  // A carriage return alone ends a line as a line feed does (and becomes the
  // line's NUL); otherwise it stays in its line.
  bool carriageReturnEndsLine = false;
};

// Buffer contract of the functions below that take `text` and `length`:
// `text` must hold at least length + 1 writable bytes. Lines are cut in
// place: the line feed ending a line becomes a NUL, and a last line without
// a line feed gets its NUL at text[length]. Nothing at or past
// text[length + 1] is read or written. A carriage return stays in its line
// unless the cursor says otherwise.

// The next line of `text` as a terminated string inside the buffer, or
// nullptr when the text is exhausted. With no `previousLine` it starts over
// at the beginning of the text.
char* NextLine(LineCursor& cursor, const char* previousLine, char* text, uint32_t length);

// The first line after `currentLine` that begins with `prefix`, or nullptr.
char* NextLineWithPrefix(LineCursor& cursor, const char* currentLine, char* text, uint32_t length,
                         const char* prefix);

// True unless the PSID, after leading white space, begins with "QV_".
bool IsOemPsid(const char* psid);

// The status code of one status text, as GetStatusByMsg gives it, without logging.
FirmwareStatus StatusOfText(const char* status);

// The status code of one status text (kFwUpdateRequired, kFwUpToDate or
// kFwOpenFailed to kFwUnknownStatus); logs what it found.
FirmwareStatus GetStatusByMsg(LogHandle handle, const char* status);

// Which devices the check examines: the parser's filter arguments.
struct DeviceFilter {
  bool oemFilter = false;
  const char* const* partNumbers = nullptr;
  int32_t count = 0;  // 0 or less: an empty list
  bool supportedList = false;
};

// Whether a "  Part Number" line leaves its device out under `filter`.
bool PartNumberLeavesOut(const char* line, const DeviceFilter& filter);

enum class LeftOutBy { kNothing, kPartNumberList, kOemFilter };

// Receives each device of a report as the parser reads it: its "Device #"
// line, then each status, part-number and PSID line of its block that the
// parser reads, then, when a line left it out, why (the rest of its block
// is not read). Lines before the first "Device #" line belong to no device
// and are not handed on. A line is valid only during the call.
class DeviceSink {
 public:
  virtual void DeviceOpened() = 0;
  virtual void StatusRead(const char* line, FirmwareStatus code) = 0;
  virtual void PartNumberRead(const char* line) = 0;
  virtual void PsidRead(const char* line) = 0;
  virtual void DeviceLeftOut(LeftOutBy reason) = 0;

 protected:
  ~DeviceSink() = default;
};

// How many devices a report held, and how many of them were examined.
struct DeviceCounts {
  uint32_t reported = 0;  // "Device #" lines
  uint32_t examined = 0;  // devices that no filter left out
};

// How a report is read beyond its filter.
struct ReportReading {
  // Update mode: a carriage return alone ends a line too, so that a tool
  // writing bare carriage returns cannot hide a status.
  bool carriageReturnEndsLine = false;
  DeviceSink* sink = nullptr;  // optional
};

// Reads the tool's report and returns the first problem status of an
// examined device (kFwOpenFailed to kFwUnknownStatus), or kFwNoProblem.
// `*updateRequired` tells whether an examined device needs an update. Only
// the status lines of an examined device's block decide, whatever their
// order within it: a device left out at a later line counts for nothing, and
// a status line before the first "Device #" line decides nothing.
// Devices are left out by part number: with `supportedList` set only those
// whose part-number line holds an entry of `partNumbers` are examined;
// with it clear those are the ones left out. A `count` of 0 or less is an
// empty list. With `oemFilter` set, devices whose PSID is not the maker's
// own are left out too. See the buffer contract above for `text`.
FirmwareStatus CheckFWUpdateStatByOutpt(LogHandle handle, char* text, uint32_t length,
                                        bool oemFilter, bool* updateRequired,
                                        const char* const* partNumbers, int32_t count,
                                        bool supportedList);

// The same walk, with the filter in one piece, the devices counted into
// `counts` and handed to `reading.sink`.
FirmwareStatus ParseReport(LogHandle handle, char* text, uint32_t length,
                           const DeviceFilter& filter, const ReportReading& reading,
                           bool* updateRequired, DeviceCounts* counts);
