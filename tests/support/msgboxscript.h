// SPDX-License-Identifier: MIT
#pragma once
// Message boxes answered from a script. Every box the panel shows is recorded; a box that the script does not
// expect is recorded as unexpected (and answered OK or No), and the test fails on it through verify().

#include "dialogs/msgbox.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <utility>

namespace testsupport {

class MsgBoxScript {
  public:
    MsgBoxScript();
    ~MsgBoxScript();
    MsgBoxScript(const MsgBoxScript&) = delete;
    MsgBoxScript& operator=(const MsgBoxScript&) = delete;

    // The next box must show this text; it is answered with `answer`.
    void expect(const QString& text, int answer = platform::vbOK);
    // This text may appear any number of times.
    void allow(const QString& text, int answer = platform::vbOK);

    QStringList shown() const { return shown_; }
    QStringList unexpected() const { return unexpected_; }
    int pending() const { return static_cast<int>(queue_.size()); }
    void reset();

    // True when no unexpected box came and every expected one did; otherwise `why` says what went wrong.
    bool verify(QString* why) const;

  private:
    int answer(const QString& text, int buttons);

    std::deque<std::pair<QString, int>> queue_;
    std::deque<std::pair<QString, int>> allowed_;
    QStringList shown_;
    QStringList unexpected_;
};

} // namespace testsupport

// Fails the current test when the script saw an unexpected box or missed an expected one.
#define VERIFY_BOXES(script)                                                                                 \
    do {                                                                                                     \
        QString why_;                                                                                        \
        QVERIFY2((script).verify(&why_), qPrintable(why_));                                                  \
    } while (false)
