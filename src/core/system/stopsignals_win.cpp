// SPDX-License-Identifier: MIT
// Stop signals on Windows: the console's Ctrl+C, Ctrl+Break and closing, which the system reports on a thread
// of its own; they are handed to the program's thread as a queued call.

#include "system/stopsignals.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <csignal>
#include <windows.h>

namespace platform {

namespace {
std::atomic<int> caught{0};
QPointer<QObject> receiver;
std::function<void()> onStop;

BOOL WINAPI consoleEvent(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    caught = SIGINT;
    if (QObject* context = receiver.data()) {
        QMetaObject::invokeMethod(
            context, [] { onStop(); }, Qt::QueuedConnection);
    }
    return TRUE;
}
} // namespace

void onStopSignals(QObject* context, std::function<void()> stop) {
    receiver = context;
    onStop = std::move(stop);
    SetConsoleCtrlHandler(consoleEvent, TRUE);
}

int caughtStopSignal() {
    return caught;
}

} // namespace platform
