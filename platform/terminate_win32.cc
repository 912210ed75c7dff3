// Linked into each shipped Windows program as an object of its own, so that
// it replaces the runtime's default handler for an uncaught exception. The
// program's own code never throws; the default handler would bring a 45 KB
// name demangler along.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
