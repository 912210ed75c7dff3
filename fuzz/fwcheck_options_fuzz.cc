// Feeds arbitrary argument vectors to fwcheck's option parser: the input's
// NUL-separated pieces are the arguments after the program's name.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "firmware/fwcheck_options.h"

namespace {

bool IsBlank(const char* text) { return text[std::strspn(text, " \t\r\n\v\f")] == '\0'; }

bool AnyBlank(const std::vector<const char*>& entries) {
  for (const char* entry : entries) {
    if (IsBlank(entry)) return true;
  }
  return false;
}

// What a successful parse promises the program: a tool folder to run, lists
// it can use and no time limit on an update.
bool Usable(const Options& options) {
  if (options.help || options.version) return true;
  return options.toolDirectory != nullptr && *options.toolDirectory != '\0' &&
         (options.supported.empty() || options.skipped.empty()) &&
         !(options.update && options.timeoutMs != 0) && options.timeoutMs % 1000 == 0 &&
         !AnyBlank(options.supported) && !AnyBlank(options.skipped) &&
         (options.debugLog == nullptr || *options.debugLog != '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Each argument its own allocation, so that reading past one is reported.
  std::vector<std::string> pieces(1, "fwcheck");
  std::string piece;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\0') {
      pieces.push_back(piece);
      piece.clear();
    } else {
      piece += static_cast<char>(data[i]);
    }
  }
  std::vector<char*> argv;
  for (std::string& arg : pieces) argv.push_back(&arg[0]);
  argv.push_back(nullptr);

  Options options;
  OptionParser parser(static_cast<int>(pieces.size()), argv.data(), &options);
  bool parsed = parser.Parse();
  // An answer either way: usable options, or a reason to show.
  if (parsed ? !Usable(options) || !parser.error().empty() : parser.error().empty()) std::abort();
  return 0;
}
