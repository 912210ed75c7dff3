// fwcheck's output: what the check found, as text or as one JSON object.
#pragma once

#include <string>

#include "firmware/fwcheck_options.h"
#include "firmware/invocation.h"

// What was found, or why there is no answer.
struct Verdict {
  const FirmwareCheckReport* report = nullptr;  // null: nothing ran
  std::string reason;                           // empty: the check gave an answer
  bool failed() const { return !reason.empty(); }
};

// The verdict on standard output: one line of JSON with --json, else, when
// the check ran, the status, the result and the devices one per line.
void PrintVerdict(const Options& options, const Verdict& verdict);

// `text` as a JSON string in pure ASCII: each character beyond ASCII as
// \uXXXX (a surrogate pair beyond the first plane), each byte that is not
// part of valid UTF-8 as \ufffd.
std::string JsonString(const char* text);
