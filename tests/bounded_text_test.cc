#include "common/bounded_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using text::kInsufficientBuffer;
using text::kInvalidArgument;
using text::kOk;

TEST(BoundedTextTest, Append) {
  struct Case {
    const char* before;
    size_t capacity;
    std::string chunk;
    size_t count;
    text::Result result;
    std::string after;
  };
  // clang-format off
  const Case cases[] = {
      {"", 10, "abc", 3, kOk, "abc"},
      {"xy", 10, "abc", 3, kOk, "xyabc"},
      {"", 10, "abcdefghijkl", 12, kInsufficientBuffer, "abcdefghi"},
      {"", 10, "abcdefghi", 9, kOk, "abcdefghi"},
      {"abcdefghi", 10, "j", 1, kInsufficientBuffer, "abcdefghi"},
      {"", 10, std::string("ab\0de", 5), 5, kOk, "ab"},
      {"", 10, "abcdef", 2, kOk, "ab"},
      {"", 1, "a", 1, kInsufficientBuffer, ""},
      {"", 10, "", 0, kOk, ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof(buffer));
    std::strcpy(buffer, c.before);
    EXPECT_EQ(text::AppendBounded(buffer, c.capacity, c.chunk.data(), c.count), c.result)
        << c.chunk;
    EXPECT_EQ(std::string(buffer), c.after) << c.chunk;
    EXPECT_EQ(buffer[c.capacity], '#') << "wrote past the capacity: " << c.chunk;
  }
}

TEST(BoundedTextTest, AppendRejectsBadCapacityAndUnterminatedText) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(text::AppendBounded(buffer, 0, "a", 1), kInvalidArgument);
  EXPECT_EQ(text::AppendBounded(buffer, static_cast<size_t>(-5), "a", 1), kInvalidArgument);
  EXPECT_EQ(text::AppendBounded(buffer, sizeof(buffer), "a", 1), kInvalidArgument);
  EXPECT_EQ(std::string(buffer, sizeof(buffer)), "xxxxxxxx");
}

// Every call starts from the same bytes and the whole buffer is compared, so a
// text left unterminated fails here, the same way on every run, instead of
// being read on into whatever the stack held.
TEST(BoundedTextTest, Format) {
  struct Case {
    size_t capacity;
    const char* argument;
    text::Result result;
    std::string buffer;  // all 8 bytes afterwards
  };
  // clang-format off
  const Case cases[] = {
      {8, "abcde", kOk, std::string("abcde\\x\0", 8)},
      {8, "abcdef", kInsufficientBuffer, std::string("abcdef\\\0", 8)},
      {8, "abcdefghij", kInsufficientBuffer, std::string("abcdefg\0", 8)},
      {3, "abcde", kInsufficientBuffer, std::string("ab\0#####", 8)},
      {1, "a", kInsufficientBuffer, std::string("\0#######", 8)},
      {0, "a", kInvalidArgument, "########"},
  };
  // clang-format on
  for (const Case& c : cases) {
    char buffer[8];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(text::FormatBounded(buffer, c.capacity, "%s\\x", c.argument), c.result)
        << c.argument << " into " << c.capacity;
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), c.buffer)
        << c.argument << " into " << c.capacity;
  }
}

TEST(BoundedTextTest, Copy) {
  char buffer[4];
  EXPECT_EQ(text::CopyBounded(buffer, sizeof(buffer), "abc"), kOk);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(text::CopyBounded(buffer, sizeof(buffer), "abcd"), kInsufficientBuffer);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(text::CopyBounded(buffer, 0, "a"), kInvalidArgument);
}

}  // namespace

// The conversions the program formats with, and what an unknown one does.
TEST(BoundedTextTest, FormatConversions) {
  using Formatter = text::Result (*)(char* buffer, size_t capacity);
  struct Case {
    Formatter format;
    size_t capacity;
    text::Result result;
    const char* text;
  };
  // clang-format off
  const Case cases[] = {
      {[](char* b, size_t n) { return text::FormatBounded(b, n, "%lu", 4294967295ul); }, 16, kOk,
       "4294967295"},
      {[](char* b, size_t n) { return text::FormatBounded(b, n, "%lu|%u", 0ul, 7u); }, 16, kOk,
       "0|7"},
      {[](char* b, size_t n) { return text::FormatBounded(b, n, "%d %d", -2147483647 - 1, 42); },
       16, kOk, "-2147483648 42"},
      {[](char* b, size_t n) { return text::FormatBounded(b, n, "100%% of %s", "it"); }, 16, kOk,
       "100% of it"},
      {[](char* b, size_t n) { return text::FormatBounded(b, n, "a%db", 123456789); }, 8,
       kInsufficientBuffer, "a123456"},
      {[](char* b, size_t n) { return text::FormatBounded(b, n, "ok %x then", 255u); }, 16,
       kInsufficientBuffer, "ok "},
  };
  // clang-format on
  for (const Case& c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(c.format(buffer, c.capacity), c.result) << c.text;
    EXPECT_EQ(std::string(buffer), c.text);
  }
}
