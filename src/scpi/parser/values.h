// SPDX-License-Identifier: MIT
#pragma once
// The value a numeric parameter stands for, in the quantity's default unit (a number without a suffix is in
// it): a decimal number with an optional suffix of the quantity's unit and SCPI's multipliers (NM, UM,
// 1.55E-6M; THZ, GHZ, MHZ; S, MS), a #H/#Q/#B number, or MIN, MAX and DEF from the bounds the instrument
// gives. And the forms of the answers.

#include "parser/lexer.h"

#include <optional>
#include <variant>

namespace scpi {

enum class Quantity {
    Count,      // no unit
    Wavelength, // nanometres; suffix M
    Frequency,  // terahertz; suffix HZ
    Time,       // seconds; suffix S
};

struct Bounds {
    double min = 0;
    double max = 0;
    std::optional<double> def; // none: DEF is an illegal value
};

std::variant<double, Error> numeric(const Param& param, Quantity quantity, const Bounds& bounds);

// SCPI's "not a number", for an answer that is not known (nothing sent yet).
inline constexpr double kNotANumber = 9.91e37;

// A whole number as NR1 ("1550"), any other as NR3 with up to 10 significant digits ("193.414489",
// "9.91E+37").
QByteArray number(double value);
// String response data: in double quotes, those inside doubled.
QByteArray quoted(QByteArrayView text);

} // namespace scpi
