#include "firmware/custom_action/action_settings.h"

#include <algorithm>
#include <cctype>

#include "common/number_text.h"
#include "platform/os.h"

namespace {

enum class Setting { kToolDirectory, kOemFilter, kSupported, kSkip, kMustSucceed, kRestart };

struct SettingName {
  Setting setting;
  const char* name;
};

// The same names serve as properties and as CustomActionData elements.
constexpr SettingName kSettingNames[] = {
    {Setting::kToolDirectory, "FIRMWARE_TOOL_DIR"},
    {Setting::kOemFilter, "FIRMWARE_OEM_FILTER"},
    {Setting::kSupported, "FIRMWARE_SUPPORTED"},
    {Setting::kSkip, "FIRMWARE_SKIP"},
    {Setting::kMustSucceed, "FIRMWARE_UPDATE_MUST_SUCCEED"},
    {Setting::kRestart, "FIRMWARE_REBOOT"},
};

const SettingName* FindSetting(std::string_view name) {
  for (const SettingName& known : kSettingNames) {
    if (name == known.name) return &known;
  }
  return nullptr;
}

// "1" on, "0" off, empty `empty`; anything else is a mistake better
// reported than guessed.
bool ParseSwitch(const char* name, std::string_view value, bool empty, bool* on,
                 std::string* error) {
  if (value == "1" || value == "0" || value.empty()) {
    *on = value.empty() ? empty : value == "1";
    return true;
  }
  *error = std::string(name) + " must be 1, 0 or empty, not \"" + std::string(value) + "\"";
  return false;
}

// Part numbers separated by ";". An empty entry would leave out every device
// or none, so it is refused.
bool ParseList(const char* name, std::string_view value, std::vector<std::string>* entries,
               std::string* error) {
  entries->clear();
  size_t start = 0;
  while (true) {
    size_t end = value.find(';', start);
    std::string_view entry = value.substr(start, end == std::string_view::npos ? end : end - start);
    if (entry.empty()) {
      entries->clear();
      *error = std::string(name) + " holds an empty part number: \"" + std::string(value) + "\"";
      return false;
    }
    entries->emplace_back(entry);
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

// A wish that the update succeed: anything but "0" or nothing. Taken
// broadly, since a wish misread as "no" lets a failed update pass unseen.
bool AsksToSucceed(std::string_view value) { return !value.empty() && value != "0"; }

// White space a hand-written CustomActionData may hold around a name: blanks,
// tabs, line breaks and the no-break space (0xA0 in the ANSI code page,
// C2 A0 in UTF-8).
constexpr std::string_view kNoBreakSpaceUtf8 = "\xC2\xA0";
constexpr std::string_view kBlankBytes = " \t\r\n\v\f\xA0";

// How many bytes of white space `text` begins (`atEnd`: ends) with: 0, 1 or 2.
size_t SpaceAtEdge(std::string_view text, bool atEnd) {
  if (text.size() >= 2 && text.substr(atEnd ? text.size() - 2 : 0, 2) == kNoBreakSpaceUtf8) {
    return 2;
  }
  bool blank = !text.empty() &&
               kBlankBytes.find(atEnd ? text.back() : text.front()) != std::string_view::npos;
  return blank ? 1 : 0;
}

std::string_view TrimmedName(std::string_view name) {
  while (size_t space = SpaceAtEdge(name, false)) name.remove_prefix(space);
  while (size_t space = SpaceAtEdge(name, true)) name.remove_suffix(space);
  return name;
}

// Whether `name`, white space around it and case aside, is `known`.
bool NamesLoosely(std::string_view name, std::string_view known) {
  name = TrimmedName(name);
  return name.size() == known.size() &&
         std::equal(name.begin(), name.end(), known.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

// Whether any element asks the update to succeed, however written or repeated.
bool AnyElementAsksToSucceed(const std::vector<std::string>& elements) {
  return std::any_of(elements.begin(), elements.end(), [](const std::string& element) {
    size_t equals = element.find('=');
    return equals != std::string::npos &&
           NamesLoosely(std::string_view(element).substr(0, equals),
                        "FIRMWARE_UPDATE_MUST_SUCCEED") &&
           AsksToSucceed(std::string_view(element).substr(equals + 1));
  });
}

// Gives one setting its value. An empty list means "not set".
bool Apply(const SettingName& setting, std::string_view value, FirmwareActionSettings* settings,
           bool* listGiven, std::string* error) {
  switch (setting.setting) {
    case Setting::kToolDirectory:
      settings->toolDirectory = value;
      return true;
    case Setting::kOemFilter:
      return ParseSwitch(setting.name, value, false, &settings->oemFilter, error);
    case Setting::kRestart:
      return ParseSwitch(setting.name, value, true, &settings->restartAfterUpdate, error);
    case Setting::kMustSucceed:
      settings->updateMustSucceed = AsksToSucceed(value);
      return true;
    case Setting::kSupported:
    case Setting::kSkip:
      if (value.empty()) return true;
      if (*listGiven) {
        *error = "FIRMWARE_SUPPORTED and FIRMWARE_SKIP are both set; give one of them";
        return false;
      }
      *listGiven = true;
      settings->supportedList = setting.setting == Setting::kSupported;
      return ParseList(setting.name, value, &settings->partNumbers, error);
  }
  return false;
}

// The elements of CustomActionData: split at each single ";", a doubled one
// taken as a ";" of the value.
std::vector<std::string> SplitElements(std::string_view data) {
  std::vector<std::string> elements(1);
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] != ';') {
      elements.back() += data[i];
    } else if (i + 1 < data.size() && data[i + 1] == ';') {
      elements.back() += ';';
      ++i;
    } else {
      elements.emplace_back();
    }
  }
  return elements;
}

const char* SwitchValue(bool on) { return on ? "1" : "0"; }

// The value of one setting as CustomActionData writes it; false for the
// part-number list that the settings do not use.
bool EncodedValue(Setting setting, const FirmwareActionSettings& settings, std::string* value) {
  switch (setting) {
    case Setting::kToolDirectory:
      *value = settings.toolDirectory;
      return true;
    case Setting::kOemFilter:
      *value = SwitchValue(settings.oemFilter);
      return true;
    case Setting::kSupported:
    case Setting::kSkip:
      if (settings.partNumbers.empty() ||
          settings.supportedList != (setting == Setting::kSupported)) {
        return false;
      }
      for (const std::string& entry : settings.partNumbers) {
        *value += (value->empty() ? "" : ";") + entry;
      }
      return true;
    case Setting::kMustSucceed:
      *value = SwitchValue(settings.updateMustSucceed);
      return true;
    case Setting::kRestart:
      *value = SwitchValue(settings.restartAfterUpdate);
      return true;
  }
  return false;
}

void AppendElement(std::string* data, const char* name, std::string_view value) {
  if (!data->empty()) *data += ';';
  *data += name;
  *data += '=';
  for (char c : value) {
    if (c == ';') *data += ';';
    *data += c;
  }
}

}  // namespace

bool ReadSettingsFromProperties(uint32_t session, FirmwareActionSettings* settings,
                                std::string* error) {
  *settings = FirmwareActionSettings{};
  bool listGiven = false;
  for (const SettingName& setting : kSettingNames) {
    std::string value;
    uint32_t result = os::Current().SessionProperty(session, setting.name, &value);
    if (result == os::kErrorNoUnicodeTranslation) {
      *error = std::string(setting.name) + kUntranslatable;
      return false;
    }
    if (result != os::kErrorSuccess) {
      *error = std::string("the property ") + setting.name + " could not be read (error " +
               NumberText(result) + ")";
      return false;
    }
    if (!Apply(setting, value, settings, &listGiven, error)) return false;
  }
  return true;
}

std::string EncodeUpdateData(const FirmwareActionSettings& settings) {
  std::string data;
  for (const SettingName& setting : kSettingNames) {
    std::string value;
    if (EncodedValue(setting.setting, settings, &value)) AppendElement(&data, setting.name, value);
  }
  return data;
}

bool ParseUpdateData(std::string_view data, FirmwareActionSettings* settings, std::string* error) {
  *settings = FirmwareActionSettings{};
  error->clear();
  if (data.empty()) {
    *error = "the CustomActionData is empty";
    return false;
  }
  bool listGiven = false;
  std::vector<const SettingName*> seen;
  std::vector<std::string> elements = SplitElements(data);
  for (const std::string& element : elements) {
    std::string fault;
    size_t equals = element.find('=');
    const SettingName* setting = equals == std::string::npos
                                     ? nullptr
                                     : FindSetting(std::string_view(element).substr(0, equals));
    if (equals == std::string::npos) {
      fault = "an element without \"=\": \"" + element + "\"";
    } else if (setting == nullptr) {
      fault = "an unknown setting: \"" + element.substr(0, equals) + "\"";
    } else if (std::find(seen.begin(), seen.end(), setting) != seen.end()) {
      fault = std::string(setting->name) + " is given twice";
    } else {
      seen.push_back(setting);
      Apply(*setting, std::string_view(element).substr(equals + 1), settings, &listGiven, &fault);
    }
    if (error->empty()) *error = fault;
  }
  settings->updateMustSucceed = AnyElementAsksToSucceed(elements);
  bool toolDirectoryGiven = std::any_of(seen.begin(), seen.end(), [](const SettingName* setting) {
    return setting->setting == Setting::kToolDirectory;
  });
  if (error->empty() && !toolDirectoryGiven) *error = "FIRMWARE_TOOL_DIR is missing";
  return error->empty();
}

FirmwareCheckRequest RequestFor(const FirmwareActionSettings& settings, bool update,
                                std::vector<const char*>* partNumbers) {
  partNumbers->clear();
  for (const std::string& entry : settings.partNumbers) partNumbers->push_back(entry.c_str());
  return CheckRequestFor(settings.toolDirectory.c_str(), update, settings.oemFilter,
                         partNumbers->data(), static_cast<int32_t>(partNumbers->size()),
                         settings.supportedList);
}
