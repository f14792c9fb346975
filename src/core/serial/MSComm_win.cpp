// SPDX-License-Identifier: MIT
// The serial control over the Win32 communications calls, which is what the original control sits on; no
// Qt Serial Port is needed on Windows.
//
// The port is opened for overlapped I/O, so a read can wait for the device while writes go out at once (a
// handle opened without it serialises its calls: a write would wait behind the pending read). One read is
// always pending; its event wakes the window's thread through a QWinEventNotifier, so the bytes are reported
// there as they arrive, and no thread of our own is needed. Writes are handed to the system in Output and
// complete in the background, in order.

#include "serial/MSComm.h"

#include <QWinEventNotifier>

#include <windows.h>

#include <array>
#include <list>

namespace platform {

namespace {

// A read waits for the first byte as long as it takes, then ends once the line has been quiet this long: two
// character times at 9600 baud, so a reply that arrives in one piece is reported in one piece.
constexpr DWORD kReadGapMs = 2;
// Closing waits this long for written bytes to leave before it gives up on them.
constexpr DWORD kDrainMs = 2000;

BYTE parityOf(char letter) {
    switch (letter) {
    case 'E':
        return EVENPARITY;
    case 'O':
        return ODDPARITY;
    case 'M':
        return MARKPARITY;
    case 'S':
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

BYTE stopBitsOf(LineSettings::StopBits stop) {
    switch (stop) {
    case LineSettings::StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case LineSettings::StopBits::Two:
        return TWOSTOPBITS;
    case LineSettings::StopBits::One:
        break;
    }
    return ONESTOPBIT;
}

// The line as Settings describes it, without flow control of any kind (the device has no handshake lines).
bool configure(HANDLE handle, const LineSettings& line) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        return false;
    }
    dcb.BaudRate = static_cast<DWORD>(line.baud);
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    dcb.Parity = parityOf(line.parity);
    dcb.StopBits = stopBitsOf(line.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = line.parity != 'N';
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle, &dcb)) {
        return false;
    }
    // The interval time-out alone: the one way to have a read end soon after the first byte that Wine honours
    // as Windows does (Wine ignores MAXDWORD, MAXDWORD and a constant). An idle line wakes nobody. Writes
    // never time out.
    COMMTIMEOUTS timeouts{kReadGapMs, 0, 0, 0, 0};
    return SetCommTimeouts(handle, &timeouts);
}

// An event for one overlapped operation: manual reset, as GetOverlappedResult expects.
HANDLE newEvent() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

} // namespace

struct MSComm::Line {
    struct Write {
        OVERLAPPED overlapped{};
        QByteArray bytes; // stays here until the system is done with it
    };

    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED read{};
    std::array<char, 4096> readBuffer{};
    QByteArray received; // read, not yet taken by Input
    QWinEventNotifier* notifier = nullptr;
    std::list<Write> writes; // handed to the system, oldest first; a list keeps each record where it is

