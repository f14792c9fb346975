// SPDX-License-Identifier: MIT
#pragma once
// How an operation that a network client asked for ended, for the server to answer in its own terms (an
// error queue, an exception).

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace service {

struct Outcome {
    enum class End {
        Done,       // it ran; where an answer was awaited, the device gave one
        NoReply,    // it ran, but the device did not answer within the response time
        NoPort,     // the port is not open, or went away while it ran: nothing (more) went out
        Failed,     // the operation's own failure, which `text` tells (an upload's message)
        OutOfRange, // refused before anything was sent (a switch output that does not exist)
        Stopped,    // the server ended before its turn came
    };
    End end = End::Done;
    QString text;
    // The replies that came while it ran, in order, without their closing blank.
    QStringList replies;
    // The values that went out, in the order sent, and whether any went out other than asked (limited).
    QList<std::int32_t> values;
    bool limited = false;

    bool ok() const { return end == End::Done; }
};

} // namespace service
