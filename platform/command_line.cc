#include "platform/command_line.h"

namespace os {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program name: up to the next quote when it begins with one, otherwise
// up to the first blank; backslashes are never special in it.
const char* TakeProgramName(const char* p, std::string* name) {
  if (*p == '"') {
    for (++p; *p != '\0' && *p != '"'; ++p) name->push_back(*p);
    if (*p == '"') ++p;
  } else {
    for (; *p != '\0' && !IsBlank(*p); ++p) name->push_back(*p);
  }
  return p;
}

const char* TakeArgument(const char* p, std::string* argument) {
  bool quoted = false;
  while (*p != '\0' && (quoted || !IsBlank(*p))) {
    size_t backslashes = 0;
    while (*p == '\\') {
      ++backslashes;
      ++p;
    }
    if (*p == '"') {
      argument->append(backslashes / 2, '\\');
      if (backslashes % 2 == 1) {
        argument->push_back('"');
      } else if (quoted && p[1] == '"') {
        argument->push_back('"');  // "" inside quotes stands for one quote
        ++p;
      } else {
        quoted = !quoted;
      }
      ++p;
    } else {
      argument->append(backslashes, '\\');
      if (*p != '\0' && (quoted || !IsBlank(*p))) argument->push_back(*p++);
    }
  }
  return p;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const char* command_line) {
  std::vector<std::string> arguments;
  const char* p = command_line;
  while (IsBlank(*p)) ++p;
  if (*p == '\0') return arguments;
  arguments.emplace_back();
  p = TakeProgramName(p, &arguments.back());
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') return arguments;
    arguments.emplace_back();
    p = TakeArgument(p, &arguments.back());
  }
}

ProgramArguments::ProgramArguments(int argc, char** argv) : exact_(Read(argc, argv, &arguments_)) {
  for (std::string& argument : arguments_) pointers_.push_back(&argument[0]);
  pointers_.push_back(nullptr);
}

}  // namespace os
