// SPDX-License-Identifier: MIT
#pragma once
// What an operation needs of the line it runs on: sending, waiting with events running, asking whether a
// reply came since the last clearing, showing an operation's command and the limits in force. The operations
// (operations/console, operations/operations, operations/autocycle, calibration/upload) decide which commands
// go out, in which order, with which waits and which checks; devlink::SerialLine carries them out on the
// port, for the window and merovask-ctl alike.

#include "device/limits.h"

#include <QString>
#include <cstdint>

namespace devlink {

class Line {
  public:
    virtual ~Line() = default;

    // Hands a command text, terminator included, to the port; blanks at either end are dropped. True when it
    // went to an open port; false when nothing went out (the port is closed or gone, the operation stopped).
    virtual bool SendCommand(QString text) = 0;
    // Changes whenever the port is opened, closed or lost: commands handed over under one number went out
    // over one unbroken connection, in the order they were handed over.
    virtual std::uint32_t connection() const = 0;
    // Waits more than HowLong ms while events, replies among them, are handled.
    virtual void DelayMs(std::int32_t HowLong) = 0;
    // The operation ends at its next step: the window was closed, the tool interrupted.
    virtual bool stopped() const = 0;

    virtual void clearReply() = 0;
    // A reply has completed since the last clearReply().
    virtual bool replied() const = 0;
    // The one-second response time-out of a single command.
    virtual void armTimeout() = 0;
    virtual void disarmTimeout() = 0;

    // An operation's single command is shown in the console's command box before it goes out (console()).
    virtual void showCommand(const QString& command) = 0;
    // The command that a time-out's history line names: the console's text, or the auto cycle's command.
    virtual void setLastCmd(const QString& text) = 0;

    // The wavelength limits in force: the settings file's at start, a new calibration's after an upload.
    virtual filter::Limits limits() const = 0;
    virtual void setLimits(filter::Limits limits) = 0;
    // setLimit with the limits in force at this moment.
    std::int32_t limit(filter::LimitKind kind, std::int32_t nVal) const {
        const filter::Limits now = limits();
        return filter::setLimit(kind, nVal, now.swMin, now.swMax);
    }
};

} // namespace devlink
