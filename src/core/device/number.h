// SPDX-License-Identifier: MIT
#pragma once
// The one number reader of the program: every box, settings value, auto-mode wait and calibration field is
// read through it, so "1,550", "15 50 nm" and "&H60E" mean the same everywhere.

#include <QString>
#include <cstdint>
#include <optional>

namespace filter {

// The number that a text begins with. Blanks, tabs and line feeds are skipped anywhere; then an optional
// sign, digits with at most one "." and an optional exponent (E or D, either case, optional sign, digits).
// "&H" and "&O" (either case) introduce a hexadecimal or octal whole number. Reading stops at the first
// character that cannot continue the number; a text with no number at its front reads as 0. A number too
// large for a double reads as an infinity (which every rounding below rejects).
double readNumber(QStringView text);

// Rounds to the nearest whole number, halves to the even neighbour; empty when the result does not fit the
// width (or the number is not finite).
std::optional<std::int32_t> roundToInt32(double value);
std::optional<std::int16_t> roundToInt16(double value);

// readNumber followed by the rounding: the "whole value" of a box's text.
std::optional<std::int32_t> wholeValue(QStringView text);
std::optional<std::int16_t> wholeValue16(QStringView text);

} // namespace filter
