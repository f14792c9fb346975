// SPDX-License-Identifier: MIT
#pragma once
// A virtual device on the far side of a real pseudo-terminal, for tests. The panel opens it through the
// link com<N> in the test's program folder, exactly as it would open a USB adapter.
//
// A worker thread reads the master side: every byte is recorded with its arrival time, the stream is split
// into commands at ",", and each command is answered from the script. Everything is thread-safe; the
// waiting functions keep the Qt event loop of the calling thread running, so the window under test goes on
// working while a test waits for bytes.
//
// Each wait ends on what it waits for, not after a set time: a test that proves that nothing was sent calls
// sync(), which returns as soon as everything written to the line before it has arrived here.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

class PtyDevice {
  public:
    using Clock = std::chrono::steady_clock;

    struct Command {
        QByteArray text;      // without the terminator
        Clock::time_point at; // arrival of its terminator
    };

    enum class Mode { Whole, Bytewise, Silent };

    // Opens a pseudo-terminal in raw mode and links it as <dir>/com<port>.
    PtyDevice(const QString& dir, int port);
    ~PtyDevice(); // stops the thread, closes the master, removes the link

    bool ok() const;
    QString linkPath() const;
    QString slavePath() const;

    // The reply for each command (text without terminator); by default "OK ".
    void setScript(std::function<QByteArray(const QByteArray& command)> script);
    void setMode(Mode mode);

    // Writes raw bytes to the panel at once, outside any script.
    void inject(const QByteArray& bytes);
    // Writes the bytes one per write() call.
    void injectBytewise(const QByteArray& bytes);

    // Closes the master side: the panel sees a hang-up. reopen() makes a new pseudo-terminal behind the
    // same link, as a device that comes back.
    void hangUp();
    void reopen();

    std::vector<Command> commands() const;            // all commands so far, in order
    QByteArray received() const;                      // every byte received so far
    std::vector<Clock::time_point> byteTimes() const; // arrival time of each received byte
    void clear();                                     // forget what was received

    // Waits (running the caller's event loop) until at least n commands have arrived; false on timeout.
    bool waitForCommands(std::size_t n, int timeoutMs = 5000);
    // The same for bytes.
    bool waitForBytes(std::size_t n, int timeoutMs = 5000);
    // Waits (running the caller's event loop) until every byte written to the line before the call has
    // arrived here and the answers to it have been written: a mark written into the terminal's own side
    // behind them comes out here after them. The panel writes its commands before its handler returns, so
    // after a handler received() is then all it sent, and anything injected now reaches the panel after
    // those answers. The mark, a number between two NUL bytes, is never recorded (the panel sends no NUL).
    // False when it did not come within the time (the line is gone).
    bool sync(int timeoutMs = 5000);
    // Waits for exactly the given time with the caller's event loop running.
    static void pump(int ms);

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace testsupport
