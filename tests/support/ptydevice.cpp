// SPDX-License-Identifier: MIT
#include "support/ptydevice.h"

#include "sim/pty.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

// How long a write waits for a panel that does not read before the rest is dropped.
constexpr int kWriteTimeoutMs = 2000;
constexpr std::chrono::milliseconds kByteGap{1};

} // namespace

struct PtyDevice::Impl {
    QString dir;
    int port = 0;

    mutable std::mutex mutex; // guards everything below up to writeMutex
    std::function<QByteArray(const QByteArray&)> script;
    Mode mode = Mode::Whole;
    std::vector<Command> commands;
    QByteArray received;
    std::vector<Clock::time_point> byteTimes;
    QByteArray partial; // bytes of a command whose terminator has not come yet
    QString linkPath;
    QString slavePath;
    // sync(): the marks written and the last that came out; inside a mark, its digits so far.
    std::uint64_t marksSent = 0;
    std::uint64_t marksSeen = 0;
    bool inMark = false;
    QByteArray markDigits;

    std::mutex writeMutex; // one writer at a time, so injected bytes never land inside a reply
    std::unique_ptr<sim::Pty> pty;
    std::thread worker;
    int wake[2] = {-1, -1};
    // The terminal's own side, as the panel writes to it: opened before the panel opens its port, which
    // then takes the terminal for itself alone.
    int markFd = -1;
    std::atomic<bool> stopping{false};

    bool start();
    void stop();
    void run();
    void handle(const char* bytes, std::size_t n);
    void writeBytes(const QByteArray& bytes, bool bytewise);
    bool writeSome(const char* p, std::size_t n);
    // Runs the caller's event loop until done() holds; false when the time ran out first.
    static bool waitUntil(const std::function<bool()>& done, int timeoutMs);
};

