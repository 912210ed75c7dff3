#include "firmware/fwcheck_options.h"

#include <cstdlib>
#include <cstring>

namespace {

// The longest time limit whose milliseconds fit the request.
constexpr unsigned long kMaxTimeoutSeconds = 0xFFFFFFFFu / 1000;

// Seconds as a positive whole number that fits; 0 when it is not one.
uint32_t TimeoutMsOf(const char* text) {
  if (*text == '\0' || std::strspn(text, "0123456789") != std::strlen(text)) return 0;
  if (std::strlen(text) > 7) return 0;
  unsigned long seconds = std::strtoul(text, nullptr, 10);
  return seconds <= kMaxTimeoutSeconds ? static_cast<uint32_t>(seconds * 1000) : 0;
}

bool IsBlank(const char* text) { return text[std::strspn(text, " \t\r\n\v\f")] == '\0'; }

}  // namespace

bool OptionParser::Parse() {
  bool optionsEnded = false;
  for (at_ = 1; at_ < argc_; ++at_) {
    const char* arg = argv_[at_];
    if (!optionsEnded && std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (!optionsEnded && arg[0] == '-') {
      if (!TakeOption(arg)) return false;
      if (options_->help || options_->version) return true;
    } else if (options_->toolDirectory != nullptr) {
      return Error("more than one tool folder: ", arg);
    } else if (*arg == '\0') {
      return Error("empty tool folder");
    } else if (IsBlank(arg)) {
      // Blanks alone name no folder anyone meant, as a blank option value does not.
      return Error("blank tool folder");
    } else {
      options_->toolDirectory = arg;
    }
  }
  if (options_->toolDirectory == nullptr) return Error("no tool folder given");
  if (!options_->supported.empty() && !options_->skipped.empty()) {
    return Error("--supported and --skip cannot be given together");
  }
  if (options_->update && options_->timeoutMs != 0) {
    return Error("--timeout cannot be given with --update: an update is never cut short");
  }
  return true;
}

bool OptionParser::TakeOption(const char* arg) {
  if (std::strcmp(arg, "--update") == 0) {
    options_->update = true;
  } else if (std::strcmp(arg, "--oem-filter") == 0) {
    options_->oemFilter = true;
  } else if (std::strcmp(arg, "--json") == 0) {
    options_->json = true;
  } else if (std::strcmp(arg, "--detailed-exitcode") == 0) {
    options_->detailedExitCode = true;
  } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
    options_->help = true;
  } else if (std::strcmp(arg, "--version") == 0) {
    options_->version = true;
  } else if (std::strcmp(arg, "--supported") == 0) {
    return TakeListEntry(arg, &options_->supported);
  } else if (std::strcmp(arg, "--skip") == 0) {
    return TakeListEntry(arg, &options_->skipped);
  } else if (std::strcmp(arg, "--debuglog") == 0) {
    return TakeValue(arg, "file", &options_->debugLog);
  } else if (std::strcmp(arg, "--timeout") == 0) {
    const char* value = nullptr;
    if (!TakeValue(arg, "number of seconds", &value)) return false;
    options_->timeoutMs = TimeoutMsOf(value);
    if (options_->timeoutMs == 0) {
      return Error("--timeout needs a whole number of seconds from 1: ", value);
    }
  } else {
    return Error("unknown option ", arg);
  }
  return true;
}

bool OptionParser::TakeListEntry(const char* option, std::vector<const char*>* list) {
  const char* value = nullptr;
  if (!TakeValue(option, "part number", &value)) return false;
  // Blanks alone occur in every part-number line: every device or none.
  if (IsBlank(value)) {
    return Error("blank part number after ", option);
  }
  list->push_back(value);
  return true;
}

bool OptionParser::TakeValue(const char* option, const char* what, const char** value) {
  if (at_ + 1 >= argc_) return Error((std::string("missing ") + what + " after ").c_str(), option);
  *value = argv_[++at_];
  if (**value == '\0') return Error((std::string("empty ") + what + " after ").c_str(), option);
  return true;
}

bool OptionParser::Error(const char* message, const char* detail) {
  error_ = std::string(message) + detail;
  return false;
}
