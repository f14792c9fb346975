// SPDX-License-Identifier: MIT
// Windows reads its fonts through the system's own font service: there is no configuration to read ahead.
#include "fontwarmup.h"

FontWarmUp::FontWarmUp() = default;

FontWarmUp::~FontWarmUp() = default;

void FontWarmUp::wait() {}
