// The program's own arguments natively: bytes, passed on as the caller gave them.
#include "platform/command_line.h"

namespace os {

bool ProgramArguments::Read(int argc, char** argv, std::vector<std::string>* arguments) {
  arguments->assign(argv, argv + argc);
  return true;
}

}  // namespace os
