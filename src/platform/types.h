// Scalar types of the checkout logic: Integer is 16-bit signed, Long 32-bit signed,
// Single 32-bit floating point.
#pragma once

#include <cstdint>

namespace kc {

using Integer = std::int16_t;
using Long = std::int32_t;
using Single = float;

}  // namespace kc
