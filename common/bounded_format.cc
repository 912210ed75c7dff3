#include <cstdarg>
#include <cstdio>

#include "common/bounded_text.h"

// Apart from the other operations: the printf machinery is large, and the
// setup program, which needs only the copy, must not carry it.
namespace text {
namespace {

// On Windows the C runtime's own formatter, the one StringCchPrintfA uses:
// MinGW's C99 one would add some 20 KB to every program that formats. It
// gives -1 for a text that does not fit, which the caller handles.
int FormatInto(char* destination, size_t capacity, const char* format, va_list arguments) {
#ifdef _WIN32
  return _vsnprintf(destination, capacity, format, arguments);
#else
  return std::vsnprintf(destination, capacity, format, arguments);
#endif
}

}  // namespace

Result FormatBounded(char* destination, size_t capacity, const char* format, ...) {
  if (capacity < 1 || capacity > kMaxCapacity) {
    if (capacity != 0) destination[0] = '\0';
    return kInvalidArgument;
  }
  va_list arguments;
  va_start(arguments, format);
  int needed = FormatInto(destination, capacity, format, arguments);
  va_end(arguments);
  if (needed >= 0 && static_cast<size_t>(needed) < capacity) return kOk;
  // Cut to the first capacity - 1 bytes. Terminated here, not left to
  // vsnprintf: C runtimes differ on a text that does not fit, and one leaves
  // it unterminated.
  destination[capacity - 1] = '\0';
  return kInsufficientBuffer;
}

}  // namespace text
