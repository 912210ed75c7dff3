#include <cstdarg>
#include <cstdio>

#include "common/bounded_text.h"

// Apart from the other operations: the printf machinery is large, and the
// setup program, which needs only the copy, must not carry it.
namespace text {

Result FormatBounded(char* destination, size_t capacity, const char* format, ...) {
  if (capacity < 1 || capacity > kMaxCapacity) {
    if (capacity != 0) destination[0] = '\0';
    return kInvalidArgument;
  }
  va_list arguments;
  va_start(arguments, format);
#ifdef _WIN32
  // The C runtime's own formatter, the one the system's StringCchPrintfA
  // uses; MinGW's C99 one would add some 20 KB to every program that formats.
  // It leaves the text unterminated when it fills `count` bytes and gives -1
  // when it is longer.
  size_t count = capacity - 1;
  int written = _vsnprintf(destination, count, format, arguments);
  va_end(arguments);
  if (written < 0 || static_cast<size_t>(written) == count) destination[count] = '\0';
  return written >= 0 ? kOk : kInsufficientBuffer;
#else
  int needed = std::vsnprintf(destination, capacity, format, arguments);
  va_end(arguments);
  if (needed < 0) {
    destination[0] = '\0';
    return kInsufficientBuffer;
  }
  // vsnprintf already keeps the first capacity - 1 bytes and terminates them.
  return static_cast<size_t>(needed) < capacity ? kOk : kInsufficientBuffer;
#endif
}

}  // namespace text
