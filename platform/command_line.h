// Splitting a Windows command line into its arguments, by the rules of the
// Microsoft C runtime: blanks and tabs separate, double quotes group,
// 2n backslashes before a quote give n backslashes, 2n+1 give n and a quote.
#pragma once

#include <string>
#include <vector>

namespace os {

std::vector<std::string> SplitCommandLine(const char* command_line);

// The program's arguments as main() takes them, the program's name first,
// each character in the process's code page exactly. On Windows they come
// from the UTF-16 command line, split by the rules above: the C runtime's
// own argv holds a look-alike (best fit: "ő" becomes "o") for a character
// the code page lacks, which can name another file or folder. Natively they
// are argc and argv as they are.
class ProgramArguments {
 public:
  ProgramArguments(int argc, char** argv);
  ProgramArguments(const ProgramArguments&) = delete;
  ProgramArguments& operator=(const ProgramArguments&) = delete;

  // False when some character has no exact form in the code page: it then
  // stands as the code page's default character, and no argument may be used
  // as a name.
  bool exact() const { return exact_; }
  int count() const { return static_cast<int>(arguments_.size()); }
  // As argv: count() arguments, then a null.
  char** values() { return pointers_.data(); }

 private:
  // Per backend: fills `arguments`; false when a character has no exact form.
  static bool Read(int argc, char** argv, std::vector<std::string>* arguments);

  std::vector<std::string> arguments_;
  std::vector<char*> pointers_;
  bool exact_;
};

}  // namespace os
