#pragma once

#include <cstdint>
#include <string>

// The decimal text of the value.
std::string IntToString(std::int32_t value);
