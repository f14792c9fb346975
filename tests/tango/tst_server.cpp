// SPDX-License-Identifier: MIT
// merovask-tango as a lab runs it, on loopback and without a database: the server with Tango's resource file
// (then with -nodb), merovask-sim on a pseudo-terminal with its log, and Tango's own C++ client. Each
// attribute and command against the bytes at the device, the change events, the device going away, coming
// back and falling silent, two clients at once, and the memorized scan values across a restart.

#include "harness.h"

#include "calibration/calfile.h"
#include "calibration/upload.h"
#include "device/texts.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <thread>

using namespace tangotest;

namespace {

// A calibration file's rows as the numbers of UploadCalibration.
std::vector<double> pairsOf(const QString& file) {
    QFile in(QStringLiteral(MEROVASK_TEST_DATA) + QLatin1Char('/') + file);
    in.open(QIODevice::ReadOnly);
    std::vector<double> numbers;
    for (const QString& line : QString::fromLatin1(in.readAll()).split(QRegularExpression("[\r\n]+"))) {
        const QStringList parts = line.split(QRegularExpression(QStringLiteral("[\t,]")));
        bool w = false, v = false;
        if (parts.size() == 2 && (parts[0].toDouble(&w), w) && (parts[1].toDouble(&v), v)) {
            numbers.push_back(parts[0].toDouble());
            numbers.push_back(parts[1].toDouble());
        }
    }
    return numbers;
}

QString fileMessage(const QString& file) {
    calibration::CalTable table;
    return calibration::readCalibrationFile(QStringLiteral(MEROVASK_TEST_DATA) + QLatin1Char('/') + file,
                                            table)
        .message;
}

} // namespace

class TestServer : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void attributesAndCommands_data();
    void attributesAndCommands();
    void events();
    void clientsNeverInterleave();
    void deviceGoneSilentAndBack();
    void memorizedAcrossRestart();

  private:
    QString path(const QString& name) const { return dir_.filePath(name); }
    void startSim(const QStringList& options = {});
    QString run(const QString& action);
    void connected(Events& events);

    QTemporaryDir dir_;
    int sims_ = 0;
    std::unique_ptr<Sim> sim_;
    Server server_;
    std::unique_ptr<Tango::DeviceProxy> proxy_;
};

void TestServer::startSim(const QStringList& options) {
    sim_.reset();
    sim_ = std::make_unique<Sim>(dir_.path(), path(QStringLiteral("sim%1.log").arg(++sims_)), options);
    QVERIFY(sim_->ready);
}

void TestServer::initTestCase() {
    QVERIFY(QFile::copy(QStringLiteral(MEROVASK_TANGO_PATH), path(QStringLiteral("merovask-tango"))));
    QFile resource(path(QStringLiteral("tango.res")));
    QVERIFY(resource.open(QIODevice::WriteOnly));
    resource.write("merovask-tango/test/DEVICE/MerovaskFilter: \"lab/filter/1\"\n"
                   "lab/filter/1->SerialPort: 1\n");
    resource.close();
    startSim();
    QVERIFY(server_.start(path(QStringLiteral("merovask-tango")), {"-file=" + resource.fileName()}));
    proxy_ = server_.proxy();
    QCOMPARE(valueOf(*proxy_, QStringLiteral("State")), QStringLiteral("ON"));
}

void TestServer::cleanupTestCase() {
    proxy_.reset();
    server_.stop();
    QList<double> starts = server_.starts;
    std::sort(starts.begin(), starts.end());
    qInfo("merovask-tango started %lld times: median %.0f ms, slowest %.0f ms", qlonglong(starts.size()),
          starts.value(starts.size() / 2), starts.value(starts.size() - 1));
    Tango::ApiUtil::cleanup();
}

// ZeroMQ connects a subscriber a moment after subscribe_event has returned, and drops what was pushed before:
// tunes to the wavelength in force until a pushed event comes, then forgets those events and commands.
void TestServer::connected(Events& events) {
    QString now = valueOf(*proxy_, QStringLiteral("Wavelength"));
    if (now == QLatin1String("invalid")) {
        now = valueOf(*proxy_, QStringLiteral("WavelengthMin"));
    }
    const QString tune = QStringLiteral("write Wavelength ") + now;
    QTRY_VERIFY_WITH_TIMEOUT((run(tune), events.cameInOrder({"State MOVING"})), kWaitMs);
    events.clear();
    sim_->commands();
}