    explicit Line(HANDLE h) : handle(h) { read.hEvent = newEvent(); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    ~Line() {
        if (notifier != nullptr) {
            // Closing may happen inside the notifier's own signal (a receive handler that closes the port).
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        // Bytes handed over in Output go out, as on a POSIX terminal, unless the device does not take them.
        const ULONGLONG deadline = GetTickCount64() + kDrainMs;
        for (Write& w : writes) {
            const ULONGLONG now = GetTickCount64();
            WaitForSingleObject(w.overlapped.hEvent, now < deadline ? static_cast<DWORD>(deadline - now) : 0);
        }
        CancelIoEx(handle, nullptr);
        // The system may use the records until each operation has ended, cancelled or not.
        DWORD n = 0;
        GetOverlappedResult(handle, &read, &n, TRUE);
        for (Write& w : writes) {
            GetOverlappedResult(handle, &w.overlapped, &n, TRUE);
            CloseHandle(w.overlapped.hEvent);
        }
        CloseHandle(read.hEvent);
        CloseHandle(handle);
    }

    // Starts the next read; false when the device refuses it.
    bool startRead() {
        if (ReadFile(handle, readBuffer.data(), static_cast<DWORD>(readBuffer.size()), nullptr, &read)) {
            return true; // done at once: the event is set, the notifier reports it
        }
        return GetLastError() == ERROR_IO_PENDING;
    }

    // Forgets the writes that have ended; false when one of them failed.
    bool reapWrites() {
        bool ok = true;
        while (!writes.empty() && HasOverlappedIoCompleted(&writes.front().overlapped)) {
            DWORD n = 0;
            Write& w = writes.front();
            ok = GetOverlappedResult(handle, &w.overlapped, &n, FALSE) && ok;
            CloseHandle(w.overlapped.hEvent);
            writes.pop_front();
        }
        return ok;
    }
};

MSComm::MSComm(QObject* parent) : QObject(parent) {}

MSComm::~MSComm() = default;

bool MSComm::PortOpen() const {
    return line_ != nullptr;
}

int MSComm::setPortOpen(bool open) {
    if (!open) {
        line_.reset();
        return kCommOk;
    }
    if (line_) {
        return kPortAlreadyOpen;
    }
    const QString path = startOpen();
    if (path.isEmpty()) {
        return kInvalidPortNumber;
    }
    device_ = path;
    const HANDLE handle = CreateFileA(path.toLatin1().constData(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_DEV_NOT_EXIST:
            return kInvalidPortNumber;
        case ERROR_ACCESS_DENIED: // a COM port is held by one program at a time
        case ERROR_SHARING_VIOLATION:
            trouble_ = OpenTrouble::InUse;
            return kPortOpenFailed;
        default:
            trouble_ = OpenTrouble::NotSerial;
            return kPortOpenFailed;
        }
    }
    if (!configure(handle, parseLineSettings(settings_).value_or(LineSettings{}))) {
        CloseHandle(handle);
        trouble_ = OpenTrouble::NotSerial;
        return kPortOpenFailed;
    }
    // Bytes that reached the line before this open are not a reply to anything we will send.
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);

    auto line = std::make_unique<Line>(handle);
    if (line->read.hEvent == nullptr || !line->startRead()) {
        trouble_ = OpenTrouble::NotSerial;
        return kPortOpenFailed;
    }
    line->notifier = new QWinEventNotifier(line->read.hEvent, this);
    connect(line->notifier, &QWinEventNotifier::activated, this, [this] {
        if (!line_) {
            return;
        }
        DWORD n = 0;
        if (!GetOverlappedResult(line_->handle, &line_->read, &n, FALSE)) {
            if (GetLastError() != ERROR_IO_INCOMPLETE) {
                dropLine(); // an unplugged adapter fails its pending read
            }
            return;
        }
        if (n > 0) {
            line_->received.append(line_->readBuffer.data(), static_cast<qsizetype>(n));
        }
        // A read never ends empty on a working line; a device that is no longer there fails its status too.
        DWORD errors = 0;
        if ((n == 0 && !ClearCommError(line_->handle, &errors, nullptr)) || !line_->startRead()) {
            dropLine();
            return;
        }
        if (n > 0) {
            received();
        }
    });
    line_ = std::move(line);
    trouble_ = OpenTrouble::None;
    return kCommOk;
}

int MSComm::Output(const QByteArray& bytes) {
    if (!line_) {
        return kPortNotOpen;
    }
    if (bytes.isEmpty()) {
        return kCommOk;
    }
    if (!line_->reapWrites()) {
        dropLine();
        return kWriteFailed;
    }
    Line::Write& w = line_->writes.emplace_back();
    w.bytes = bytes;
    w.overlapped.hEvent = newEvent();
    if (w.overlapped.hEvent == nullptr) {
        line_->writes.pop_back();
        return kWriteFailed;
    }
    // Pending is fine: the bytes are the driver's now and leave in the order of the calls.
    if (!WriteFile(line_->handle, w.bytes.constData(), static_cast<DWORD>(w.bytes.size()), nullptr,
                   &w.overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        CloseHandle(w.overlapped.hEvent);
        line_->writes.pop_back();
        dropLine();
        return kWriteFailed;
    }
    return kCommOk;
}

QByteArray MSComm::Input() {
    commEvent_ = comEvNone;
    return line_ ? std::exchange(line_->received, QByteArray()) : QByteArray();
}

void MSComm::dropLine() {
    line_.reset();
    emit LineGone();
}

} // namespace platform
