// SPDX-License-Identifier: MIT
// merovask-sim: a filter device on a pseudo-terminal, linked as com<N> where the panel looks for its port.
// One poll() loop serves the line, the reply schedule and the stop signals, so the program sleeps while
// nothing happens.

#include "sim/device.h"
#include "sim/pty.h"
#include "system/stopsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// About one character time at 9600 baud, rounded up to what poll() can time.
constexpr milliseconds kByteGap{2};
// Replies that the panel does not read pile up here at most; later ones are dropped (and counted).
constexpr qsizetype kMaxQueued = 64 * 1024;
// How long a vanishing device waits for the panel to read its last reply before it goes.
constexpr milliseconds kVanishGrace{500};
constexpr milliseconds kVanishSettle{50};

// The read end of the stop signals' pipe.
int stopSignals = -1;

struct Options {
    int port = 1;
    QString dir;
    bool silent = false;
    int delayMs = 0;
    bool bytewise = false;
    std::optional<long long> vanishAfter;
    QString logPath;
    QString tablePath;
};

// "12.345 rx 'C1550,'": seconds since start, direction, the bytes quoted with C escapes for anything that
// is not printable ASCII (and for the quote and backslash), so every line parses back to the exact bytes.
class Log {
  public:
    explicit Log(Clock::time_point start) : start_(start) {}
    ~Log() {
        if (file_)
            std::fclose(file_);
    }
    bool open(const QString& path) {
        file_ = std::fopen(QFile::encodeName(path).constData(), "w");
        return file_ != nullptr;
    }
    void bytes(const char* kind, QByteArrayView data) {
        if (!file_)
            return;
        QByteArray q;
        for (const char ch : data) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == '\'' || c == '\\') {
                q += '\\';
                q += ch;
            } else if (c == '\r') {
                q += "\\r";
            } else if (c == '\n') {
                q += "\\n";
            } else if (c == '\t') {
                q += "\\t";
            } else if (c < 0x20 || c > 0x7e) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                q += hex;
            } else {
                q += ch;
            }
        }
        write(kind, "'" + q + "'");
    }
    void event(const QString& text) { write("ev", text.toLocal8Bit()); }

  private:
    void write(const char* kind, const QByteArray& payload) {
        if (!file_)
            return;
        const double s = std::chrono::duration<double>(Clock::now() - start_).count();
        std::fprintf(file_, "%.3f %s %s\n", s, kind, payload.constData());
        std::fflush(file_);
    }
    Clock::time_point start_;
    std::FILE* file_ = nullptr;
};

struct Pending {
    Clock::time_point due;
    QByteArray bytes;
};

std::optional<long long> number(const QString& text, long long lo, long long hi) {
    bool ok = false;
    const long long v = text.toLongLong(&ok);
    if (!ok || v < lo || v > hi)
        return std::nullopt;
    return v;
}