// Runs "write ATTRIBUTE VALUE", "read ATTRIBUTE", "command NAME [ARGUMENT]" or "upload FILE"; a command's
// answer is returned.
QString TestServer::run(const QString& action) {
    const QStringList words = action.split(QLatin1Char(' '));
    std::string name = words.value(1).toStdString();
    if (words[0] == QLatin1String("write")) {
        Tango::DeviceAttribute attr = words[1] == QLatin1String("Channel")
                                          ? Tango::DeviceAttribute(name, Tango::DevShort(words[2].toShort()))
                                          : Tango::DeviceAttribute(name, words[2].toDouble());
        proxy_->write_attribute(attr);
        return {};
    }
    if (words[0] == QLatin1String("read")) {
        return valueOf(*proxy_, words[1]);
    }
    Tango::DeviceData in;
    if (words[0] == QLatin1String("upload")) {
        std::vector<double> numbers;
        if (words[1].contains(QLatin1Char(','))) {
            for (const QString& number : words[1].split(QLatin1Char(','))) {
                numbers.push_back(number.toDouble());
            }
        } else {
            numbers = pairsOf(words[1]);
        }
        in << numbers;
        proxy_->command_inout("UploadCalibration", in);
        return {};
    }
    std::string text = words.value(2).toStdString();
    if (words.size() > 2) {
        if (name == "SendRaw") {
            in << text;
        } else {
            in << Tango::DevShort(words[2].toShort());
        }
    }
    Tango::DeviceData out =
        words.size() > 2 ? proxy_->command_inout(name.c_str(), in) : proxy_->command_inout(name.c_str());
    if (name != "SendRaw") {
        return {};
    }
    std::string answer;
    out >> answer;
    return QString::fromStdString(answer);
}

void TestServer::attributesAndCommands_data() {
    QTest::addColumn<QString>("actions");    // ';' between them
    QTest::addColumn<QStringList>("device"); // the commands at the device, or "N commands"
    QTest::addColumn<QString>("answer");     // of the last action
    QTest::addColumn<QStringList>("reads");  // "Attribute=value" afterwards
    QTest::addColumn<QString>("error");      // "reason: text" of a refusal; a reason alone for Tango's own

    // One after the other on the same server and device: each row starts where the last ended.
    QTest::newRow("tune above the range")
        << "write Wavelength 1600" << QStringList{"C1589"} << ""
        << QStringList{"Wavelength=1589", "Frequency=188.667", "LastReply=WL1589"} << "";
    QTest::newRow("a half to the even nm")
        << "write Wavelength 1550.5" << QStringList{"C1550"} << "" << QStringList{"Wavelength=1550"} << "";
    QTest::newRow("steps limited to 30")
        << "command StepUp 45" << QStringList{"I30"} << "" << QStringList{"Wavelength=1580"} << "";
    QTest::newRow("step down") << "command StepDown 2" << QStringList{"D2"} << ""
                               << QStringList{"Wavelength=1578"} << "";
    QTest::newRow("switch") << "write Channel 3" << QStringList{"C"} << ""
                            << QStringList{"Channel=3", "LastReply=T3", "State=ON"} << "";
    QTest::newRow("no output 5") << "write Channel 5" << QStringList{} << "" << QStringList{"Channel=3"}
                                 << "API_WAttrOutsideLimit";
    QTest::newRow("not a number, refused by Tango")
        << "write Wavelength nan" << QStringList{} << "" << QStringList{"Wavelength=1578"}
        << "API_WAttrOutsideLimit";
    QTest::newRow("scan values wait for the setting")
        << "write ScanStart 1400;write ScanStayTime 400" << QStringList{} << ""
        << QStringList{"ScanStart=1400", "ScanEnd=1589", "ScanStayTime=400"} << "";
    QTest::newRow("setting, limited") << "command ApplyScanSettings" << QStringList{"L1510", "H1589", "T300"}
                                      << "" << QStringList{"ScanStart=1510", "ScanStayTime=300"} << "";
    QTest::newRow("scan") << "write ScanSpan 0;command StartScan" << QStringList{"S1"} << ""
                          << QStringList{"ScanSpan=1", "LastReply=SP1"} << "";
    QTest::newRow("date") << "read CalibrationDate" << QStringList{"W103", "W104", "W105"}
                          << "2024-03-05 09:07" << QStringList{} << "";
    QTest::newRow("date kept") << "read CalibrationDate" << QStringList{} << "2024-03-05 09:07"
                               << QStringList{} << "";
    QTest::newRow("raw") << "command SendRaw v" << QStringList{"v"} << "V1.00"
                         << QStringList{"LastReply=V1.00"} << "";
    QTest::newRow("raw get") << "command SendRaw get" << QStringList{"W103", "W104", "W105"}
                             << "2024\n0305\n0907" << QStringList{} << "";
    QTest::newRow("table not in pairs") << "upload 1580,100,1575" << QStringList{} << "" << QStringList{}
                                        << "MEROVASK_TableRefused: " + texts::tableNotInPairs(3);
    QTest::newRow("table refused as its file")
        << "upload cal_rising.txt" << QStringList{} << "" << QStringList{}
        << "MEROVASK_TableRefused: " + fileMessage("cal_rising.txt");
    QTest::newRow("upload") << "upload cal_rows10.txt"
                            << QStringList{QString::number(calibration::uploadCommandCount(10)) + " commands"}
                            << "" << QStringList{"WavelengthMin=1517", "WavelengthMax=1589", "State=ON"}
                            << "";
    QTest::newRow("date read again") << "read CalibrationDate" << QStringList{"W103", "W104", "W105"} << ""
                                     << QStringList{} << "";
    QTest::newRow("close") << "command Close" << QStringList{} << ""
                           << QStringList{"State=OFF", "Status=" + texts::serverClosed(1)} << "";
    QTest::newRow("closed") << "write Wavelength 1550" << QStringList{} << "" << QStringList{}
                            << "MEROVASK_NoPort: " + texts::serverClosed(1);
    QTest::newRow("open") << "command Open" << QStringList{} << ""
                          << QStringList{"State=ON", "Wavelength=1578"} << "";
}

