// SPDX-License-Identifier: MIT
#pragma once
// Reads a program message (IEEE 488.2 section 7) into its units: each a header (a common command "*IDN?" or
// a compound header ":WAV:SWE:STAR") and its parameters: decimal numbers with an optional suffix, #H/#Q/#B
// numbers, character data, strings, blocks and expressions. Headers are not looked up here (tree.h).

#include "parser/errors.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

namespace scpi {

struct Param {
    enum class Kind { Number, Character, String, Block, Expression };
    Kind kind = Kind::Number;
    double number = 0;
    bool nonDecimal = false; // #H, #Q or #B: no suffix
    QByteArray suffix;       // upper case, empty when none
    QByteArray data;         // character data upper case; a string's text; a block's bytes; an expression's
    QByteArray written;      // as the message has it
};

struct Unit {
    QByteArray header; // as written, query mark included
    bool common = false;
    bool rooted = false;     // a leading ":"
    QList<QByteArray> nodes; // the mnemonics, upper case ("*" left out)
    bool query = false;
    QList<Param> params;
};

struct Lexed {
    QList<Unit> units;
    // The first fault; the units before it are whole, the rest of the message is not read.
    std::optional<Error> error;
};

Lexed lex(QByteArrayView message);

} // namespace scpi
