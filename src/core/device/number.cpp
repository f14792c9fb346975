// SPDX-License-Identifier: MIT
#include "device/number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace filter {

namespace {

bool isSkipped(QChar c) {
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\t' || u == u'\n';
}

bool isDigit(char16_t u) {
    return u >= u'0' && u <= u'9';
}

// Walks a text while hiding the blanks, tabs and line feeds that may stand anywhere in a number.
class Cursor {
  public:
    explicit Cursor(QStringView text) : text_(text) { skip(); }
    bool atEnd() const { return pos_ >= text_.size(); }
    char16_t peek() const { return atEnd() ? u'\0' : text_[pos_].unicode(); }
    void next() {
        ++pos_;
        skip();
    }

  private:
    void skip() {
        while (pos_ < text_.size() && isSkipped(text_[pos_]))
            ++pos_;
    }
    QStringView text_;
    qsizetype pos_ = 0;
};

int digitValue(char16_t u, int radix) {
    int d = -1;
    if (u >= u'0' && u <= u'9')
        d = u - u'0';
    else if (u >= u'a' && u <= u'f')
        d = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        d = u - u'A' + 10;
    return d < radix ? d : -1;
}

// &H and &O numbers are whole and never negative. Up to 60 bits are gathered exactly; the digits beyond
// only scale the number, which by then is far outside every width the program converts to.
double readRadix(Cursor& cur, int radix) {
    const int bitsPerDigit = radix == 16 ? 4 : 3;
    std::uint64_t exact = 0;
    int exactBits = 0;
    long long extraDigits = 0;
    for (int d = digitValue(cur.peek(), radix); d >= 0; d = digitValue(cur.peek(), radix)) {
        if (exact == 0 && d == 0) {
            // leading zeros carry nothing
        } else if (exactBits + bitsPerDigit <= 60) {
            exact = (exact << bitsPerDigit) | static_cast<std::uint64_t>(d);
            exactBits += bitsPerDigit;
        } else if (extraDigits < 100000) {
            ++extraDigits;
        }
        cur.next();
    }
    return std::ldexp(static_cast<double>(exact), static_cast<int>(extraDigits * bitsPerDigit));
}

// Decimal numbers are gathered without their blanks into "digits e exponent" and converted by from_chars,
// which rounds correctly and ignores the locale (Qt sets the process locale, so strtod could expect ",").
double readDecimal(Cursor& cur) {
    bool negative = false;
    if (cur.peek() == u'+' || cur.peek() == u'-') {
        negative = cur.peek() == u'-';
        cur.next();
    }

    std::string digits;       // significant digits only: no leading zeros, no point
    long long pointShift = 0; // the power of ten that the point takes away from the digits
    bool sawDigit = false;
    bool sawPoint = false;
    constexpr long long kCap = 1'000'000'000LL; // far beyond any double; keeps the sums from overflowing
    for (;;) {
        const char16_t u = cur.peek();
        if (isDigit(u)) {
            sawDigit = true;
            if (!digits.empty() || u != u'0')
                digits.push_back(static_cast<char>(u));
            if (sawPoint && pointShift < kCap)
                ++pointShift;
        } else if (u == u'.' && !sawPoint) {
            sawPoint = true;
        } else {
            break;
        }
        cur.next();
    }
    if (!sawDigit)
        return 0.0;

    long long exponent = 0;
    const char16_t e = cur.peek();
    if (e == u'e' || e == u'E' || e == u'd' || e == u'D') {
        cur.next();
        bool expNegative = false;
        if (cur.peek() == u'+' || cur.peek() == u'-') {
            expNegative = cur.peek() == u'-';
            cur.next();
        }
        while (isDigit(cur.peek())) {
            if (exponent < kCap)
                exponent = exponent * 10 + (cur.peek() - u'0');
            cur.next();
        }
        if (expNegative)
            exponent = -exponent;
    }

    if (digits.empty())
        return negative ? -0.0 : 0.0;

    const long long scale = exponent - pointShift;
    // The decimal magnitude tells an overflow from an underflow when from_chars reports a range error.
    const long long magnitude = static_cast<long long>(digits.size()) - 1 + scale;
    digits.push_back('e');
    digits += std::to_string(scale);

    double value = 0.0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    (void)end;
    if (ec == std::errc::result_out_of_range)
        value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

template <typename Int> std::optional<Int> roundTo(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    // Halves go to the even neighbour whatever the floating-point environment says.
    double whole = std::floor(value);
    const double fraction = value - whole; // exact for doubles
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    if (whole < static_cast<double>(std::numeric_limits<Int>::min()) ||
        whole > static_cast<double>(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return static_cast<Int>(whole);
}

} // namespace

double readNumber(QStringView text) {
    Cursor cur(text);
    if (cur.peek() == u'&') {
        cur.next();
        const char16_t kind = cur.peek();
        if (kind == u'h' || kind == u'H') {
            cur.next();
            return readRadix(cur, 16);
        }
        if (kind == u'o' || kind == u'O') {
            cur.next();
            return readRadix(cur, 8);
        }
        return 0.0;
    }
    return readDecimal(cur);
}

std::optional<std::int32_t> roundToInt32(double value) {
    return roundTo<std::int32_t>(value);
}

std::optional<std::int16_t> roundToInt16(double value) {
    return roundTo<std::int16_t>(value);
}

std::optional<std::int32_t> wholeValue(QStringView text) {
    return roundToInt32(readNumber(text));
}

std::optional<std::int16_t> wholeValue16(QStringView text) {
    return roundToInt16(readNumber(text));
}

} // namespace filter