std::optional<Options> parseOptions(const QCoreApplication& app) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "A simulated Merovask tunable filter on a pseudo-terminal, linked as com<N> so that the panel opens "
        "it\n"
        "as port N. It answers every command ended by \",\" with a reply ended by one space. Ctrl+C or\n"
        "SIGTERM removes the link and ends the program."));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Link name com<N> (default 1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("Folder of the link (default: this program's folder)."),
                                 QStringLiteral("D"));
    const QCommandLineOption silent(QStringLiteral("silent"),
                                    QStringLiteral("Read commands, answer nothing."));
    const QCommandLineOption delay(QStringLiteral("delay"), QStringLiteral("Wait MS ms before each reply."),
                                   QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption bytewise(QStringLiteral("bytewise"),
                                      QStringLiteral("Send replies one byte per write, 2 ms apart."));
    const QCommandLineOption vanish(
        QStringLiteral("vanish-after"),
        QStringLiteral(
            "After answering N commands the line goes away (pseudo-terminal closed, link removed)\n"
            "and the program ends."),
        QStringLiteral("N"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Write every byte each way with a timestamp to FILE."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption table(QStringLiteral("table"),
                                   QStringLiteral("At exit write the calibration memory to FILE."),
                                   QStringLiteral("FILE"));
    p.addOptions({port, dir, silent, delay, bytewise, vanish, log, table});
    p.process(app); // --help and unknown options end the program here

    Options o;
    const auto portN = number(p.value(port), 1, 32767);
    const auto delayN = number(p.value(delay), 0, 3600 * 1000);
    if (!portN || !delayN) {
        std::fprintf(stderr, "merovask-sim: %s must be a whole number (port 1..32767, delay 0..3600000)\n",
                     portN ? "--delay" : "--port");
        return std::nullopt;
    }
    o.port = static_cast<int>(*portN);
    o.delayMs = static_cast<int>(*delayN);
    if (p.isSet(vanish)) {
        o.vanishAfter = number(p.value(vanish), 1, (1LL << 62));
        if (!o.vanishAfter) {
            std::fprintf(stderr, "merovask-sim: --vanish-after must be a whole number of at least 1\n");
            return std::nullopt;
        }
    }
    o.dir = p.isSet(dir) ? p.value(dir) : QCoreApplication::applicationDirPath();
    o.silent = p.isSet(silent);
    o.bytewise = p.isSet(bytewise);
    o.logPath = p.value(log);
    o.tablePath = p.value(table);
    if (!p.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "merovask-sim: unexpected argument %s (see --help)\n",
                     qPrintable(p.positionalArguments().first()));
        return std::nullopt;
    }
    return o;
}

bool writeTable(const QString& path, const sim::Device& device) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(device.tableText());
    return f.commit();
}

class Simulator {
  public:
    Simulator(const Options& o, sim::Pty& pty, Log& log) : o_(o), pty_(pty), log_(log) {}

    // Runs until a stop signal or the vanishing; returns the exit status.
    int run() {
        for (;;) {
            if (vanishing_ && queue_.empty())
                return vanish();
            pollfd fds[2] = {{pty_.masterFd(), POLLIN, 0}, {stopSignals, POLLIN, 0}};
            int timeout = -1;
            if (!queue_.empty()) {
                const auto wait = std::chrono::ceil<milliseconds>(queue_.front().due - Clock::now()).count();
                if (wait <= 0) {
                    fds[0].events |= POLLOUT;
                } else {
                    timeout = static_cast<int>(wait);
                }
            }
            if (vanishing_)
                fds[0].events &= ~POLLIN; // the line is going: nothing more is heard
            if (::poll(fds, 2, timeout) < 0) {
                if (errno == EINTR)
                    continue;
                std::perror("merovask-sim: poll");
                return 1;
            }
            if (fds[1].revents & POLLIN) {
                log_.event(QStringLiteral("stop signal"));
                return 0;
            }
            if ((fds[0].revents & POLLIN) && !receive())
                return 1;
            if (!send())
                return 1;
        }
    }

    const sim::Device& device() const { return device_; }

