// SPDX-License-Identifier: MIT
#pragma once
// The instrument's headers: the IEEE 488.2 common commands and the SCPI tree, each with the forms it takes
// (setting, query or both), and the reading of a program message into calls of them by SCPI's rules: short
// or long form in any case, optional nodes left out, and the header path kept from one unit to the next
// (a unit's header goes on from the nodes before the last one of the previous unit's; ":" starts again at
// the root; common commands leave the path as it is).

#include "parser/lexer.h"

#include <span>

namespace scpi {

enum class Command {
    Identify,    // *IDN?
    Reset,       // *RST
    ClearStatus, // *CLS
    EventEnable, // *ESE, *ESE?
    EventStatus, // *ESR?
    Complete,    // *OPC, *OPC?
    ServiceEnable,
    StatusByte,
    SelfTest,
    Wait,
    Wavelength,
    WavelengthStep,
    SweepStart,
    SweepStop,
    SweepDwell,
    SweepStep,
    Sweep,
    Frequency,
    Channel,
    CalibrationDate,
    CalibrationData,
    DeviceCommand,
    ErrorNext,
    ErrorCount,
    Version,
};

struct Entry {
    // "WAVelength:STEP[:INCRement]": the long form, its capitals the short form; optional nodes in brackets.
    const char* header;
    Command command;
    bool setting;
    bool query;
    bool engineering; // only with --engineering
};

std::span<const Entry> entries();

struct Call {
    Command command;
    Unit unit;
};

struct Program {
    QList<Call> calls;
    // A fault in the message or an undefined header: the calls before it run, the rest of the message not.
    std::optional<Error> error;
};

// The message's units as calls, their headers looked up from the path. Without `engineering` the
// engineering headers are undefined.
Program parse(QByteArrayView message, bool engineering);

} // namespace scpi
