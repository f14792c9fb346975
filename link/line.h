#pragma once
// What an operation needs of the front end that runs it, the window or merovask-ctl: sending, waiting with
// events running, asking whether a reply came since the last clearing, and the console's send. The operations
// (link/console, filter/operations, calibration/upload) decide which commands go out, in which order, with
// which waits and which checks, so both front ends do exactly the same on the line.

#include <QString>
#include <cstdint>

namespace devlink {

class Line {
  public:
    virtual ~Line() = default;

    // Hands a command text, terminator included, to the port; blanks at either end are dropped.
    virtual void SendCommand(QString text) = 0;
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

    // The console's send of one command text (sendFromConsole); the window shows the text in its command box
    // first and remembers it as the last command.
    virtual void console(const QString& command) = 0;
    // setLimit with the wavelength limits in force at this moment.
    virtual std::int32_t limit(std::int32_t nType, std::int32_t nVal) const = 0;
    // Stores the range of the calibration table just written: the settings file and the limits.
    virtual void storeRange(std::int32_t calMin, std::int32_t calMax) = 0;
};

} // namespace devlink