void TestServer::attributesAndCommands() {
    QFETCH(QString, actions);
    QFETCH(QStringList, device);
    QFETCH(QString, answer);
    QFETCH(QStringList, reads);
    QFETCH(QString, error);

    QString answered, refused;
    try {
        for (const QString& action : actions.split(QLatin1Char(';'))) {
            answered = run(action);
        }
    } catch (const Tango::DevFailed& e) {
        refused = QString::fromLatin1(e.errors[0].reason.in());
        if (error.contains(QLatin1Char(':'))) {
            refused += QStringLiteral(": ") + QString::fromLatin1(e.errors[0].desc.in());
        }
    }
    QCOMPARE(refused, error);
    const QStringList commands = sim_->commands();
    if (device.size() == 1 && device[0].endsWith(QLatin1String(" commands"))) {
        QCOMPARE(QString::number(commands.size()) + " commands", device[0]);
    } else {
        QCOMPARE(commands, device);
    }
    if (!answer.isEmpty() || actions.startsWith(QLatin1String("command SendRaw"))) {
        QCOMPARE(answered, answer);
    }
    for (const QString& read : reads) {
        QCOMPARE(read.section('=', 0, 0) + '=' + valueOf(*proxy_, read.section('=', 0, 0)), read);
    }
}

// The server pushes the changes itself, for each client that subscribed, in the order they happened.
void TestServer::events() {
    run(QStringLiteral("write Wavelength 1570"));
    run(QStringLiteral("write Channel 3"));
    sim_->commands();
    Subscription events(*proxy_, {"State", "Wavelength", "Channel", "LastReply"});
    // Subscribing brings each attribute's value at once.
    QTRY_VERIFY2_WITH_TIMEOUT(
        events.cameInOrder({"State ON", "Wavelength 1570", "Channel 3", "LastReply T3"}),
        qPrintable(events.seen().join(", ")), kWaitMs);
    connected(events);
    run(QStringLiteral("write Wavelength 1560"));
    run(QStringLiteral("write Channel 2"));
    QTRY_VERIFY2_WITH_TIMEOUT(
        events.cameInOrder({"State MOVING", "LastReply WL1560", "Wavelength 1560", "State ON", "State MOVING",
                            "LastReply T2", "Channel 2", "State ON"}),
        qPrintable(events.seen().join(", ")), kWaitMs);
    QCOMPARE(sim_->commands(), (QStringList{"C1560", "B"}));
}

