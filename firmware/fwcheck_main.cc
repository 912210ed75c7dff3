// fwcheck: the firmware check as a command.
//
//   fwcheck [--update] [--oem-filter] [--supported PN]... [--skip PN]...
//           [--debuglog FILE] [--json] TOOL_DIR
//
// Exit codes: 0 the check ran (result 0); 1 the check failed (result not 0);
// 2 bad usage.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "firmware/invocation.h"
#include "platform/os.h"
#include "setup/debug_log.h"

namespace {

constexpr int kExitCheckRan = 0;
constexpr int kExitCheckFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: fwcheck [--update] [--oem-filter] [--supported PN]... [--skip PN]...\n"
    "               [--debuglog FILE] [--json] TOOL_DIR\n"
    "Runs TOOL_DIR\\flashkeeper.exe (query mode unless --update) and reports whether\n"
    "a firmware update is required. --supported keeps only devices whose part number\n"
    "line holds one of the given texts; --skip leaves those devices out (not both).\n"
    "--oem-filter leaves out devices whose PSID does not begin with \"QV_\".\n"
    "Exit codes: 0 the check ran, 1 the check failed, 2 bad usage.\n";

struct Options {
  bool update = false;
  bool oemFilter = false;
  bool json = false;
  bool help = false;
  std::vector<const char*> supported;
  std::vector<const char*> skipped;
  const char* debugLog = nullptr;
  const char* toolDirectory = nullptr;
};

bool UsageError(const char* message, const char* detail = "") {
  std::fprintf(stderr, "fwcheck: %s%s\n%s", message, detail, kUsage);
  return false;
}

// Parses the arguments; false, after saying why, when they are not usable.
bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    auto takeValue = [&](const char** value) {
      if (i + 1 >= argc) return false;
      *value = argv[++i];
      return true;
    };
    const char* value = nullptr;
    if (std::strcmp(arg, "--update") == 0) {
      options->update = true;
    } else if (std::strcmp(arg, "--oem-filter") == 0) {
      options->oemFilter = true;
    } else if (std::strcmp(arg, "--json") == 0) {
      options->json = true;
    } else if (std::strcmp(arg, "--supported") == 0) {
      if (!takeValue(&value)) return UsageError("missing part number after ", arg);
      options->supported.push_back(value);
    } else if (std::strcmp(arg, "--skip") == 0) {
      if (!takeValue(&value)) return UsageError("missing part number after ", arg);
      options->skipped.push_back(value);
    } else if (std::strcmp(arg, "--debuglog") == 0) {
      if (!takeValue(&options->debugLog)) return UsageError("missing file after ", arg);
    } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      options->help = true;
      return true;
    } else if (arg[0] == '-' && arg[1] == '-') {
      return UsageError("unknown option ", arg);
    } else if (options->toolDirectory != nullptr) {
      return UsageError("more than one tool folder: ", arg);
    } else {
      options->toolDirectory = arg;
    }
  }
  if (options->toolDirectory == nullptr) return UsageError("no tool folder given");
  if (!options->supported.empty() && !options->skipped.empty()) {
    return UsageError("--supported and --skip cannot be given together");
  }
  return true;
}

const char* StatusMeaning(int32_t status) {
  static const char* const kMeanings[] = {
      "no problem seen",
      "an update was reported",
      "an update is required",
      "the tool's command line did not build",
      "up to date",
      "a device failed to open",
      "no matching image found",
      "multiple image files found",
      "a forced update is required",
      "mixed versions",
      "unknown status message",
  };
  return status >= 0 && status <= 10 ? kMeanings[status] : "unknown status";
}

const char* ResultMeaning(int32_t result) {
  switch (result) {
    case 0:
      return "the tool ran and its report was classified";
    case 5000:
      return "the tool could not be started";
    case 5001:
      return "reading the tool's output failed";
    case 5002:
      return "the output pipe could not be created";
    case 5004:
      return "the tool's output did not fit in 102399 bytes";
    case kFwCommandLineTooLong:
      return "the tool's command line is too long";
    default:
      return "the tool's exit code; it was not seen to end";
  }
}

void PrintResult(const Options& options, int32_t status, int32_t result) {
  if (options.json) {
    std::printf(
        "{\"status\": %d, \"status_meaning\": \"%s\", \"result\": %d, \"result_meaning\": "
        "\"%s\", \"mode\": \"%s\"}\n",
        static_cast<int>(status), StatusMeaning(status), static_cast<int>(result),
        ResultMeaning(result), options.update ? "update" : "query");
  } else {
    std::printf("status: %d (%s)\nresult: %d (%s)\n", static_cast<int>(status),
                StatusMeaning(status), static_cast<int>(result), ResultMeaning(result));
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything may load a DLL: never from the program's own folder.
  os::RestrictDllSearch();
  Options options;
  if (!ParseOptions(argc, argv, &options)) return kExitUsage;
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitCheckRan;
  }
  if (options.debugLog != nullptr && !OpenDebugLog(options.debugLog)) {
    std::fprintf(stderr, "fwcheck: cannot open the debug log %s\n", options.debugLog);
    return kExitCheckFailed;
  }
  bool supportedList = !options.supported.empty();
  const std::vector<const char*>& list = supportedList ? options.supported : options.skipped;
  int32_t status = kFwUpToDate;
  int32_t result = CheckAndUpdateFirmware(0, options.toolDirectory, options.update ? 0 : 1,
                                          options.oemFilter, &status, list.data(),
                                          static_cast<int32_t>(list.size()), supportedList);
  CloseDebugLog();
  PrintResult(options, status, result);
  return result == 0 ? kExitCheckRan : kExitCheckFailed;
}
