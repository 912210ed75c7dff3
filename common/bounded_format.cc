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
  int needed = std::vsnprintf(destination, capacity, format, arguments);
  va_end(arguments);
  if (needed < 0) {
    destination[0] = '\0';
    return kInsufficientBuffer;
  }
  // vsnprintf already keeps the first capacity - 1 bytes and terminates them.
  return static_cast<size_t>(needed) < capacity ? kOk : kInsufficientBuffer;
}

}  // namespace text
