// SPDX-License-Identifier: MIT
// Soak run: the panel's auto mode cycling at a fast tick while the device floods the line with replies of
// every length, for MINUTES minutes (default 10). Resident memory is sampled once a minute and printed; the
// run fails when memory at the end has grown well beyond the first minute's, or the panel stopped sending.
//   soak [MINUTES]

#include "support/panel.h"

#include <QApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using testsupport::Panel;

namespace {

long residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Replies as a faulty device might send them: short ones, ones without their space, and floods.
QByteArray noise(QRandomGenerator& random) {
    const int length = random.bounded(4) == 0 ? random.bounded(100, 1000) : random.bounded(1, 30);
    QByteArray bytes(length, 'R');
    for (char& c : bytes)
        c = static_cast<char>(random.bounded(33, 127));
    if (random.bounded(3) != 0)
        bytes.back() = ' ';
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int minutes = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 10;

    Panel p;
    p.boxes.allow(QStringLiteral("no response form device"));
    p.device->setScript([](const QByteArray& command) { return "WL" + command.right(8) + ' '; });
    p.start();
    if (!serialLine(p.w).portOpen()) {
        std::fprintf(stderr, "soak: the panel could not open its device\n");
        return 1;
    }

    // Auto mode with the shortest waits and a fast tick.
    ui(p.w).Text2->setText(QStringLiteral("C1520"));
    ui(p.w).Text3->setText(QStringLiteral("C1550"));
    ui(p.w).Text13->setText(QStringLiteral("C1580"));
    ui(p.w).Text4->setText(QStringLiteral("1"));
    ui(p.w).Text5->setText(QStringLiteral("0"));
    ui(p.w).Text14->setText(QStringLiteral("2"));
    timer2(p.w)->setInterval(10);
    p.w->Command2_Click();

    // The flood comes from its own thread, so a full line never stalls the panel's.
    std::atomic<bool> stop{false};
    std::atomic<long long> flooded{0};
    std::thread flooder([&] {
        QRandomGenerator random(20240305);
        while (!stop) {
            const QByteArray bytes = noise(random);
            p.device->inject(bytes);
            flooded += bytes.size();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    std::vector<long> samples{residentKb()};
    std::printf("minute 0: %ld kB resident\n", samples.back());
    std::fflush(stdout);
    std::size_t commands = 0;
    bool stalled = false;
    QTimer minute;
    minute.setInterval(60 * 1000);
    QObject::connect(&minute, &QTimer::timeout, [&] {
        // The device records every byte it receives; forgetting them each minute keeps its memory out of the
        // samples, which are the panel's.
        const std::size_t thisMinute = p.device->commands().size();
        p.device->clear();
        samples.push_back(residentKb());
        stalled = stalled || thisMinute == 0;
        commands += thisMinute;
        std::printf(
            "minute %zu: %ld kB resident, %zu commands sent, %lld bytes flooded, %d lines in the list\n",
            samples.size() - 1, samples.back(), commands, flooded.load(), ui(p.w).List2->count());
        std::fflush(stdout);
        if (static_cast<int>(samples.size()) > minutes)
            app.quit();
    });
    minute.start();
    app.exec();

    stop = true;
    flooder.join();
    p.w->Command9_Click();

    // The first minute fills the caches and the lists; after it, memory must stay flat.
    const long base = samples.size() > 1 ? samples[1] : samples[0];
    const bool grew = samples.back() > base + base / 4 + 4096;
    std::printf("soak: %d minutes, memory %s, sending %s, %d unexpected message boxes\n", minutes,
                grew ? "GREW" : "flat", stalled ? "STALLED" : "steady",
                static_cast<int>(p.boxes.unexpected().size()));
    return grew || stalled || !p.boxes.unexpected().isEmpty() ? 1 : 0;
}
