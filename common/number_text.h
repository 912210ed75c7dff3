// Numbers as text, the one way the programs write them: decimal digits, a
// minus sign before a negative number.
#pragma once

#include <cstdint>
#include <string>

std::string NumberText(int32_t value);
std::string NumberText(uint32_t value);
