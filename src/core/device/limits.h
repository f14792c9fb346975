// SPDX-License-Identifier: MIT
#pragma once
// Silent range limiting of every value that the operator types into the wavelength panel.

#include <cstdint>

namespace filter {

// The wavelength limits in force.
struct Limits {
    std::int32_t swMin = 0;
    std::int32_t swMax = 0;
};

enum LimitKind : std::int32_t {
    kWavelength = 0, // swMin .. swMax
    kSteps = 1,      // 1 .. 30: fine tuning amounts and the scan span
    kStayTime = 2,   // 1 .. 300, in units of 100 ms
};

// Forces nVal into the range of kind nType. For wavelengths the lower bound is applied first, so swapped
// limits (swMin above swMax) always give swMax. Any other kind returns nVal unchanged.
std::int32_t setLimit(std::int32_t nType, std::int32_t nVal, std::int32_t swMin, std::int32_t swMax);

} // namespace filter
