// The bounded text operations against the system's own StringCchPrintfA and
// StringCchCatNA: for the same inputs, the same result and the same bytes in
// the whole buffer, including what lies beyond the terminator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/bounded_text.h"

#define STRSAFE_NO_DEPRECATE
#include <strsafe.h>

namespace {

constexpr size_t kBufferSize = 64;

std::vector<char> Filled(const std::string& before) {
  std::vector<char> buffer(kBufferSize, '#');
  std::memcpy(buffer.data(), before.data(), before.size());
  return buffer;
}

TEST(StrsafeDifferentialTest, FormatMatchesStringCchPrintfA) {
  const size_t capacities[] = {0, 1, 2, 5, 21, 22, 23, 40, kBufferSize};
  const char* folders[] = {"", "C", "C:\\t", "C:\\tools\\fw", "C:\\Program Files\\Vantreo\\fw"};
  const char* formats[] = {"%s\\flashkeeper.exe --no", "%s\\flashkeeper.exe -u -y",
                           "\"%s\\flashkeeper.exe\" --no"};
  for (size_t capacity : capacities) {
    for (const char* folder : folders) {
      for (const char* format : formats) {
        std::vector<char> ours = Filled("old");
        std::vector<char> theirs = Filled("old");
        HRESULT expected = StringCchPrintfA(theirs.data(), capacity, format, folder);
        text::Result actual = text::FormatBounded(ours.data(), capacity, format, folder);
        SCOPED_TRACE(std::string(format) + " / " + folder + " / " + std::to_string(capacity));
        EXPECT_EQ(actual, static_cast<text::Result>(expected));
        EXPECT_EQ(ours, theirs);
      }
    }
  }
}

// Beyond the largest capacity both refuse. The Windows SDK then terminates
// the buffer at its first byte, as the formatter does; this toolchain's
// header leaves it alone, so only the result is compared.
TEST(StrsafeDifferentialTest, FormatRefusesAnOversizedCapacity) {
  std::vector<char> ours = Filled("old");
  std::vector<char> theirs = Filled("old");
  const size_t oversized = size_t{2147483648u};
  EXPECT_EQ(text::FormatBounded(ours.data(), oversized, "%s", "x"),
            static_cast<text::Result>(StringCchPrintfA(theirs.data(), oversized, "%s", "x")));
  EXPECT_EQ(ours[0], '\0');
}

TEST(StrsafeDifferentialTest, AppendMatchesStringCchCatNA) {
  const size_t capacities[] = {0, 1, 2, 9, 10, 11, 20, kBufferSize, size_t{2147483648u}};
  const std::string befores[] = {"", "abc", "abcdefgh", "abcdefghi", "abcdefghij"};
  const std::string chunks[] = {
      "", "x", "xyz", "0123456789ab", std::string("ab\0de", 5), std::string("\0z", 2)};
  const size_t counts[] = {0, 1, 3, 5, 12, 4096};
  for (size_t capacity : capacities) {
    for (const std::string& before : befores) {
      for (const std::string& chunk : chunks) {
        for (size_t count : counts) {
          std::string source = chunk;
          source.resize(std::max(count, chunk.size()) + 1, '\0');  // readable up to count
          std::vector<char> ours = Filled(before + std::string(1, '\0'));
          std::vector<char> theirs = ours;
          // A capacity beyond the buffer is only handed over where it is refused at once.
          if (capacity > kBufferSize && capacity <= text::kMaxCapacity) continue;
          HRESULT expected = StringCchCatNA(theirs.data(), capacity, source.data(), count);
          text::Result actual = text::AppendBounded(ours.data(), capacity, source.data(), count);
          SCOPED_TRACE(before + " + " + std::to_string(chunk.size()) + " bytes, count " +
                       std::to_string(count) + ", capacity " + std::to_string(capacity));
          EXPECT_EQ(actual, static_cast<text::Result>(expected));
          EXPECT_EQ(ours, theirs);
        }
      }
    }
  }
}

TEST(StrsafeDifferentialTest, AppendToUnterminatedText) {
  std::vector<char> ours(16, 'x');
  std::vector<char> theirs = ours;
  EXPECT_EQ(text::AppendBounded(ours.data(), ours.size(), "a", 1),
            static_cast<text::Result>(StringCchCatNA(theirs.data(), theirs.size(), "a", 1)));
  EXPECT_EQ(ours, theirs);
}

}  // namespace
