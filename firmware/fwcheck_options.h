// fwcheck's command line: its options read into one structure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Options {
  bool update = false;
  bool oemFilter = false;
  bool json = false;
  bool detailedExitCode = false;
  bool help = false;
  bool version = false;
  std::vector<const char*> supported;
  std::vector<const char*> skipped;
  const char* debugLog = nullptr;
  const char* toolDirectory = nullptr;
  uint32_t timeoutMs = 0;
};

// Reads argv[1..argc-1] into `options`; the values point into argv.
class OptionParser {
 public:
  OptionParser(int argc, char** argv, Options* options)
      : argc_(argc), argv_(argv), options_(options) {}

  // False, with the reason in `error()`, when the arguments are not usable.
  bool Parse();

  const std::string& error() const { return error_; }

 private:
  bool TakeOption(const char* arg);
  bool TakeListEntry(const char* option, std::vector<const char*>* list);
  // The option's value, never empty: an empty part number would leave out
  // every device or none.
  bool TakeValue(const char* option, const char* what, const char** value);
  bool Error(const char* message, const char* detail = "");

  int argc_;
  char** argv_;
  Options* options_;
  int at_ = 1;
  std::string error_;
};