bool PtyDevice::Impl::start() {
    auto fresh = std::make_unique<sim::Pty>();
    if (!fresh->open() || !fresh->link(sim::linkPathFor(dir, port))) {
        qWarning("PtyDevice: %s", qPrintable(fresh->errorString()));
        return false;
    }
    if (::pipe(wake) != 0)
        return false;
    markFd = ::open(QFile::encodeName(fresh->slavePath()).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (markFd < 0)
        qWarning("PtyDevice: cannot open %s for sync()", qPrintable(fresh->slavePath()));
    {
        std::lock_guard lock(mutex);
        linkPath = fresh->linkPath();
        slavePath = fresh->slavePath();
        partial.clear();
        inMark = false;
        markDigits.clear();
    }
    pty = std::move(fresh);
    stopping = false;
    worker = std::thread([this] { run(); });
    return true;
}

void PtyDevice::Impl::stop() {
    if (worker.joinable()) {
        stopping = true;
        [[maybe_unused]] const auto n = ::write(wake[1], "x", 1);
        worker.join();
    }
    for (int* fd : {&wake[0], &wake[1], &markFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    std::lock_guard writing(writeMutex);
    pty.reset();
}

void PtyDevice::Impl::run() {
    char buf[4096];
    while (!stopping) {
        pollfd fds[2] = {{pty->masterFd(), POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(pty->masterFd(), buf, sizeof buf);
            if (n > 0)
                handle(buf, static_cast<std::size_t>(n));
        } else if (fds[0].revents != 0) {
            // Cannot happen while the pty keeps its slave open; never spin if it does.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

void PtyDevice::Impl::handle(const char* bytes, std::size_t n) {
    const auto now = Clock::now();
    std::vector<QByteArray> complete;
    std::function<QByteArray(const QByteArray&)> answer;
    Mode m = Mode::Whole;
    std::uint64_t markSeen = 0;
    {
        std::lock_guard lock(mutex);
        for (std::size_t i = 0; i < n; ++i) {
            const char c = bytes[i];
            if (c == '\0') {
                // A mark of sync() begins or ends here; it may come split over several reads.
                if (inMark)
                    markSeen = std::max<std::uint64_t>(markSeen, markDigits.toULongLong());
                inMark = !inMark;
                markDigits.clear();
                continue;
            }
            if (inMark) {
                markDigits += c;
                continue;
            }
            received += c;
            byteTimes.push_back(now);
            if (c != ',') {
                partial += c;
                continue;
            }
            commands.push_back(Command{partial, now});
            complete.push_back(partial);
            partial.clear();
        }
        answer = script;
        m = mode;
    }
    // The script runs outside the lock, so it may look at the records itself.
    if (m != Mode::Silent) {
        for (const QByteArray& command : complete)
            writeBytes(answer ? answer(command) : QByteArrayLiteral("OK "), m == Mode::Bytewise);
    }
    // A mark counts as seen once the answers to everything before it are on their way.
    if (markSeen > 0) {
        std::lock_guard lock(mutex);
        marksSeen = std::max(marksSeen, markSeen);
    }
}

bool PtyDevice::Impl::writeSome(const char* p, std::size_t n) {
    while (n > 0 && !stopping) {
        const ssize_t w = ::write(pty->masterFd(), p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd fd{pty->masterFd(), POLLOUT, 0};
        if (::poll(&fd, 1, kWriteTimeoutMs) == 0)
            return false; // nobody reads: drop the rest rather than hang the test
    }
    return true;
}

void PtyDevice::Impl::writeBytes(const QByteArray& bytes, bool bytewise) {
    std::lock_guard writing(writeMutex);
    if (!pty || !pty->isOpen())
        return;
    if (!bytewise) {
        writeSome(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        return;
    }
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(kByteGap); // so each byte reaches the panel in a read of its own
        if (!writeSome(bytes.constData() + i, 1))
            return;
    }
}

PtyDevice::PtyDevice(const QString& dir, int port) : d(std::make_unique<Impl>()) {
    d->dir = dir;
    d->port = port;
    d->start();
}

PtyDevice::~PtyDevice() {
    d->stop();
}

bool PtyDevice::ok() const {
    return d->pty && d->pty->isOpen();
}

QString PtyDevice::linkPath() const {
    std::lock_guard lock(d->mutex);
    return d->linkPath;
}

QString PtyDevice::slavePath() const {
    std::lock_guard lock(d->mutex);
    return d->slavePath;
}

void PtyDevice::setScript(std::function<QByteArray(const QByteArray& command)> script) {
    std::lock_guard lock(d->mutex);
    d->script = std::move(script);
}

void PtyDevice::setMode(Mode mode) {
    std::lock_guard lock(d->mutex);
    d->mode = mode;
}

void PtyDevice::inject(const QByteArray& bytes) {
    d->writeBytes(bytes, false);
}

void PtyDevice::injectBytewise(const QByteArray& bytes) {
    d->writeBytes(bytes, true);
}

void PtyDevice::hangUp() {
    d->stop();
}

void PtyDevice::reopen() {
    d->stop();
    d->start();
}

std::vector<PtyDevice::Command> PtyDevice::commands() const {
    std::lock_guard lock(d->mutex);
    return d->commands;
}

QByteArray PtyDevice::received() const {
    std::lock_guard lock(d->mutex);
    return d->received;
}

std::vector<PtyDevice::Clock::time_point> PtyDevice::byteTimes() const {
    std::lock_guard lock(d->mutex);
    return d->byteTimes;
}

void PtyDevice::clear() {
    std::lock_guard lock(d->mutex);
    d->commands.clear();
    d->received.clear();
    d->byteTimes.clear();
    d->partial.clear();
}

bool PtyDevice::Impl::waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (Clock::now() >= deadline)
            return false;
        pump(1);
    }
}

bool PtyDevice::waitForCommands(std::size_t n, int timeoutMs) {
    return Impl::waitUntil(
        [this, n] {
            std::lock_guard lock(d->mutex);
            return d->commands.size() >= n;
        },
        timeoutMs);
}

bool PtyDevice::waitForBytes(std::size_t n, int timeoutMs) {
    return Impl::waitUntil(
        [this, n] {
            std::lock_guard lock(d->mutex);
            return static_cast<std::size_t>(d->received.size()) >= n;
        },
        timeoutMs);
}

bool PtyDevice::sync(int timeoutMs) {
    std::uint64_t mark = 0;
    {
        std::lock_guard lock(d->mutex);
        mark = ++d->marksSent;
    }
    const QByteArray bytes = '\0' + QByteArray::number(static_cast<qulonglong>(mark)) + '\0';
    if (d->markFd < 0 || ::write(d->markFd, bytes.constData(), std::size_t(bytes.size())) != bytes.size())
        return false;
    // The answers to what came before the mark were written before the mark was read: they are in the
    // terminal too, and the events below deliver them to the panel.
    const bool came = Impl::waitUntil(
        [this, mark] {
            std::lock_guard lock(d->mutex);
            return d->marksSeen >= mark;
        },
        timeoutMs);
    QCoreApplication::processEvents();
    return came;
}

void PtyDevice::pump(int ms) {
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0)));
        return;
    }
    QCoreApplication::processEvents();
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace testsupport
