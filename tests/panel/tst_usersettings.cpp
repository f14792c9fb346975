// SPDX-License-Identifier: MIT
// Settings of a program whose folder this user cannot write (an installed program): a copy per user and per
// program folder, started from the administrator's file and kept from one start to the next. Root passes
// every mode check, so the folders are read-only mounts; those cases need root and are skipped otherwise.

#include "support/panel.h"
#include "system/userdir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

using testsupport::Panel;
using testsupport::PtyDevice;

namespace {

const QByteArray kAdminFile =
    "[tfilter]\r\ndebug=0\r\nport=1\r\nSTime=3\r\nSPan=4\r\nCch=1566\r\nCI=1\r\nCD=1\r\n";

bool run(const QStringList& args) {
    QProcess p;
    p.start(args.first(), args.mid(1));
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool mountTmpfs(const QString& dir) {
    return run({"mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", dir});
}

} // namespace

class tst_usersettings : public QObject {
    Q_OBJECT

  private slots:
    void userDirFromEnvironment_data();
    void userDirFromEnvironment();
    void onePerProgramFolder();
    void readOnlyProgramFolder_data();
    void readOnlyProgramFolder();
};

void tst_usersettings::userDirFromEnvironment_data() {
    QTest::addColumn<QByteArray>("value"); // "-": unset
    QTest::addColumn<QString>("dir");
    QTest::newRow("unset") << QByteArray("-") << "/home/op/.config/merovask";
    QTest::newRow("empty") << QByteArray() << "/home/op/.config/merovask";
    QTest::newRow("relative, ignored") << QByteArray("cfg") << "/home/op/.config/merovask";
    QTest::newRow("absolute") << QByteArray("/srv/cfg/") << "/srv/cfg/merovask";
}

void tst_usersettings::userDirFromEnvironment() {
    QFETCH(QByteArray, value);
    QFETCH(QString, dir);
    Panel p({}, false); // puts XDG_CONFIG_HOME back when it goes
    const QByteArray home = qgetenv("HOME");
    const auto restore = qScopeGuard([&] { qputenv("HOME", home); });
    qputenv("HOME", "/home/op");
    value == "-" ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", value);
    QCOMPARE(platform::userDir(), dir);
}

// The installed program has the plain file; any other folder a sub-folder of its own, named so the operator
// recognises it, the same whichever way the folder is reached.
void tst_usersettings::onePerProgramFolder() {
    Panel p({}, false);
    const QString user = platform::userDir();
    QCOMPARE(platform::userSettingsPath(QStringLiteral("/usr/bin")), user + QStringLiteral("/merovask.ini"));
    const QString a = p.path(QStringLiteral("opt/bin"));
    const QString b = p.path(QStringLiteral("other/opt/bin"));
    QVERIFY(QDir().mkpath(a) && QDir().mkpath(b) && QFile::link(a, p.path(QStringLiteral("shortcut"))));
    const QString path = platform::userSettingsPath(a);
    QVERIFY2(path.startsWith(user + QStringLiteral("/opt-bin-")) &&
                 path.endsWith(QStringLiteral("/merovask.ini")),
             qPrintable(path));
    QVERIFY(path != platform::userSettingsPath(b));
    QCOMPARE(platform::userSettingsPath(p.path(QStringLiteral("shortcut/"))), path);
}

void tst_usersettings::readOnlyProgramFolder_data() {
    QTest::addColumn<QString>("userFolder");
    QTest::addColumn<QString>("cch"); // the tuning box at the second start
    QTest::newRow("per-user copy") << "writable"
                                   << "1570";
    QTest::newRow("per-user folder cannot be made") << "blocked"
                                                    << "1566";
    QTest::newRow("per-user folder read-only") << "read-only"
                                               << "1566";
}

// A change survives to the next start only in a per-user copy, which starts as the administrator's file and
// stays in use when the program folder turns writable. Without one, changes are lost silently.
void tst_usersettings::readOnlyProgramFolder() {
    QFETCH(QString, userFolder);
    QFETCH(QString, cch);
    Panel p({}, false);
    const QString dir = p.dir.path();
    if (!mountTmpfs(dir)) {
        QSKIP("mounting a tmpfs is not permitted here");
    }
    const auto unmount = qScopeGuard([&] {
        p.w.reset();
        p.device.reset();
        run({"umount", "-l", dir});
        run({"umount", "-l", p.config.path()});
    });
    QFile admin(p.path(QStringLiteral("merovask.ini")));
    QVERIFY(admin.open(QIODevice::WriteOnly) && admin.write(kAdminFile) == kAdminFile.size());
    admin.close();
    p.device = std::make_unique<PtyDevice>(dir, 1);
    QVERIFY(run({"mount", "-o", "remount,ro", dir}));
    if (userFolder == "blocked") {
        // A file where the per-user folder's parent should be: no one can make a folder under it.
        QVERIFY(QFile(p.config.filePath("file")).open(QIODevice::WriteOnly));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(p.config.filePath("file")));
    } else if (userFolder == "read-only") {
        QVERIFY(mountTmpfs(p.config.path()) && run({"mount", "-o", "remount,ro", p.config.path()}));
    }

    p.start();
    QCOMPARE(ui(p.w).Text9->text(), QStringLiteral("3"));
    ui(p.w).Text6->setText(QStringLiteral("1570"));
    p.w->Command9_Click();
    p.w.reset();
    QVERIFY(run({"mount", "-o", "remount,rw", dir}));
    p.start();
    QCOMPARE(ui(p.w).Text6->text(), cch);
    QCOMPARE(ui(p.w).Text9->text(), QStringLiteral("3"));
    QCOMPARE(p.replies(), QStringList{QStringLiteral("open successfully")});
    VERIFY_BOXES(p.boxes);
    QCOMPARE(p.iniBytes(), kAdminFile);
}

QTEST_MAIN(tst_usersettings)
#include "tst_usersettings.moc"
