// SPDX-License-Identifier: MIT
#include "parser/lexer.h"

namespace scpi {

namespace {

constexpr qsizetype kMaxMnemonic = 12;
constexpr qsizetype kMaxMantissa = 255;
constexpr int kMaxExponent = 32000;

bool isWhite(char c) {
    // IEEE 488.2: every byte from 0 to 32 but LF, which ends the message.
    return static_cast<unsigned char>(c) <= 0x20 && c != '\n';
}
bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
// A digit of a #H, #Q or #B number; 36 for a byte that is none.
int digitValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (isAlpha(c)) {
        return (c | 0x20) - 'a' + 10;
    }
    return 36;
}

class Lexer {
  public:
    explicit Lexer(QByteArrayView text) : s_(text) {}

    Lexed run() {
        Lexed out;
        skipWhite();
        while (!atEnd()) {
            Unit unit;
            std::optional<Error> fault = header(unit);
            if (!fault) {
                fault = params(unit);
            }
            if (fault) {
                out.error = fault;
                return out;
            }
            out.units << unit;
            skipWhite();
            if (atEnd()) {
                break;
            }
            if (peek() != ';') {
                out.error = unexpected(ErrorCode::InvalidSeparator);
                return out;
            }
            ++i_;
            skipWhite();
            if (!atEnd() && peek() == ';') {
                out.error = Error{ErrorCode::Syntax, {}};
                return out;
            }
        }
        return out;
    }

  private:
    bool atEnd() const { return i_ >= s_.size(); }
    char peek(qsizetype ahead = 0) const { return i_ + ahead < s_.size() ? s_[i_ + ahead] : '\0'; }
    bool atSeparator() const { return atEnd() || isWhite(peek()) || peek() == ',' || peek() == ';'; }
    void skipWhite() {
        while (!atEnd() && isWhite(peek())) {
            ++i_;
        }
    }
    // A byte no rule expected: outside 7-bit ASCII it is an invalid character, otherwise `code`.
    Error unexpected(ErrorCode code) const {
        const auto c = static_cast<unsigned char>(peek());
        return Error{c >= 0x7F ? ErrorCode::InvalidCharacter : code, {}};
    }

    // Letters, digits and "_" after a letter, upper case; nothing when longer than a mnemonic may be.
    std::optional<QByteArray> word() {
        const qsizetype start = i_;
        while (!atEnd() && (isAlpha(peek()) || isDigit(peek()) || peek() == '_')) {
            ++i_;
        }
        if (i_ - start > kMaxMnemonic) {
            return std::nullopt;
        }
        return s_.sliced(start, i_ - start).toByteArray().toUpper();
    }

    std::optional<Error> header(Unit& unit) {
        const qsizetype start = i_;
        if (peek() == '*') {
            unit.common = true;
            ++i_;
        } else if (peek() == ':') {
            unit.rooted = true;
            ++i_;
        }
        for (;;) {
            if (!isAlpha(peek())) {
                return unexpected(ErrorCode::Syntax);
            }
            const auto mnemonic = word();
            if (!mnemonic) {
                return Error{ErrorCode::MnemonicTooLong, {}};
            }
            unit.nodes << *mnemonic;
            if (unit.common || peek() != ':') {
                break;
            }
            ++i_;
        }
        if (peek() == '?') {
            unit.query = true;
            ++i_;
        }
        unit.header = s_.sliced(start, i_ - start).toByteArray();
        if (!atEnd() && !isWhite(peek()) && peek() != ';') {
            return unexpected(ErrorCode::HeaderSeparator);
        }
        return std::nullopt;
    }

    std::optional<Error> params(Unit& unit) {
        skipWhite();
        if (atEnd() || peek() == ';') {
            return std::nullopt;
        }
        for (;;) {
            Param param;
            const qsizetype start = i_;
            if (const auto fault = value(param)) {
                return fault;
            }
            param.written = s_.sliced(start, i_ - start).toByteArray();
            unit.params << param;
            skipWhite();
            if (atEnd() || peek() == ';') {
                return std::nullopt;
            }
            if (peek() != ',') {
                return unexpected(ErrorCode::InvalidSeparator);
            }
            ++i_;
            skipWhite();
            if (atEnd() || peek() == ';' || peek() == ',') {
                return Error{ErrorCode::Syntax, {}};
            }
        }
    }

    std::optional<Error> value(Param& param) {
        const char c = peek();
        if (c == '\'' || c == '"') {
            return string(param);
        }
        if (c == '#') {
            return hash(param);
        }
        if (c == '(') {
            return expression(param);
        }
        if (isDigit(c) || c == '+' || c == '-' || c == '.') {
            return decimal(param);
        }
        if (isAlpha(c)) {
            param.kind = Param::Kind::Character;
            const auto text = word();
            if (!text) {
                return Error{ErrorCode::CharacterDataTooLong, {}};
            }
            param.data = *text;
            return atSeparator() ? std::nullopt : std::optional(unexpected(ErrorCode::InvalidCharacterData));
        }
        return unexpected(ErrorCode::Syntax);
    }