// Three clients at once: the scan setting's three commands go out whole, the two writes wait for their turn
// behind it, and a read is answered while the setting is still on the line.
void TestServer::clientsNeverInterleave() {
    auto first = server_.proxy();
    auto second = server_.proxy();
    auto third = server_.proxy();
    std::jthread setting([&] { first->command_inout("ApplyScanSettings"); });
    QStringList seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += sim_->commands(), !seen.isEmpty()), kWaitMs);
    QCOMPARE(seen, QStringList{"L1517"}); // the uploaded table's range
    std::jthread tuneA([&] {
        Tango::DeviceAttribute value("Wavelength", 1530.0);
        second->write_attribute(value);
    });
    std::jthread tuneB([&] {
        Tango::DeviceAttribute value("Wavelength", 1540.0);
        third->write_attribute(value);
    });
    QCOMPARE(valueOf(*proxy_, QStringLiteral("State")), QStringLiteral("MOVING"));
    seen = sim_->commands();
    QVERIFY2(seen.isEmpty(), qPrintable(seen.join(' '))); // still within the setting's first pause
    setting.join();
    tuneA.join();
    tuneB.join();
    seen += sim_->commands();
    QCOMPARE(seen.size(), 4);
    QCOMPARE(seen.mid(0, 2), (QStringList{"H1589", "T300"}));
    QCOMPARE(QSet<QString>(seen.begin() + 2, seen.end()), (QSet<QString>{"C1530", "C1540"}));
}

// The device goes away: FAULT, and refusals with the reason, until it is back; a device that does not
// answer is FAULT too, until it answers again.
void TestServer::deviceGoneSilentAndBack() {
    {
        // Debian 12's Tango client fails when a subscription without a database outlives 10 s (its keep-alive
        // looks for the database): each one here is short.
        Subscription events(*proxy_, {"State"});
        connected(events);
        sim_->stop();
        QTRY_VERIFY_WITH_TIMEOUT(events.cameInOrder({"State FAULT"}), kWaitMs);
    }
    QCOMPARE(valueOf(*proxy_, QStringLiteral("Status")), texts::serverRetrying(texts::serverPortGone(1)));
    QVERIFY_THROWS_EXCEPTION(Tango::DevFailed, run(QStringLiteral("write Wavelength 1550")));

    startSim({"--silent"});
    QTRY_COMPARE_WITH_TIMEOUT(valueOf(*proxy_, QStringLiteral("State")), QStringLiteral("ON"), kWaitMs);
    QString refused;
    try {
        run(QStringLiteral("write Wavelength 1550"));
    } catch (const Tango::DevFailed& e) {
        refused = QString::fromLatin1(e.errors[0].desc.in());
    }
    QCOMPARE(refused, texts::noResponse());
    QCOMPARE(valueOf(*proxy_, QStringLiteral("State")), QStringLiteral("FAULT"));
    QCOMPARE(valueOf(*proxy_, QStringLiteral("Status")), texts::serverNoReply(1));

    startSim();
    QTRY_COMPARE_WITH_TIMEOUT(valueOf(*proxy_, QStringLiteral("State")), QStringLiteral("ON"), kWaitMs);
    run(QStringLiteral("write Wavelength 1550"));
    QCOMPARE(sim_->commands(), QStringList{"C1550"});
    QCOMPARE(valueOf(*proxy_, QStringLiteral("State")), QStringLiteral("ON"));
}

// Tango keeps the memorized scan values in the resource file; -nodb keeps none and takes the panel's port.
void TestServer::memorizedAcrossRestart() {
    const QStringList values{"ScanStart=1520", "ScanEnd=1560", "ScanStayTime=25", "ScanSpan=7"};
    for (const QString& value : values) {
        run("write " + value.section('=', 0, 0) + ' ' + value.section('=', 1));
    }
    proxy_.reset();
    server_.stop();
    QVERIFY(server_.start(path(QStringLiteral("merovask-tango")),
                          {"-file=" + path(QStringLiteral("tango.res"))}));
    proxy_ = server_.proxy();
    for (const QString& value : values) {
        QCOMPARE(value.section('=', 0, 0) + '=' + valueOf(*proxy_, value.section('=', 0, 0)), value);
    }

    proxy_.reset();
    server_.stop();
    QVERIFY(server_.start(path(QStringLiteral("merovask-tango")), {"-nodb", "-dlist", kDevice}));
    proxy_ = server_.proxy();
    QCOMPARE(valueOf(*proxy_, QStringLiteral("ScanSpan")), QStringLiteral("4"));
    {
        Subscription events(*proxy_, {"State", "Wavelength"});
        connected(events);
        run(QStringLiteral("write Wavelength 1530"));
        QTRY_VERIFY_WITH_TIMEOUT(events.cameInOrder({"Wavelength 1530"}), kWaitMs);
    }
    QCOMPARE(sim_->commands(), QStringList{"C1530"});
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
