// SPDX-License-Identifier: MIT
// The number reader on arbitrary text: whatever an operator types, a settings file holds or a calibration
// file carries, reading must not crash and the rounding must keep its promises.

#include "device/number.h"

#include <QString>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Independent of the reader's own rounding: the FPU's round-to-nearest-even.
template <typename Int> bool fitsNearest(double x, double& nearest) {
    if (!std::isfinite(x))
        return false;
    nearest = std::nearbyint(x);
    return nearest >= static_cast<double>(std::numeric_limits<Int>::min()) &&
           nearest <= static_cast<double>(std::numeric_limits<Int>::max());
}

bool sameDouble(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

void checkText(QStringView text) {
    const double x = filter::readNumber(text);
    check(!std::isnan(x), "readNumber never gives NaN");

    const auto r32 = filter::roundToInt32(x);
    const auto r16 = filter::roundToInt16(x);
    double nearest = 0;
    check(r32.has_value() == fitsNearest<std::int32_t>(x, nearest),
          "32-bit failure exactly when out of range");
    if (r32) {
        check(static_cast<double>(*r32) == nearest, "32-bit rounding is to nearest, halves to even");
        check(std::fabs(x - *r32) <= 0.5, "32-bit result within a half of the number");
    }
    check(r16.has_value() == fitsNearest<std::int16_t>(x, nearest),
          "16-bit failure exactly when out of range");
    if (r16) {
        check(static_cast<double>(*r16) == nearest, "16-bit rounding is to nearest, halves to even");
        check(r32 && *r32 == *r16, "a 16-bit result is also the 32-bit result");
    }

    check(filter::wholeValue(text) == r32, "wholeValue is roundToInt32(readNumber)");
    check(filter::wholeValue16(text) == r16, "wholeValue16 is roundToInt16(readNumber)");

    // Blanks, tabs and line feeds may stand anywhere in a number, so taking them all out changes nothing.
    QString packed;
    packed.reserve(text.size());
    for (QChar c : text)
        if (c != u' ' && c != u'\t' && c != u'\n')
            packed.append(c);
    check(sameDouble(filter::readNumber(packed), x), "blanks, tabs and line feeds are skipped anywhere");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool roundingSet = std::fesetround(FE_TONEAREST) == 0;
    (void)roundingSet;
    const auto* bytes = reinterpret_cast<const char*>(data);
    const auto n = static_cast<qsizetype>(size);
    // Settings and calibration files are read as Latin-1; boxes can hold any character.
    checkText(QString::fromLatin1(bytes, n));
    if (size >= 2)
        checkText(QStringView(reinterpret_cast<const char16_t*>(data), n / 2));
    return 0;
}
