// SPDX-License-Identifier: MIT
#include "parser/errors.h"

namespace scpi {

namespace {
constexpr qsizetype kMaxDescription = 255;
}

QString standardText(ErrorCode code) {
    switch (code) {
    case ErrorCode::NoError:
        return QStringLiteral("No error");
    case ErrorCode::InvalidCharacter:
        return QStringLiteral("Invalid character");
    case ErrorCode::Syntax:
        return QStringLiteral("Syntax error");
    case ErrorCode::InvalidSeparator:
        return QStringLiteral("Invalid separator");
    case ErrorCode::DataType:
        return QStringLiteral("Data type error");
    case ErrorCode::ParameterNotAllowed:
        return QStringLiteral("Parameter not allowed");
    case ErrorCode::MissingParameter:
        return QStringLiteral("Missing parameter");
    case ErrorCode::HeaderSeparator:
        return QStringLiteral("Header separator error");
    case ErrorCode::MnemonicTooLong:
        return QStringLiteral("Program mnemonic too long");
    case ErrorCode::UndefinedHeader:
        return QStringLiteral("Undefined header");
    case ErrorCode::InvalidCharacterInNumber:
        return QStringLiteral("Invalid character in number");
    case ErrorCode::ExponentTooLarge:
        return QStringLiteral("Exponent too large");
    case ErrorCode::TooManyDigits:
        return QStringLiteral("Too many digits");
    case ErrorCode::NumericNotAllowed:
        return QStringLiteral("Numeric data not allowed");
    case ErrorCode::InvalidSuffix:
        return QStringLiteral("Invalid suffix");
    case ErrorCode::SuffixTooLong:
        return QStringLiteral("Suffix too long");
    case ErrorCode::SuffixNotAllowed:
        return QStringLiteral("Suffix not allowed");
    case ErrorCode::InvalidCharacterData:
        return QStringLiteral("Invalid character data");
    case ErrorCode::CharacterDataTooLong:
        return QStringLiteral("Character data too long");
    case ErrorCode::InvalidString:
        return QStringLiteral("Invalid string data");
    case ErrorCode::StringNotAllowed:
        return QStringLiteral("String data not allowed");
    case ErrorCode::InvalidBlock:
        return QStringLiteral("Invalid block data");
    case ErrorCode::BlockNotAllowed:
        return QStringLiteral("Block data not allowed");
    case ErrorCode::InvalidExpression:
        return QStringLiteral("Invalid expression");
    case ErrorCode::ExpressionNotAllowed:
        return QStringLiteral("Expression data not allowed");
    case ErrorCode::OutOfRange:
        return QStringLiteral("Data out of range");
    case ErrorCode::TooMuchData:
        return QStringLiteral("Too much data");
    case ErrorCode::IllegalValue:
        return QStringLiteral("Illegal parameter value");
    case ErrorCode::DataStale:
        return QStringLiteral("Data corrupt or stale");
    case ErrorCode::Hardware:
        return QStringLiteral("Hardware error");
    case ErrorCode::SelfTestFailed:
        return QStringLiteral("Self-test failed");
    case ErrorCode::QueueOverflow:
        return QStringLiteral("Queue overflow");
    case ErrorCode::InputOverrun:
        return QStringLiteral("Input buffer overrun");
    }
    return QStringLiteral("Error");
}

QByteArray errorResponse(const Error& error) {
    QString description = standardText(error.code);
    if (!error.detail.isEmpty()) {
        description += QLatin1Char(';') + error.detail;
    }
    // Latin-1 as every text of the line; a character outside it becomes '?'.
    QByteArray text = description.left(kMaxDescription).toLatin1();
    text.replace('"', "\"\"");
    return QByteArray::number(static_cast<int>(error.code)) + ",\"" + text + '"';
}

} // namespace scpi
