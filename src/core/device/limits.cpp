// SPDX-License-Identifier: MIT
#include "device/limits.h"

namespace filter {

std::int32_t setLimit(std::int32_t nType, std::int32_t nVal, std::int32_t swMin, std::int32_t swMax) {
    std::int32_t r = nVal;
    switch (nType) {
    case kWavelength:
        // The lower bound first: with swapped limits the upper one has the last word.
        if (r < swMin)
            r = swMin;
        if (r > swMax)
            r = swMax;
        break;
    case kSteps:
        if (r < 1)
            r = 1;
        if (r > 30)
            r = 30;
        break;
    case kStayTime:
        if (r < 1)
            r = 1;
        if (r > 300)
            r = 300;
        break;
    default:
        break;
    }
    return r;
}

} // namespace filter
