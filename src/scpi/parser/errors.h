// SPDX-License-Identifier: MIT
#pragma once
// The error and event numbers of SCPI-1999 that this instrument reports, their standard texts, and how an
// entry of the error queue reads (SYSTem:ERRor?).

#include <QByteArray>
#include <QString>

namespace scpi {

enum class ErrorCode : int {
    NoError = 0,
    InvalidCharacter = -101,
    Syntax = -102,
    InvalidSeparator = -103,
    DataType = -104,
    ParameterNotAllowed = -108,
    MissingParameter = -109,
    HeaderSeparator = -111,
    MnemonicTooLong = -112,
    UndefinedHeader = -113,
    InvalidCharacterInNumber = -121,
    ExponentTooLarge = -123,
    TooManyDigits = -124,
    NumericNotAllowed = -128,
    InvalidSuffix = -131,
    SuffixTooLong = -134,
    SuffixNotAllowed = -138,
    InvalidCharacterData = -141,
    CharacterDataTooLong = -144,
    InvalidString = -151,
    StringNotAllowed = -158,
    InvalidBlock = -161,
    BlockNotAllowed = -168,
    InvalidExpression = -171,
    ExpressionNotAllowed = -178,
    OutOfRange = -222,
    TooMuchData = -223,
    IllegalValue = -224,
    DataStale = -230,
    Hardware = -240,
    SelfTestFailed = -330,
    QueueOverflow = -350,
    InputOverrun = -363,
};

// An entry of the error queue: the standard text, and what this instrument adds after ";".
struct Error {
    ErrorCode code = ErrorCode::NoError;
    QString detail;
    bool operator==(const Error&) const = default;
};

// The text that SCPI gives the number ("Data out of range").
QString standardText(ErrorCode code);

// -222,"Data out of range;WAV 1600 sent as 1589": the number, then the standard text and the detail in one
// string of at most 255 characters (SCPI's limit), quotes inside doubled.
QByteArray errorResponse(const Error& error);

} // namespace scpi
