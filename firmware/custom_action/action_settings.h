// The settings of the firmware check's installer actions: read from the
// installer's properties (CheckFirmware) or from the deferred action's
// CustomActionData (UpdateFirmware), in the format below.
//
// CustomActionData: elements NAME=VALUE separated by ";"; a ";" inside a
// value is written twice (";;"); nothing else is escaped, so blanks,
// backslashes, "=" and brackets stand as they are. Names, each at most once:
//   FIRMWARE_TOOL_DIR             the folder of flashkeeper.exe (required; may be empty)
//   FIRMWARE_OEM_FILTER           "1" on, "0" or empty off
//   FIRMWARE_SUPPORTED            part numbers separated by ";" (so ";;" in the data)
//   FIRMWARE_SKIP                 likewise; not together with FIRMWARE_SUPPORTED
//   FIRMWARE_UPDATE_MUST_SUCCEED  "0" or empty: a failed update lets the install go on;
//                                 anything else: it fails the install
//   FIRMWARE_REBOOT               "0": no restart asked for after an update; "1" or empty
//                                 (or no element): one is
// An element that names FIRMWARE_UPDATE_MUST_SUCCEED in any case, blanks
// around the name, repeated or beside a fault, still counts.
// Example: FIRMWARE_TOOL_DIR=C:\Program Files\FW;FIRMWARE_SKIP=VN2-1;;VN2-2
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/invocation.h"

struct FirmwareActionSettings {
  std::string toolDirectory;
  bool oemFilter = false;
  // The part numbers name the devices to examine (supported) or to leave out.
  std::vector<std::string> partNumbers;
  bool supportedList = false;
  bool updateMustSucceed = false;
  // After an update that updated a device the install asks for a restart.
  bool restartAfterUpdate = true;
};

// The property that carries the deferred action's CustomActionData: the one
// named like the action.
inline constexpr char kUpdateDataProperty[] = "UpdateFirmware";

// The reason, after the property's name, when a value holds a character
// that the installer's code page has no exact form for: nothing runs rather
// than a look-alike path.
inline constexpr char kUntranslatable[] =
    " holds a character that the installer's code page cannot hold; nothing was run";

// Reads the settings from the session's properties. False, with the reason
// in `error`, when a property cannot be read, holds a character the
// installer's code page cannot hold or holds a value it may not.
bool ReadSettingsFromProperties(uint32_t session, FirmwareActionSettings* settings,
                                std::string* error);

// The settings as CustomActionData; ParseUpdateData reads them back unchanged.
std::string EncodeUpdateData(const FirmwareActionSettings& settings);

// Reads CustomActionData strictly. False, with the first fault in `error`,
// when it is malformed; every element that could be read is still applied,
// and any that asks the update to succeed counts.
bool ParseUpdateData(std::string_view data, FirmwareActionSettings* settings, std::string* error);

// The check's request for these settings; it points into `settings` and
// `partNumbers`, which must outlive it.
FirmwareCheckRequest RequestFor(const FirmwareActionSettings& settings, bool update,
                                std::vector<const char*>* partNumbers);