    std::optional<Error> string(Param& param) {
        param.kind = Param::Kind::String;
        const char quote = peek();
        ++i_;
        for (;;) {
            if (atEnd()) {
                return Error{ErrorCode::InvalidString, {}};
            }
            const char c = peek();
            ++i_;
            if (c == quote) {
                if (peek() != quote) {
                    break;
                }
                ++i_;
            }
            param.data += c;
        }
        return atSeparator() ? std::nullopt : std::optional(unexpected(ErrorCode::InvalidString));
    }

    std::optional<Error> hash(Param& param) {
        ++i_;
        const char kind = QByteArray(1, peek()).toUpper().front();
        if (kind == 'H' || kind == 'Q' || kind == 'B') {
            ++i_;
            const int base = kind == 'H' ? 16 : kind == 'Q' ? 8 : 2;
            const qsizetype start = i_;
            double number = 0;
            while (!atSeparator()) {
                const int digit = digitValue(peek());
                if (digit >= base) {
                    return unexpected(ErrorCode::InvalidCharacterInNumber);
                }
                number = number * base + digit;
                ++i_;
            }
            if (i_ == start) {
                return Error{ErrorCode::InvalidCharacterInNumber, {}};
            }
            param.number = number;
            param.nonDecimal = true;
            return std::nullopt;
        }
        param.kind = Param::Kind::Block;
        if (peek() == '0') {
            // Indefinite length: the rest of the message.
            ++i_;
            param.data = s_.sliced(i_).toByteArray();
            i_ = s_.size();
            return std::nullopt;
        }
        if (peek() < '1' || peek() > '9') {
            return Error{ErrorCode::InvalidBlock, {}};
        }
        const int digits = peek() - '0';
        ++i_;
        qint64 length = 0;
        for (int k = 0; k < digits; ++k) {
            if (!isDigit(peek())) {
                return Error{ErrorCode::InvalidBlock, {}};
            }
            length = length * 10 + (peek() - '0');
            ++i_;
        }
        if (length > s_.size() - i_) {
            return Error{ErrorCode::InvalidBlock, {}};
        }
        param.data = s_.sliced(i_, length).toByteArray();
        i_ += length;
        return atSeparator() ? std::nullopt : std::optional(Error{ErrorCode::InvalidBlock, {}});
    }

    std::optional<Error> expression(Param& param) {
        param.kind = Param::Kind::Expression;
        int depth = 0;
        const qsizetype start = i_;
        do {
            if (atEnd() || peek() == ';') {
                return Error{ErrorCode::InvalidExpression, {}};
            }
            depth += peek() == '(' ? 1 : peek() == ')' ? -1 : 0;
            ++i_;
        } while (depth > 0);
        param.data = s_.sliced(start + 1, i_ - start - 2).toByteArray();
        return atSeparator() ? std::nullopt : std::optional(Error{ErrorCode::InvalidExpression, {}});
    }

    std::optional<Error> decimal(Param& param) {
        const qsizetype start = i_;
        if (peek() == '+' || peek() == '-') {
            ++i_;
        }
        qsizetype digits = 0;
        while (isDigit(peek())) {
            ++i_;
            ++digits;
        }
        if (peek() == '.') {
            ++i_;
            while (isDigit(peek())) {
                ++i_;
                ++digits;
            }
        }
        if (digits == 0) {
            return unexpected(ErrorCode::InvalidCharacterInNumber);
        }
        if (digits > kMaxMantissa) {
            return Error{ErrorCode::TooManyDigits, {}};
        }
        const qsizetype mantissaEnd = i_;
        int exponent = 0;
        const bool hasExponent =
            (peek() == 'E' || peek() == 'e') &&
            (isDigit(peek(1)) || ((peek(1) == '+' || peek(1) == '-') && isDigit(peek(2))));
        if (hasExponent) {
            ++i_;
            const bool negative = peek() == '-';
            if (peek() == '+' || peek() == '-') {
                ++i_;
            }
            while (isDigit(peek())) {
                exponent = std::min(exponent * 10 + (peek() - '0'), kMaxExponent + 1);
                ++i_;
            }
            if (exponent > kMaxExponent) {
                return Error{ErrorCode::ExponentTooLarge, {}};
            }
            exponent = negative ? -exponent : exponent;
        }
        const QByteArray mantissa = s_.sliced(start, mantissaEnd - start).toByteArray();
        param.number = (mantissa + 'e' + QByteArray::number(exponent)).toDouble();
        // A suffix may stand apart from the number.
        const qsizetype afterNumber = i_;
        skipWhite();
        if (isAlpha(peek())) {
            const qsizetype suffixStart = i_;
            while (isAlpha(peek())) {
                ++i_;
            }
            if (i_ - suffixStart > kMaxMnemonic) {
                return Error{ErrorCode::SuffixTooLong, {}};
            }
            param.suffix = s_.sliced(suffixStart, i_ - suffixStart).toByteArray().toUpper();
            return atSeparator() ? std::nullopt : std::optional(unexpected(ErrorCode::InvalidSuffix));
        }
        i_ = afterNumber;
        return atSeparator() ? std::nullopt : std::optional(unexpected(ErrorCode::InvalidCharacterInNumber));
    }

    QByteArrayView s_;
    qsizetype i_ = 0;
};

} // namespace

Lexed lex(QByteArrayView message) {
    return Lexer(message).run();
}

} // namespace scpi
