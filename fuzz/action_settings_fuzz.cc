// The custom action's CustomActionData. An input whose first byte is even is
// read as CustomActionData: it never crashes the parser, and what parses
// well reads back the same once written again. An odd first byte makes the
// rest settings (see SettingsOf): written and read back, they come back whole.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "firmware/custom_action/action_settings.h"

namespace {

bool Same(const FirmwareActionSettings& a, const FirmwareActionSettings& b) {
  return a.toolDirectory == b.toolDirectory && a.oemFilter == b.oemFilter &&
         a.partNumbers == b.partNumbers && a.supportedList == b.supportedList &&
         a.updateMustSucceed == b.updateMustSucceed && a.restartAfterUpdate == b.restartAfterUpdate;
}

// Settings as the installer's properties can give them: a flags byte, then
// the tool folder up to the first NUL, then part numbers separated by ";"
// (empty ones dropped, as a property never gives them).
FirmwareActionSettings SettingsOf(std::string_view input) {
  FirmwareActionSettings settings;
  uint8_t flags = input.empty() ? 0 : static_cast<uint8_t>(input[0]);
  input.remove_prefix(input.empty() ? 0 : 1);
  settings.oemFilter = (flags & 1) != 0;
  settings.updateMustSucceed = (flags & 2) != 0;
  settings.restartAfterUpdate = (flags & 4) != 0;
  size_t end = input.find('\0');
  settings.toolDirectory = input.substr(0, end);
  std::string_view list = end == std::string_view::npos ? "" : input.substr(end + 1);
  while (!list.empty()) {
    size_t semicolon = list.find(';');
    std::string_view entry = list.substr(0, semicolon);
    if (!entry.empty()) settings.partNumbers.emplace_back(entry);
    list.remove_prefix(semicolon == std::string_view::npos ? list.size() : semicolon + 1);
  }
  settings.supportedList = (flags & 8) != 0 && !settings.partNumbers.empty();
  return settings;
}

// Writes `settings` and reads them back; aborts unless they come back whole.
void RoundTrip(const FirmwareActionSettings& settings) {
  FirmwareActionSettings read;
  std::string error;
  if (!ParseUpdateData(EncodeUpdateData(settings), &read, &error) || !error.empty() ||
      !Same(read, settings)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 1) {
    RoundTrip(SettingsOf(rest));
    return 0;
  }
  FirmwareActionSettings settings;
  std::string error;
  bool parsed = ParseUpdateData(rest, &settings, &error);
  if (parsed != error.empty()) std::abort();
  if (parsed) RoundTrip(settings);
  return 0;
}
