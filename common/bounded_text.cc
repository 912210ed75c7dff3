#include "common/bounded_text.h"

#include <cstring>

namespace text {
namespace {

bool ValidCapacity(size_t capacity) { return capacity >= 1 && capacity <= kMaxCapacity; }

// Copies from `source` to `destination` while room is left, at most `count`
// bytes, stopping at a NUL. A copy that fills the buffer to its last byte gives
// up that byte to the terminator and fails.
Result CopyWithin(char* destination, size_t room, const char* source, size_t count) {
  while (room > 0 && count > 0 && *source != '\0') {
    *destination++ = *source++;
    --room;
    --count;
  }
  if (room == 0) {
    destination[-1] = '\0';
    return kInsufficientBuffer;
  }
  *destination = '\0';
  return kOk;
}

}  // namespace

Result CopyBounded(char* destination, size_t capacity, const char* source) {
  if (!ValidCapacity(capacity)) return kInvalidArgument;
  return CopyWithin(destination, capacity, source, kMaxCapacity);
}

Result AppendBounded(char* destination, size_t capacity, const char* source, size_t count) {
  if (!ValidCapacity(capacity)) return kInvalidArgument;
  const void* end = std::memchr(destination, '\0', capacity);
  if (end == nullptr || count > kMaxCapacity - 1) return kInvalidArgument;
  size_t length = static_cast<size_t>(static_cast<const char*>(end) - destination);
  return CopyWithin(destination + length, capacity - length, source, count);
}

}  // namespace text
