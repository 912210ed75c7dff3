// The program's arguments from the UTF-16 command line Windows keeps.
#pragma once

#include <string>
#include <vector>

namespace os {

// `command_line` split by the C runtime's rules, then each argument in
// `code_page`; false when a character has no exact form there, the arguments
// then holding stand-ins as TextInCodePage gives them.
bool ArgumentsOfCommandLine(const wchar_t* command_line, unsigned code_page,
                            std::vector<std::string>* arguments);

}  // namespace os
