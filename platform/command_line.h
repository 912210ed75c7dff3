// Splitting a Windows command line into its arguments, by the rules of the
// Microsoft C runtime: blanks and tabs separate, double quotes group,
// 2n backslashes before a quote give n backslashes, 2n+1 give n and a quote.
#pragma once

#include <string>
#include <vector>

namespace os {

std::vector<std::string> SplitCommandLine(const char* command_line);

}  // namespace os
