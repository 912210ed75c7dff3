// Bounded text operations on fixed buffers. Each always terminates what it
// writes, cuts what does not fit, and says so by its result.
#pragma once

#include <cstddef>
#include <cstdint>

namespace text {

using Result = int32_t;  // an HRESULT
inline constexpr Result kOk = 0;
inline constexpr Result kInvalidArgument = static_cast<Result>(0x80070057u);  // E_INVALIDARG
inline constexpr Result kInsufficientBuffer =
    static_cast<Result>(0x8007007Au);  // STRSAFE_E_INSUFFICIENT_BUFFER
// Largest capacity in bytes the operations accept.
inline constexpr size_t kMaxCapacity = 2147483647;

// Copies `source` into `destination`.
Result CopyBounded(char* destination, size_t capacity, const char* source);

// Appends at most `count` bytes of `source` to the text in `destination`,
// stopping early at a NUL in `source`.
Result AppendBounded(char* destination, size_t capacity, const char* source, size_t count);

// Formats by the printf conventions into `destination`. Knows the conversions
// %s, %d, %u, %lu and %%, without flags, widths or precisions; at any other
// the text so far is kept and the result is kInsufficientBuffer, as for a
// formatting failure.
Result FormatBounded(char* destination, size_t capacity, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

}  // namespace text
