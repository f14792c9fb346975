// SPDX-License-Identifier: MIT
#include "parser/values.h"

#include <array>
#include <cmath>
#include <utility>

namespace scpi {

namespace {

// SCPI's multipliers; M is milli, MA mega.
constexpr std::array<std::pair<const char*, double>, 12> kMultipliers{{
    {"EX", 1e18},
    {"PE", 1e15},
    {"T", 1e12},
    {"G", 1e9},
    {"MA", 1e6},
    {"K", 1e3},
    {"M", 1e-3},
    {"U", 1e-6},
    {"N", 1e-9},
    {"P", 1e-12},
    {"F", 1e-15},
    {"A", 1e-18},
}};

// The quantity's unit and what one of it is in the default unit.
std::pair<QByteArray, double> unitOf(Quantity quantity) {
    switch (quantity) {
    case Quantity::Wavelength:
        return {"M", 1e9};
    case Quantity::Frequency:
        return {"HZ", 1e-12};
    case Quantity::Time:
        return {"S", 1};
    case Quantity::Count:
        break;
    }
    return {{}, 1};
}

// The factor of a suffix into the default unit; nothing when it is not the quantity's unit.
std::optional<double> factorOf(const QByteArray& suffix, Quantity quantity) {
    const auto [unit, perUnit] = unitOf(quantity);
    if (!suffix.endsWith(unit)) {
        return std::nullopt;
    }
    const QByteArray prefix = suffix.left(suffix.size() - unit.size());
    if (prefix.isEmpty()) {
        return perUnit;
    }
    // SCPI keeps MHZ for megahertz, as everyone writes it.
    if (quantity == Quantity::Frequency && prefix == "M") {
        return 1e6 * perUnit;
    }
    for (const auto& [name, factor] : kMultipliers) {
        if (prefix == name) {
            return factor * perUnit;
        }
    }
    return std::nullopt;
}

} // namespace

std::variant<double, Error> numeric(const Param& param, Quantity quantity, const Bounds& bounds) {
    switch (param.kind) {
    case Param::Kind::Number:
        break;
    case Param::Kind::Character:
        if (param.data == "MIN" || param.data == "MINIMUM") {
            return bounds.min;
        }
        if (param.data == "MAX" || param.data == "MAXIMUM") {
            return bounds.max;
        }
        if ((param.data == "DEF" || param.data == "DEFAULT") && bounds.def) {
            return *bounds.def;
        }
        return Error{param.data.startsWith("DEF") ? ErrorCode::IllegalValue : ErrorCode::InvalidCharacterData,
                     QString::fromLatin1(param.written)};
    case Param::Kind::String:
        return Error{ErrorCode::StringNotAllowed, {}};
    case Param::Kind::Block:
        return Error{ErrorCode::BlockNotAllowed, {}};
    case Param::Kind::Expression:
        return Error{ErrorCode::ExpressionNotAllowed, {}};
    }
    if (param.suffix.isEmpty()) {
        return param.number;
    }
    if (quantity == Quantity::Count) {
        return Error{ErrorCode::SuffixNotAllowed, QString::fromLatin1(param.written)};
    }
    const auto factor = factorOf(param.suffix, quantity);
    if (!factor) {
        return Error{ErrorCode::InvalidSuffix, QString::fromLatin1(param.written)};
    }
    return param.number * *factor;
}

QByteArray number(double value) {
    if (std::isfinite(value) && value == std::nearbyint(value) && std::abs(value) < 1e15) {
        return QByteArray::number(static_cast<qint64>(value));
    }
    return QByteArray::number(value, 'g', 10).toUpper();
}

QByteArray quoted(QByteArrayView text) {
    QByteArray out = text.toByteArray();
    out.replace('"', "\"\"");
    return '"' + out + '"';
}

} // namespace scpi
