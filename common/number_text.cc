#include "common/number_text.h"

#include "common/bounded_text.h"

// By the bounded formatter, which the programs carry anyway: printf would
// add its whole machinery.
std::string NumberText(int32_t value) {
  char text[12];  // a sign and 10 digits
  text::FormatBounded(text, sizeof(text), "%d", static_cast<int>(value));
  return text;
}

std::string NumberText(uint32_t value) {
  char text[11];  // 10 digits
  text::FormatBounded(text, sizeof(text), "%lu", static_cast<unsigned long>(value));
  return text;
}
