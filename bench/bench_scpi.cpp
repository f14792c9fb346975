// SPDX-License-Identifier: MIT
// merovask-scpi's figures against their goals, in one run: the real program (a child process) on a virtual
// device behind a real pseudo-terminal, which answers as merovask-sim's model does and notes each byte's
// arrival to the microsecond; its clients are blocking loopback sockets with Nagle off, as VISA clients
// have them, in threads of this process. Prints one Markdown table; the notes under it say what each figure
// includes.

#include "measure.h"
#include "scpi_tools.h"
#include "sim/device.h"
#include "support/ptydevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace bench;
using testsupport::PtyDevice;

namespace {

constexpr int kClients = 8;
constexpr int kQueries = 1000; // per client
constexpr int kMixed = 200;    // messages per client
constexpr int kTunes = 200;

// ---- the measurements ----

// kClients clients, each asking kQueries times *IDN? and WAV? in turn; with `busy`, one more client keeps the
// line busy with tunes meanwhile. The round trips in ms.
std::vector<double> roundTrips(quint16 port, bool busy) {
    std::vector<double> all;
    std::mutex mutex;
    std::atomic<bool> stop{false};
    std::atomic<int> tunes{0};
    std::thread tuner;
    if (busy) {
        tuner = std::thread([&] {
            Client c(port);
            for (int k = 0; !stop; ++k) {
                c.ask("WAV " + std::to_string(1520 + k % 40) + ";*OPC?");
                ++tunes;
            }
        });
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&] {
            Client c(port);
            std::vector<double> mine;
            for (int k = 0; k < kQueries; ++k) {
                const auto t0 = Clock::now();
                const std::string answer = c.ask(k % 2 ? "WAV?" : "*IDN?");
                mine.push_back(answer.empty() ? NAN : ms(Clock::now() - t0));
            }
            std::lock_guard lock(mutex);
            all.insert(all.end(), mine.begin(), mine.end());
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    stop = true;
    if (tuner.joinable()) {
        tuner.join();
        note(QStringLiteral("With the line busy: %1 tunes (WAV n;*OPC?) by a ninth client meanwhile.")
                 .arg(tunes));
    }
    return all;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    PtyDevice device(dir.path(), 1);
    sim::Device model;
    std::mutex modelMutex;
    device.setScript([&](const QByteArray& command) {
        std::lock_guard lock(modelMutex);
        return model.answer(command);
    });
    const QString program = dir.filePath(QStringLiteral("merovask-scpi"));
    QFile::copy(QStringLiteral(MEROVASK_SCPI_PATH), program);
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(program, {"--port", "1", "--listen", "127.0.0.1:0"});
    if (!server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench_scpi: the server did not start\n");
        return 1;
    }
    const quint16 port = quint16(server.readLine().trimmed().split(':').last().toUInt());
    const qint64 pid = server.processId();
    const MachineTime machineStart = machineTime();
    add("Resident memory after start", statusKb(pid, "VmRSS:") / 1024, "MB", NAN, 1);

    // Idle: eight clients connected, nothing asked.
    {
        std::vector<std::unique_ptr<Client>> idle;
        for (int i = 0; i < kClients; ++i) {
            idle.push_back(std::make_unique<Client>(port));
            idle.back()->ask("*IDN?");
        }
        const double before = cpuSeconds(pid);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        add("CPU with 8 idle connections, over 10 s", (cpuSeconds(pid) - before) / 10 * 100, "% of a core", 0,
            2);
    }

    for (const bool busy : {false, true}) {
        const double cpuBefore = cpuSeconds(pid);
        const auto started = Clock::now();
        const std::vector<double> trips = roundTrips(port, busy);
        const double took = ms(Clock::now() - started) / 1000;
        const QString when = busy ? QStringLiteral(", line busy") : QStringLiteral(", line idle");
        add(("Query round trip (*IDN?, WAV?), 8 clients x 1,000, median" + when).toStdString(),
            percentile(trips, 0.5), "ms", 0.3, 3);
        add(("Query round trip (*IDN?, WAV?), 8 clients x 1,000, p99" + when).toStdString(),
            percentile(trips, 0.99), "ms", 2.0, 3);
        note(QStringLiteral("Round trips%1: max %2 ms over %3, in %4 s; the server used %5 % of a core.")
                 .arg(when)
                 .arg(percentile(trips, 1.0), 0, 'f', 3)
                 .arg(trips.size())
                 .arg(took, 0, 'f', 2)
                 .arg((cpuSeconds(pid) - cpuBefore) / took * 100, 0, 'f', 1));
    }

    // A tune, from the client's send to the command's terminator at the device.
    {
        Client c(port);
        std::vector<double> toDevice;
        for (int k = 0; k < kTunes; ++k) {
            const std::size_t before = device.commands().size();
            const auto t0 = Clock::now();
            c.send("WAV " + std::to_string(1550 + k % 2));
            if (!device.waitForCommands(before + 1, 2000)) {
                break;
            }
            toDevice.push_back(ms(device.commands()[before].at - t0));
            c.ask("*OPC?");
        }
        add("WAV 1550 sent to the command's last byte at the device, median of 200",
            percentile(toDevice, 0.5), "ms", 1.0, 3);
        add("WAV 1550 sent to the command's last byte at the device, p99 of 200", percentile(toDevice, 0.99),
            "ms", NAN, 3);
    }

    // Eight clients, each sending 200 mixed messages at once and then reading its answers.
    device.clear();
    struct Plan {
        std::string messages;
        std::vector<std::string> queries; // what each answer must be; "#" a number, "" anything
        int atDevice = 0;
        std::vector<int> tunes; // in the order sent
    };
    std::vector<Plan> plans(kClients);
    for (int i = 0; i < kClients; ++i) {
        Plan& p = plans[std::size_t(i)];
        for (int k = 0; k < kMixed; ++k) {
            // Each client tunes within a decade of its own, so that the device's log tells whose tune it is.
            const int mine = 1510 + 10 * i + (k / 10 + (k % 10 == 5 ? 5 : 0)) % 10;
            std::string m;
            if (k == 50) {
                m = "WAV:SWE", p.atDevice += 4;
            } else if (k == 150) {
                m = "CAL:DATE?", p.atDevice += 3, p.queries.push_back("2024,3,5,9,7");
            } else {
                switch (k % 10) {
                case 0:
                case 5:
                    m = "WAV " + std::to_string(mine), ++p.atDevice, p.tunes.push_back(mine);
                    break;
                case 1:
                    m = "WAV?", p.queries.push_back("#");
                    break;
                case 2:
                    m = "ROUT " + std::to_string(1 + (k / 10) % 4), ++p.atDevice;
                    break;
                case 3:
                    m = "WAV UP", ++p.atDevice;
                    break;
                case 4:
                    m = "*OPC?", p.queries.push_back("1");
                    break;
                case 6:
                    m = "*IDN?", p.queries.push_back("");
                    break;
                case 7:
                    m = "WAV DOWN", ++p.atDevice;
                    break;
                case 8:
                    m = "SYST:ERR?", p.queries.push_back("0,\"No error\"");
                    break;
                default:
                    m = "WAV:STEP 2";
                }
            }
            p.messages += m + '\n';
        }
    }
    std::atomic<int> lost{0}, wrong{0};
    const auto mixedStart = Clock::now();
    {
        std::vector<std::thread> threads;
        for (const Plan& p : plans) {
            threads.emplace_back([&, &p = p] {
                Client c(port);
                c.send(p.messages.substr(0, p.messages.size() - 1));
                for (const std::string& expected : p.queries) {
                    const std::string answer = c.line();
                    if (answer.empty()) {
                        ++lost;
                    } else if ((expected == "#" &&
                                std::isnan(QByteArray::fromStdString(answer).toDouble())) ||
                               (expected != "#" && !expected.empty() && answer != expected)) {
                        ++wrong;
                    }
                }
            });
        }
        for (auto& t : threads) {
            t.join();
        }
    }
    const double mixedSeconds = ms(Clock::now() - mixedStart) / 1000;
    int expected = 0;
    for (const Plan& p : plans) {
        expected += p.atDevice;
    }
    device.waitForCommands(std::size_t(expected), 5000);
    const std::vector<PtyDevice::Command> seen = device.commands();

    // Nothing interleaved: a scan's four commands and a date's three stand together; each client's tunes
    // reach the device in the order it sent them. The pauses: 500 ms in the scan's set-up, 50 ms in the date.
    int interleaved = 0;
    double worstLate = 0, worstEarly = 0;
    std::vector<std::vector<int>> tunesSeen(kClients);
    const auto gap = [&](std::size_t a, double nominal) {
        const double g = ms(seen[a + 1].at - seen[a].at) - nominal;
        worstLate = std::max(worstLate, g);
        worstEarly = std::max(worstEarly, -g);
    };
    for (std::size_t j = 0; j < seen.size(); ++j) {
        const QByteArray& c = seen[j].text;
        const auto follows = [&](std::initializer_list<const char*> next) {
            std::size_t k = j + 1;
            for (const char* n : next) {
                interleaved += (k >= seen.size() || !seen[k].text.startsWith(n)) ? 1 : 0;
                ++k;
            }
        };
        if (c.startsWith('L')) {
            follows({"H", "T", "S"});
            gap(j, 500);
            gap(j + 1, 500);
        } else if (c == "W103") {
            follows({"W104", "W105"});
            gap(j, 50);
            gap(j + 1, 50);
        } else if (c.size() > 1 && c.startsWith('C')) {
            const int v = c.mid(1).toInt();
            tunesSeen[std::size_t((v - 1510) / 10)].push_back(v);
        }
    }
    for (int i = 0; i < kClients; ++i) {
        interleaved += tunesSeen[std::size_t(i)] == plans[std::size_t(i)].tunes ? 0 : 1;
    }
    add("8 clients x 200 mixed messages: answers lost or wrong", lost + wrong, "", 0, 0);
    add("8 clients x 200 mixed messages: device commands missing or extra",
        std::abs(double(seen.size()) - expected), "", 0, 0);
    add("8 clients x 200 mixed messages: commands out of place (interleaved, reordered)", interleaved, "", 0,
        0);
    // The server waits from the moment a command was handed to the kernel; a pause seen shorter here is the
    // device's reader noting the earlier command late.
    add("Pauses at the device (scan 500 ms, date 50 ms): the most any came early", worstEarly, "ms", NAN, 3);
    add("Pauses at the device (scan 500 ms, date 50 ms): the most any came late", worstLate, "ms", 2.0, 3);
    note(QStringLiteral(
             "Mixed run: %1 device commands (expected %2) in %3 s; per client 20 tunes, 20 steps, 20 "
             "switch changes, one scan (1 s of pauses), one date (100 ms), 81 queries, all sent at "
             "once.")
             .arg(seen.size())
             .arg(expected)
             .arg(mixedSeconds, 0, 'f', 2));

    add("Resident memory at the end", statusKb(pid, "VmRSS:") / 1024, "MB", NAN, 1);
    add("Resident memory, peak", statusKb(pid, "VmHWM:") / 1024, "MB", NAN, 1);
    note(QStringLiteral("The machine had %1 of %2 cores busy on average during the run (everything on it).")
             .arg(busyCores(machineStart, machineTime()), 0, 'f', 2)
             .arg(std::thread::hardware_concurrency()));

    server.terminate();
    server.waitForFinished(10000);
    if (server.exitCode() != 0) {
        note(QStringLiteral("FAILED: SIGTERM ended the server with status %1").arg(server.exitCode()));
    }
    return printTable() == 0 ? 0 : 1;
}