  private:
    bool receive() {
        char buf[4096];
        const ssize_t n = ::read(pty_.masterFd(), buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        if (n <= 0) {
            std::perror("merovask-sim: read");
            return false;
        }
        const QByteArrayView bytes(buf, n);
        log_.bytes("rx", bytes);
        for (const auto& frame : framer_.feed(bytes)) {
            const QByteArray reply = device_.answer(frame);
            ++commands_;
            if (!o_.silent)
                enqueue(reply);
            if (o_.vanishAfter && commands_ >= *o_.vanishAfter) {
                vanishing_ = true;
                break;
            }
        }
        return true;
    }

    void enqueue(const QByteArray& reply) {
        if (queued_ + reply.size() > kMaxQueued) {
            dropped_ += reply.size();
            return;
        }
        const Clock::time_point base = Clock::now() + milliseconds(o_.delayMs);
        const Clock::time_point last = queue_.empty() ? base : queue_.back().due;
        if (o_.bytewise) {
            Clock::time_point due = std::max(base, last + kByteGap);
            if (queue_.empty())
                due = base;
            for (const char c : reply) {
                queue_.push_back(Pending{due, QByteArray(1, c)});
                due += kByteGap;
            }
        } else {
            queue_.push_back(Pending{std::max(base, last), reply});
        }
        queued_ += reply.size();
    }

    bool send() {
        while (!queue_.empty() && queue_.front().due <= Clock::now()) {
            Pending& p = queue_.front();
            const ssize_t n =
                ::write(pty_.masterFd(), p.bytes.constData(), static_cast<size_t>(p.bytes.size()));
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    return true; // the panel is not reading: poll() says when there is room
                std::perror("merovask-sim: write");
                return false;
            }
            log_.bytes("tx", QByteArrayView(p.bytes).first(n));
            queued_ -= n;
            p.bytes.remove(0, n);
            if (p.bytes.isEmpty())
                queue_.pop_front();
            if (o_.bytewise)
                break; // the next byte has its own time
        }
        if (queue_.empty() && dropped_ > 0) {
            log_.event(QStringLiteral("dropped %1 reply bytes the panel did not read").arg(dropped_));
            dropped_ = 0;
        }
        return true;
    }

    int vanish() {
        // Bytes still unread when the master closes are lost with the line; give the panel a moment. The
        // kernel hands written bytes to the slave's queue a little later, so the count is not trusted at
        // once.
        const auto start = Clock::now();
        const auto until = start + kVanishGrace;
        while ((Clock::now() < start + kVanishSettle || pty_.unreadByPanel() > 0) && Clock::now() < until) {
            pollfd fd{stopSignals, POLLIN, 0};
            if (::poll(&fd, 1, 10) > 0)
                break;
        }
        log_.event(QStringLiteral("vanish after %1 commands").arg(commands_));
        pty_.close();
        return 0;
    }

    const Options& o_;
    sim::Pty& pty_;
    Log& log_;
    sim::Device device_;
    sim::CommandFramer framer_;
    std::deque<Pending> queue_;
    qsizetype queued_ = 0;
    qsizetype dropped_ = 0;
    long long commands_ = 0;
    bool vanishing_ = false;
};

} // namespace

int main(int argc, char* argv[]) {
    const auto start = Clock::now();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("merovask-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MEROVASK_VERSION));
    const auto options = parseOptions(app);
    if (!options)
        return 2;

    stopSignals = platform::catchStopSignals({SIGHUP});
    if (stopSignals < 0) {
        std::perror("merovask-sim: pipe");
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);

    Log log(start);
    if (!options->logPath.isEmpty() && !log.open(options->logPath)) {
        std::fprintf(stderr, "merovask-sim: cannot write the log %s\n", qPrintable(options->logPath));
        return 1;
    }
    sim::Pty pty;
    const QString link = sim::linkPathFor(QDir(options->dir).absolutePath(), options->port);
    if (!pty.open() || !pty.link(link)) {
        std::fprintf(stderr, "merovask-sim: %s\n", qPrintable(pty.errorString()));
        return 1;
    }
    log.event(QStringLiteral("open %1 as %2").arg(pty.slavePath(), link));
    std::printf("merovask-sim: %s linked as %s\n", qPrintable(pty.slavePath()), qPrintable(link));
    std::fflush(stdout);

    Simulator simulator(*options, pty, log);
    int status = simulator.run();
    pty.close();
    if (!options->tablePath.isEmpty() && !writeTable(options->tablePath, simulator.device())) {
        std::fprintf(stderr, "merovask-sim: cannot write the table %s\n", qPrintable(options->tablePath));
        status = 1;
    }
    log.event(QStringLiteral("exit %1").arg(status));
    return status;
}
