#include <cstdarg>
#include <cstdint>

#include "common/bounded_text.h"

// Formatted by hand rather than by vsnprintf: the C runtime's printf machinery
// is about a sixth of a program of this size, and runtimes differ on a text
// that does not fit. Only the conversions the program uses are known.
namespace text {
namespace {

// Writes into a buffer of `capacity` bytes, keeping room for the terminator;
// remembers whether anything had to be left out.
class BoundedWriter {
 public:
  BoundedWriter(char* destination, size_t capacity)
      : destination_(destination), room_(capacity - 1) {}

  void Put(char c) {
    if (length_ < room_) {
      destination_[length_++] = c;
    } else {
      cut_ = true;
    }
  }
  void Put(const char* text) {
    for (; *text != '\0'; ++text) Put(*text);
  }
  void PutDecimal(uint64_t value, bool negative) {
    char digits[20];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    if (negative) Put('-');
    while (count > 0) Put(digits[--count]);
  }
  void Fail() { cut_ = true; }

  Result Finish() {
    destination_[length_] = '\0';
    return cut_ ? kInsufficientBuffer : kOk;
  }

 private:
  char* destination_;
  size_t room_;
  size_t length_ = 0;
  bool cut_ = false;
};

// Applies the conversion that begins just after a '%'; returns where the
// format goes on, or nullptr for a conversion this formatter does not know.
const char* Convert(const char* conversion, va_list& arguments, BoundedWriter& out) {
  switch (*conversion) {
    case '%':
      out.Put('%');
      return conversion + 1;
    case 's': {
      const char* text = va_arg(arguments, const char*);
      out.Put(text != nullptr ? text : "(null)");
      return conversion + 1;
    }
    case 'd': {
      int value = va_arg(arguments, int);
      int64_t wide = value;
      out.PutDecimal(static_cast<uint64_t>(wide < 0 ? -wide : wide), wide < 0);
      return conversion + 1;
    }
    case 'u':
      out.PutDecimal(va_arg(arguments, unsigned int), false);
      return conversion + 1;
    case 'l':
      if (conversion[1] != 'u') return nullptr;
      out.PutDecimal(va_arg(arguments, unsigned long), false);
      return conversion + 2;
    default:
      return nullptr;
  }
}

}  // namespace

Result FormatBounded(char* destination, size_t capacity, const char* format, ...) {
  if (capacity < 1 || capacity > kMaxCapacity) {
    if (capacity != 0) destination[0] = '\0';
    return kInvalidArgument;
  }
  BoundedWriter out(destination, capacity);
  va_list arguments;
  va_start(arguments, format);
  for (const char* at = format; *at != '\0';) {
    if (*at != '%') {
      out.Put(*at++);
      continue;
    }
    at = Convert(at + 1, arguments, out);
    if (at == nullptr) {
      out.Fail();
      break;
    }
  }
  va_end(arguments);
  return out.Finish();
}

}  // namespace text
