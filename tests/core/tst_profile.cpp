// SPDX-License-Identifier: MIT
// The profile calls against real files: what each read returns, and the exact bytes each write leaves behind.

#include "system/profile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <csignal>
#include <memory>
#include <new>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A literal with NUL bytes in it, all of it.
template <std::size_t N> QByteArray bytes(const char (&literal)[N]) {
    return QByteArray(literal, N - 1);
}

const char* cstr(const QByteArray& b) {
    return b.isNull() ? nullptr : b.constData();
}

struct Reading {
    QByteArray text;
    DWORD result = 0;
    bool terminated = false; // a NUL right after the returned characters
    bool overrun = false;    // anything written beyond the buffer's size
};

// The buffer is filled with a marker byte and has guard bytes beyond nSize, so a missing terminator or a
// write past the end shows.
Reading readKey(const char* section, const char* key, const char* def, DWORD size, const QByteArray& path) {
    constexpr int guard = 16;
    std::vector<char> buffer(size + guard, '#');
    Reading r;
    r.result = GetPrivateProfileStringA(section, key, def, buffer.data(), size, cstr(path));
    const std::size_t n = std::min<std::size_t>(r.result, size);
    r.text = QByteArray(buffer.data(), static_cast<qsizetype>(n));
    r.terminated = r.result < size && buffer[r.result] == '\0';
    for (std::size_t i = size; i < buffer.size(); ++i)
        r.overrun = r.overrun || buffer[i] != '#';
    return r;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool putFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// True when this process can still create files in a folder that has been made read-only (root can).
bool canCreateIn(const QString& folder) {
    QFile probe(folder + "/probe");
    const bool created = probe.open(QIODevice::WriteOnly);
    if (created)
        probe.remove();
    return created;
}

ino_t inodeOf(const QByteArray& path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 ? st.st_ino : 0;
}

int hookCalls = 0;
QByteArray settingsAtHook;
QString hookPath;

void recordingHook() {
    ++hookCalls;
    settingsAtHook = fileBytes(hookPath);
}

} // namespace

class ProfileTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    QByteArray pathBytes;

    // The settings path made into something other than a file: "DIR", "FIFO", "MISSING" (its folder missing),
    // or a path of its own.
    QString placeSettings(const QString& kind) const {
        if (kind == "DIR")
            return QDir().mkdir(path) ? path : QString();
        if (kind == "FIFO")
            return ::mkfifo(pathBytes.constData(), 0600) == 0 ? path : QString();
        if (kind == "MISSING")
            return dir->filePath("nowhere/merovask.ini");
        return kind;
    }

    QStringList entries() const {
        return QDir(dir->path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

  private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        path = dir->filePath("merovask.ini");
        pathBytes = QFile::encodeName(path);
        platform::profileBeforeReplaceHook = nullptr;
        hookCalls = 0;
    }

    void cleanup() {
        platform::profileBeforeReplaceHook = nullptr;
        QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        dir.reset();
    }

    void read_data() {
        QTest::addColumn<QByteArray>("file"); // null: no file at all
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("def");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray plain = "[tfilter]\r\nport=3\r\n";
        QTest::newRow("no file") << QByteArray() << QByteArray("tfilter") << QByteArray("port")
                                 << QByteArray("1") << 200 << QByteArray("1");
        QTest::newRow("empty file") << QByteArray("") << QByteArray("tfilter") << QByteArray("port")
                                    << QByteArray("1") << 200 << QByteArray("1");
        QTest::newRow("plain") << plain << QByteArray("tfilter") << QByteArray("port") << QByteArray("1")
                               << 200 << QByteArray("3");
        QTest::newRow("no section") << plain << QByteArray("other") << QByteArray("port") << QByteArray("1")
                                    << 200 << QByteArray("1");
        QTest::newRow("no key") << plain << QByteArray("tfilter") << QByteArray("Cch") << QByteArray("1550")
                                << 200 << QByteArray("1550");
        QTest::newRow("default trailing spaces cut")
            << QByteArray() << QByteArray("tfilter") << QByteArray("port") << QByteArray(" 1550   ") << 200
            << QByteArray(" 1550");
        QTest::newRow("default of blanks only") << plain << QByteArray("tfilter") << QByteArray("x")
                                                << QByteArray("   ") << 200 << QByteArray("");
        QTest::newRow("default cut to size") << QByteArray() << QByteArray("tfilter") << QByteArray("port")
                                             << QByteArray("12345") << 3 << QByteArray("12");
        QTest::newRow("empty value is not the default")
            << QByteArray("[tfilter]\r\nport=\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("");
        QTest::newRow("value of blanks only")
            << QByteArray("[tfilter]\r\nport= \t \r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("");
        QTest::newRow("blanks and tabs around")
            << QByteArray(" \t[tfilter]\r\n \t port \t= \t3 4 5\t \r\n") << QByteArray("tfilter")
            << QByteArray("port") << QByteArray("1") << 200 << QByteArray("3 4 5");
        QTest::newRow("first = splits") << QByteArray("[tfilter]\r\na=b=c\r\n") << QByteArray("tfilter")
                                        << QByteArray("a") << QByteArray("") << 200 << QByteArray("b=c");
        QTest::newRow("double quotes") << QByteArray("[tfilter]\r\nport=\"3\"\r\n") << QByteArray("tfilter")
                                       << QByteArray("port") << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("single quotes") << QByteArray("[tfilter]\r\nport='3'\r\n") << QByteArray("tfilter")
                                       << QByteArray("port") << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("blanks inside quotes stay")
            << QByteArray("[tfilter]\r\nport= \" 3 \" \r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray(" 3 ");
        QTest::newRow("only one pair removed")
            << QByteArray("[tfilter]\r\nport=\"\"3\"\"\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("\"3\"");
        QTest::newRow("empty quotes") << QByteArray("[tfilter]\r\nport=\"\"\r\n") << QByteArray("tfilter")
                                      << QByteArray("port") << QByteArray("1") << 200 << QByteArray("");
        QTest::newRow("opening quote only")
            << QByteArray("[tfilter]\r\nport=\"3\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("\"3");
        QTest::newRow("closing quote only")
            << QByteArray("[tfilter]\r\nport=3'\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("3'");
        QTest::newRow("one quote") << QByteArray("[tfilter]\r\nport=\"\r\n") << QByteArray("tfilter")
                                   << QByteArray("port") << QByteArray("1") << 200 << QByteArray("\"");
        QTest::newRow("mixed quotes") << QByteArray("[tfilter]\r\nport=\"3'\r\n") << QByteArray("tfilter")
                                      << QByteArray("port") << QByteArray("1") << 200 << QByteArray("\"3'");
        QTest::newRow("section and key case")
            << QByteArray("[TFilter]\r\nPORT=3\r\n") << QByteArray("tfilter") << QByteArray("Port")
            << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("Latin-1 case") << QByteArray("[tfilter]\r\n\xC9T\xC9=3\r\n") << QByteArray("tfilter")
                                      << QByteArray("\xE9t\xE9") << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("blanks in header") << QByteArray("[ tfilter ]\r\nport=3\r\n") << QByteArray("tfilter")
                                          << QByteArray("port") << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("tabs in header") << QByteArray("[\ttfilter\t]\r\nport=3\r\n") << QByteArray("tfilter")
                                        << QByteArray("port") << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("text after header")
            << QByteArray("[tfilter] ; panel\r\nport=3\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("blanks around asked names")
            << plain << QByteArray(" tfilter\t") << QByteArray(" port ") << QByteArray("1") << 200
            << QByteArray("3");
        QTest::newRow("header without bracket is no header")
            << QByteArray("[tfilter\r\nport=3\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("1");
        QTest::newRow("first duplicate key wins")
            << QByteArray("[tfilter]\r\nport=3\r\nPort=4\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("only first duplicate section")
            << QByteArray("[tfilter]\r\nCch=1550\r\n[x]\r\n[TFILTER]\r\nport=9\r\n") << QByteArray("tfilter")
            << QByteArray("port") << QByteArray("1") << 200 << QByteArray("1");
        QTest::newRow("key in another section")
            << QByteArray("[x]\r\nport=9\r\n[tfilter]\r\nCch=1\r\n") << QByteArray("tfilter")
            << QByteArray("port") << QByteArray("1") << 200 << QByteArray("1");
        QTest::newRow("key before any section")
            << QByteArray("port=9\r\n[tfilter]\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("1");
        QTest::newRow("line without =")
            << QByteArray("[tfilter]\r\nport\r\nport 3\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("1");
        QTest::newRow("blank lines") << QByteArray("\r\n\r\n[tfilter]\r\n\r\n   \r\nport=3\r\n\r\n")
                                     << QByteArray("tfilter") << QByteArray("port") << QByteArray("1") << 200
                                     << QByteArray("3");
        QTest::newRow("LF only") << QByteArray("[x]\na=1\n[tfilter]\nCch=2\nport=3\n")
                                 << QByteArray("tfilter") << QByteArray("port") << QByteArray("1") << 200
                                 << QByteArray("3");
        QTest::newRow("CR only") << QByteArray("[x]\ra=1\r[tfilter]\rCch=2\rport=3\r")
                                 << QByteArray("tfilter") << QByteArray("port") << QByteArray("1") << 200
                                 << QByteArray("3");
        QTest::newRow("CR only, other section after")
            << QByteArray("[tfilter]\rCch=2\r[x]\rport=3\r") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("1");
        QTest::newRow("mixed line ends")
            << QByteArray("[tfilter]\rCch=2\nSPan=4\r\nport=3") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("no final newline") << QByteArray("[tfilter]\r\nport=3") << QByteArray("tfilter")
                                          << QByteArray("port") << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("BOM") << QByteArray("\xEF\xBB\xBF[tfilter]\r\nport=3\r\n") << QByteArray("tfilter")
                             << QByteArray("port") << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("8-bit value bytes")
            << QByteArray("[tfilter]\r\nport=\xE9\xFF\x80\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("\xE9\xFF\x80");
        QTest::newRow("300 characters, 200 buffer")
            << QByteArray("[tfilter]\r\nCch=" + QByteArray(300, 'x') + "\r\n") << QByteArray("tfilter")
            << QByteArray("Cch") << QByteArray("1") << 200 << QByteArray(199, 'x');
        QTest::newRow("199 characters fit")
            << QByteArray("[tfilter]\r\nCch=" + QByteArray(199, 'y') + "\r\n") << QByteArray("tfilter")
            << QByteArray("Cch") << QByteArray("1") << 200 << QByteArray(199, 'y');
        QTest::newRow("size 1") << plain << QByteArray("tfilter") << QByteArray("port") << QByteArray("1")
                                << 1 << QByteArray("");
        QTest::newRow("NUL ends the value")
            << bytes("[tfilter]\r\nport=3\0xyz\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("NUL before the key")
            << bytes("[tfilter]\r\n\0port=3\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("1");
        QTest::newRow("NUL lines around")
            << bytes("\0\0\0\r\n[tfilter]\r\n\0=\0\r\nport=3\r\n\0") << QByteArray("tfilter")
            << QByteArray("port") << QByteArray("1") << 200 << QByteArray("3");
        QTest::newRow("comment line is no key for another name")
            << QByteArray("[tfilter]\r\n;port=9\r\nport=3\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("1") << 200 << QByteArray("3");
    }

    void read() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, def);
        QFETCH(int, size);
        QFETCH(QByteArray, expected);
        if (!file.isNull())
            QVERIFY(putFile(path, file));

        const Reading r =
            readKey(section.constData(), key.constData(), def.constData(), DWORD(size), pathBytes);
        QCOMPARE(r.text, expected);
        QCOMPARE(r.result, DWORD(expected.size()));
        QVERIFY(r.terminated);
        QVERIFY(!r.overrun);
        QCOMPARE(QFileInfo::exists(path), !file.isNull());
        if (!file.isNull())
            QCOMPARE(fileBytes(path), file);
    }

    void readOddArguments() {
        QVERIFY(putFile(path, "[tfilter]\r\nport=3\r\n"));

        char buffer[8] = "abcdefg";
        QCOMPARE(GetPrivateProfileStringA("tfilter", "port", "1", buffer, 0, pathBytes.constData()),
                 DWORD(0));
        QCOMPARE(QByteArray(buffer), QByteArray("abcdefg"));

        Reading r = readKey("tfilter", "Cch", nullptr, 200, pathBytes);
        QCOMPARE(r.text, QByteArray());
        QVERIFY(r.terminated);
        for (const auto& [section, key] : {std::pair<const char*, const char*>{nullptr, "port"},
                                           {"tfilter", nullptr},
                                           {nullptr, nullptr}}) {
            r = readKey(section, key, "1", 200, pathBytes);
            QCOMPARE(r.result, DWORD(0));
            QVERIFY(r.terminated);
        }
        QCOMPARE(GetPrivateProfileStringA("tfilter", "port", "1", nullptr, 200, pathBytes.constData()),
                 DWORD(0));
        r = readKey("tfilter", "port", "7", 200, QByteArray());
        QCOMPARE(r.text, QByteArray("7"));
    }

    void readOtherThingsThanFiles_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("directory") << QString("DIR");
        QTest::newRow("pipe") << QString("FIFO");
        QTest::newRow("proc file") << QString("/proc/version");
        QTest::newRow("missing folder") << QString("MISSING");
    }

    void readOtherThingsThanFiles() {
        QFETCH(QString, where);
        where = placeSettings(where);
        const Reading r = readKey("tfilter", "port", "1", 200, QFile::encodeName(where));
        QCOMPARE(r.text, QByteArray("1"));
        QVERIFY(r.terminated);
    }

    void write_data() {
        QTest::addColumn<QByteArray>("before"); // null: no file at all
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");   // null: remove the section
        QTest::addColumn<QByteArray>("value"); // null: remove the key
        QTest::addColumn<QByteArray>("after");

        const QByteArray first = "[tfilter]\r\nport=3\r\n";
        QTest::newRow("no file") << QByteArray() << QByteArray("tfilter") << QByteArray("port")
                                 << QByteArray("3") << first;
        QTest::newRow("empty file") << QByteArray("") << QByteArray("tfilter") << QByteArray("port")
                                    << QByteArray("3") << first;
        QTest::newRow("replace keeps place and case")
            << QByteArray("[tfilter]\r\ndebug=0\r\nPORT=1\r\nSTime=1\r\n") << QByteArray("tfilter")
            << QByteArray("port") << QByteArray("7")
            << QByteArray("[tfilter]\r\ndebug=0\r\nPORT=7\r\nSTime=1\r\n");
        QTest::newRow("replace first duplicate")
            << QByteArray("[tfilter]\r\nport=1\r\nport=2\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("7") << QByteArray("[tfilter]\r\nport=7\r\nport=2\r\n");
        QTest::newRow("replace hand-edited line")
            << QByteArray("[tfilter]\n  port = 1 \nCch=2\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("7") << QByteArray("[tfilter]\nport=7\r\nCch=2\n");
        QTest::newRow("replace last line without newline")
            << QByteArray("[tfilter]\r\nport=1") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("7") << first.left(11) + "port=7\r\n";
        QTest::newRow("replace quoted") << QByteArray("[tfilter]\r\nport=\"3\"\r\n") << QByteArray("tfilter")
                                        << QByteArray("port") << QByteArray("3") << first;
        QTest::newRow("new key after last key, section follows")
            << QByteArray("[tfilter]\r\ndebug=0\r\nport=1\r\n\r\n; note\r\n[other]\r\na=1\r\n")
            << QByteArray("tfilter") << QByteArray("Cch") << QByteArray("1550")
            << QByteArray("[tfilter]\r\ndebug=0\r\nport=1\r\nCch=1550\r\n\r\n; note\r\n[other]\r\na=1\r\n");
        QTest::newRow("new key into section without keys")
            << QByteArray("[tfilter]\r\n; comment\r\n\r\n[x]\r\n") << QByteArray("tfilter")
            << QByteArray("port") << QByteArray("3")
            << QByteArray("[tfilter]\r\nport=3\r\n; comment\r\n\r\n[x]\r\n");
        QTest::newRow("new key after header without newline")
            << QByteArray("[tfilter]") << QByteArray("tfilter") << QByteArray("port") << QByteArray("3")
            << first;
        QTest::newRow("new key after last line without newline")
            << QByteArray("[tfilter]\r\ndebug=0") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("3") << QByteArray("[tfilter]\r\ndebug=0\r\nport=3\r\n");
        QTest::newRow("new key in first duplicate section")
            << QByteArray("[tfilter]\r\na=1\r\n[TFILTER]\r\nb=2\r\n") << QByteArray("tfilter")
            << QByteArray("b") << QByteArray("3")
            << QByteArray("[tfilter]\r\na=1\r\nb=3\r\n[TFILTER]\r\nb=2\r\n");
        QTest::newRow("header keeps its spelling")
            << QByteArray("[ TFilter ] ;x\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("3") << QByteArray("[ TFilter ] ;x\r\nport=3\r\n");
        QTest::newRow("new section at the end")
            << QByteArray("; settings\n\n[other]\na=1\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("3") << QByteArray("; settings\n\n[other]\na=1\n") + first;
        QTest::newRow("new section after last line without newline")
            << QByteArray("[other]\r\na=1") << QByteArray("tfilter") << QByteArray("port") << QByteArray("3")
            << QByteArray("[other]\r\na=1\r\n") + first;
        QTest::newRow("new section after CR-only file")
            << QByteArray("[other]\ra=1\r") << QByteArray("tfilter") << QByteArray("port") << QByteArray("3")
            << QByteArray("[other]\ra=1\r") + first;
        QTest::newRow("CR-only lines stay")
            << QByteArray("[tfilter]\rdebug=0\r\r[x]\r") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("3") << QByteArray("[tfilter]\rdebug=0\rport=3\r\n\r[x]\r");
        QTest::newRow("BOM stays") << QByteArray("\xEF\xBB\xBF[tfilter]\r\nport=1\r\n")
                                   << QByteArray("tfilter") << QByteArray("port") << QByteArray("3")
                                   << QByteArray("\xEF\xBB\xBF[tfilter]\r\nport=3\r\n");
        QTest::newRow("BOM only") << QByteArray("\xEF\xBB\xBF") << QByteArray("tfilter") << QByteArray("port")
                                  << QByteArray("3") << QByteArray("\xEF\xBB\xBF") + first;
        QTest::newRow("leading blanks of value cut")
            << QByteArray() << QByteArray("tfilter") << QByteArray("port") << QByteArray(" \t 3 4 ")
            << QByteArray("[tfilter]\r\nport=3 4 \r\n");
        QTest::newRow("empty value") << QByteArray(first) << QByteArray("tfilter") << QByteArray("port")
                                     << QByteArray("") << QByteArray("[tfilter]\r\nport=\r\n");
        QTest::newRow("nothing escaped")
            << QByteArray() << QByteArray("tfilter") << QByteArray("Cch") << QByteArray("\"a\";b=c\\d[e]\xE9")
            << QByteArray("[tfilter]\r\nCch=\"a\";b=c\\d[e]\xE9\r\n");
        QTest::newRow("names written trimmed")
            << QByteArray() << QByteArray(" tfilter ") << QByteArray("\tport ") << QByteArray("3") << first;
        QTest::newRow("remove key") << QByteArray("[tfilter]\r\ndebug=0\r\nport=1\r\nCch=2\r\n")
                                    << QByteArray("tfilter") << QByteArray("PORT") << QByteArray()
                                    << QByteArray("[tfilter]\r\ndebug=0\r\nCch=2\r\n");
        QTest::newRow("remove first duplicate only")
            << QByteArray("[tfilter]\r\nport=1\r\nport=2\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray() << QByteArray("[tfilter]\r\nport=2\r\n");
        QTest::newRow("remove last key without newline")
            << QByteArray("[tfilter]\r\nport=1") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray() << QByteArray("[tfilter]\r\n");
        QTest::newRow("remove section")
            << QByteArray("[a]\nx=1\n[tfilter]\nport=1\n; c\n[b]\ny=2\n") << QByteArray("tfilter")
            << QByteArray() << QByteArray() << QByteArray("[a]\nx=1\n[b]\ny=2\n");
        QTest::newRow("remove last section")
            << QByteArray("[a]\nx=1\n[tfilter]\nport=1") << QByteArray("tfilter") << QByteArray()
            << QByteArray() << QByteArray("[a]\nx=1\n");
        QTest::newRow("garbage lines kept")
            << bytes("\x01\x02\xFF\r\n[tfilter]\r\n\x7F\x80=\x90\r\n\0\0junk\0\r\nport=1\r\n\xFE")
            << QByteArray("tfilter") << QByteArray("Cch") << QByteArray("5")
            << bytes("\x01\x02\xFF\r\n[tfilter]\r\n\x7F\x80=\x90\r\n\0\0junk\0\r\nport=1\r\nCch=5\r\n\xFE");
        QTest::newRow("NUL line is no key")
            << bytes("[tfilter]\r\n\0port=1\r\n") << QByteArray("tfilter") << QByteArray("port")
            << QByteArray("3") << bytes("[tfilter]\r\nport=3\r\n\0port=1\r\n");
    }

    void write() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, after);
        if (!before.isNull())
            QVERIFY(putFile(path, before));

        QVERIFY(
            WritePrivateProfileStringA(section.constData(), cstr(key), cstr(value), pathBytes.constData()));
        QCOMPARE(fileBytes(path), after);
        QCOMPARE(entries(), QStringList{"merovask.ini"});
    }

    void writeThenRead_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("readBack");
        QTest::newRow("number") << QByteArray("1550") << QByteArray("1550");
        QTest::newRow("blanks around") << QByteArray("  1550  ") << QByteArray("1550");
        QTest::newRow("quoted") << QByteArray("'1550'") << QByteArray("1550");
        QTest::newRow("inner =") << QByteArray("a=b") << QByteArray("a=b");
        QTest::newRow("8-bit") << QByteArray("\xB0\xE9") << QByteArray("\xB0\xE9");
        QTest::newRow("long value cut on reading") << QByteArray(300, '7') << QByteArray(199, '7');
    }

    void writeThenRead() {
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, readBack);
        QVERIFY(WritePrivateProfileStringA("tfilter", "Cch", value.constData(), pathBytes.constData()));
        QCOMPARE(readKey("tfilter", "Cch", "x", 200, pathBytes).text, readBack);
    }

    // The order in which start-up and a later calibration upload first write the keys is the file's order.
    void firstStartThenCalibration() {
        const std::pair<const char*, const char*> startUp[] = {
            {"debug", "0"},  {"port", "1"}, {"STime", "1"}, {"SPan", "4"},
            {"Cch", "1550"}, {"CI", "1"},   {"CD", "1"}};
        for (const auto& [key, value] : startUp)
            QVERIFY(WritePrivateProfileStringA("tfilter", key, value, pathBytes.constData()));
        QVERIFY(WritePrivateProfileStringA("tfilter", "SWmin", "1520", pathBytes.constData()));
        QVERIFY(WritePrivateProfileStringA("tfilter", "SWmax", "1570", pathBytes.constData()));
        QVERIFY(WritePrivateProfileStringA("tfilter", "port", "2", pathBytes.constData()));
        QCOMPARE(fileBytes(path),
                 QByteArray("[tfilter]\r\ndebug=0\r\nport=2\r\nSTime=1\r\nSPan=4\r\nCch=1550\r\n"
                            "CI=1\r\nCD=1\r\nSWmin=1520\r\nSWmax=1570\r\n"));
    }

    void writeThatChangesNothing_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value"); // null: remove
        QTest::newRow("same value") << QByteArray("[tfilter]\r\nport=3\r\n") << QByteArray("port")
                                    << QByteArray("3");
        QTest::newRow("same value, other spelling")
            << QByteArray("[TFILTER]\n PORT = 3 \n") << QByteArray("port") << QByteArray("  3 ");
        QTest::newRow("same empty value")
            << QByteArray("[tfilter]\rport=\r") << QByteArray("port") << QByteArray("");
        QTest::newRow("remove missing key")
            << QByteArray("[tfilter]\r\nport=3\r\n") << QByteArray("Cch") << QByteArray();
        QTest::newRow("remove from missing section")
            << QByteArray("[x]\r\nport=3\r\n") << QByteArray("port") << QByteArray();
    }

    void writeThatChangesNothing() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QVERIFY(putFile(path, before));
        const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-3600);
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        }
        const ino_t inode = inodeOf(pathBytes);
        hookPath = path;
        platform::profileBeforeReplaceHook = recordingHook;

        QVERIFY(WritePrivateProfileStringA("tfilter", key.constData(), cstr(value), pathBytes.constData()));
        QCOMPARE(hookCalls, 0);
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(QFileInfo(path).lastModified().toUTC(), old);
        QCOMPARE(inodeOf(pathBytes), inode);
    }

    void removeWithoutFileCreatesNothing() {
        QVERIFY(WritePrivateProfileStringA("tfilter", "port", nullptr, pathBytes.constData()));
        QVERIFY(WritePrivateProfileStringA("tfilter", nullptr, nullptr, pathBytes.constData()));
        QVERIFY(!QFileInfo::exists(path));
    }

    // Names and values that would not read back as written, or that would add lines of their own.
    void writeRefusesWhatCannotBeStored_data() {
        QTest::addColumn<QByteArray>("section"); // null: no section given
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("no section") << QByteArray() << QByteArray("port") << QByteArray("3");
        QTest::newRow("line break in value")
            << QByteArray("tfilter") << QByteArray("port") << QByteArray("3\r\n[evil]");
        QTest::newRow("CR in value") << QByteArray("tfilter") << QByteArray("port") << QByteArray("3\rx=1");
        QTest::newRow("LF in key") << QByteArray("tfilter") << QByteArray("po\nrt") << QByteArray("3");
        QTest::newRow("= in key") << QByteArray("tfilter") << QByteArray("a=b") << QByteArray("3");
        QTest::newRow("empty key") << QByteArray("tfilter") << QByteArray(" ") << QByteArray("3");
        QTest::newRow("key like a header") << QByteArray("tfilter") << QByteArray("[x]") << QByteArray("3");
        QTest::newRow("] in section") << QByteArray("t]filter") << QByteArray("port") << QByteArray("3");
        QTest::newRow("LF in section") << QByteArray("t\nfilter") << QByteArray("port") << QByteArray("3");
    }

    void writeRefusesWhatCannotBeStored() {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        const QByteArray before = "[tfilter]\r\nport=1\r\n";
        QVERIFY(putFile(path, before));
        QCOMPARE(WritePrivateProfileStringA(cstr(section), key.constData(), value.constData(),
                                            pathBytes.constData()),
                 0);
        QCOMPARE(fileBytes(path), before);
    }

    void writeWithoutFileName() {
        QCOMPARE(WritePrivateProfileStringA("tfilter", "port", "3", nullptr), 0);
        QCOMPARE(WritePrivateProfileStringA("tfilter", "port", "3", ""), 0);
    }

    // Only places that nothing can damage: this test runs as root, where a faulty write could replace a
    // device.
    void writeFailsWhereNothingCanBeWritten_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("missing folder") << QString("MISSING");
        QTest::newRow("settings path is a folder") << QString("DIR");
        QTest::newRow("settings path is a pipe") << QString("FIFO");
        QTest::newRow("proc folder") << QString("/proc/self/merovask.ini");
        QTest::newRow("proc file") << QString("/proc/version");
    }

    // These fail for root too.
    void writeFailsWhereNothingCanBeWritten() {
        QFETCH(QString, where);
        const QString kind = where;
        where = placeSettings(kind);
        const QByteArray target = QFile::encodeName(where);
        const QByteArray before = kind == "FIFO" ? QByteArray() : fileBytes(where);
        const QStringList mine = entries();

        QCOMPARE(WritePrivateProfileStringA("tfilter", "port", "3", target.constData()), 0);
        QCOMPARE(entries(), mine);
        struct stat st {};
        if (kind == "DIR") {
            QVERIFY(QFileInfo(path).isDir());
        } else if (kind == "FIFO") {
            QCOMPARE(::lstat(target.constData(), &st), 0);
            QVERIFY(S_ISFIFO(st.st_mode));
        } else {
            QCOMPARE(fileBytes(where), before);
        }
    }

    void writeFailsInReadOnlyFolder() {
        const QByteArray before = "[tfilter]\r\nport=1\r\n";
        QVERIFY(putFile(path, before));
        QVERIFY(QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::ExeOwner));
        if (canCreateIn(dir->path()))
            QSKIP("this user writes into read-only folders (root)");

        QCOMPARE(WritePrivateProfileStringA("tfilter", "port", "3", pathBytes.constData()), 0);
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(entries(), QStringList{"merovask.ini"});
        QCOMPARE(readKey("tfilter", "port", "9", 200, pathBytes).text, QByteArray("1"));
    }

    void writeFailsOnReadOnlyFile() {
        const QByteArray before = "[tfilter]\r\nport=1\r\n";
        QVERIFY(putFile(path, before));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        {
            QFile probe(path);
            if (probe.open(QIODevice::WriteOnly | QIODevice::Append))
                QSKIP("this user writes into read-only files (root)");
        }
        QCOMPARE(WritePrivateProfileStringA("tfilter", "port", "3", pathBytes.constData()), 0);
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(entries(), QStringList{"merovask.ini"});
    }

    void writeKeepsPermissions() {
        QVERIFY(putFile(path, "[tfilter]\r\nport=1\r\n"));
        const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(path, mode));
        QVERIFY(WritePrivateProfileStringA("tfilter", "port", "3", pathBytes.constData()));
        QCOMPARE(QFileInfo(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                 mode);
    }

    // An operator who keeps the settings elsewhere and links them in keeps the link.
    void writeThroughSymlink() {
        QVERIFY(QDir(dir->path()).mkdir("real"));
        const QString real = dir->filePath("real/merovask.ini");
        QVERIFY(putFile(real, "[tfilter]\r\nport=1\r\n"));
        QVERIFY(QFile::link("real/merovask.ini", path));
        QVERIFY(WritePrivateProfileStringA("tfilter", "port", "5", pathBytes.constData()));
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(fileBytes(real), QByteArray("[tfilter]\r\nport=5\r\n"));
        QCOMPARE(
            QDir(dir->filePath("real")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"merovask.ini"});
    }

    // A new settings file is as readable as any file the user creates.
    void newFileFollowsUmask() {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QVERIFY(WritePrivateProfileStringA("tfilter", "port", "3", pathBytes.constData()));
        struct stat st {};
        QCOMPARE(::stat(pathBytes.constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0666 & ~mask);
    }

    void hookRunsOnceBeforeReplacing() {
        const QByteArray before = "[tfilter]\r\nport=1\r\n";
        QVERIFY(putFile(path, before));
        hookPath = path;
        platform::profileBeforeReplaceHook = recordingHook;
        QVERIFY(WritePrivateProfileStringA("tfilter", "port", "3", pathBytes.constData()));
        QCOMPARE(hookCalls, 1);
        QCOMPARE(settingsAtHook, before);
        QCOMPARE(fileBytes(path), QByteArray("[tfilter]\r\nport=3\r\n"));
    }

    // The process dies with the new contents complete but not yet in place: the old file must be intact, and
    // whatever the temporary file left behind must not disturb later reads and writes.
    void crashBeforeReplaceKeepsOldFile() {
        const QByteArray before = "; hand-made\n[tfilter]\r\nport=1\r\nCch=1550\r\n";
        QVERIFY(putFile(path, before));

        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            platform::profileBeforeReplaceHook = [] { ::_exit(3); };
            WritePrivateProfileStringA("tfilter", "port", "2", pathBytes.constData());
            ::_exit(4);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 3);

        QCOMPARE(fileBytes(path), before);
        const QStringList left = entries();
        QVERIFY(left.contains("merovask.ini"));
        if (left.size() > 1)
            qInfo() << "left behind by the dead writer:" << left;

        QCOMPARE(readKey("tfilter", "port", "9", 200, pathBytes).text, QByteArray("1"));
        QVERIFY(WritePrivateProfileStringA("tfilter", "port", "2", pathBytes.constData()));
        QCOMPARE(fileBytes(path), QByteArray("; hand-made\n[tfilter]\r\nport=2\r\nCch=1550\r\n"));
    }

    // A file size limit fails the writes the way a full disk does, and unlike a full disk it also holds for
    // root.
    void writeFailsWhenDiskIsFull() {
        const QByteArray before = "[tfilter]\r\nport=1\r\n";
        QVERIFY(putFile(path, before));
        const QByteArray big(64 * 1024, '5');

        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{4096, 4096};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(2);
            ::_exit(WritePrivateProfileStringA("tfilter", "Cch", big.constData(), pathBytes.constData()) ? 1
                                                                                                         : 0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(entries(), QStringList{"merovask.ini"});
    }

    // Something takes the settings file's place while the new one is being written: the replacing rename
    // fails, and that must be reported, with no temporary file left over.
    void writeFailsWhenReplaceFails() {
        QVERIFY(putFile(path, "[tfilter]\r\nport=1\r\n"));
        hookPath = path;
        platform::profileBeforeReplaceHook = [] {
            QFile::remove(hookPath);
            QDir().mkpath(hookPath + "/inside");
        };
        QCOMPARE(WritePrivateProfileStringA("tfilter", "port", "3", pathBytes.constData()), 0);
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(entries(), QStringList{"merovask.ini"});
    }

    // A call takes memory for what the file holds, not for the largest file it would accept (64 MiB): with
    // the address space capped 32 MiB above its present size, a reading and a writing call still succeed.
    void callsTakeMemoryForWhatTheFileHolds() {
        QVERIFY(putFile(path, "[tfilter]\r\nport=1\r\n"));
        QFile statm("/proc/self/statm");
        QVERIFY(statm.open(QIODevice::ReadOnly));
        const rlim_t present =
            statm.readAll().split(' ').value(0).toULongLong() * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
        QVERIFY(present > 0);

        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // The test framework's crash handlers stay out of it: a failed allocation ends the child at once.
            ::signal(SIGABRT, SIG_DFL);
            ::signal(SIGSEGV, SIG_DFL);
            const rlimit cap{present + 32 * 1024 * 1024, present + 32 * 1024 * 1024};
            if (::setrlimit(RLIMIT_AS, &cap) != 0)
                ::_exit(2);
            try {
                std::array<char, 16> buffer{};
                const DWORD n = GetPrivateProfileStringA("tfilter", "port", "", buffer.data(), buffer.size(),
                                                         pathBytes.constData());
                if (n != 1 || buffer[0] != '1')
                    ::_exit(3);
                ::_exit(WritePrivateProfileStringA("tfilter", "port", "2", pathBytes.constData()) ? 0 : 4);
            } catch (const std::bad_alloc&) {
                ::_exit(5);
            }
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) != 5, "a settings call ran out of memory");
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(fileBytes(path), QByteArray("[tfilter]\r\nport=2\r\n"));
    }

    // Huge or hostile files: every call keeps what is there. That each takes time in proportion to the size
    // is a figure of the benchmark.
    void largeFiles_data() {
        QTest::addColumn<QByteArray>("file");
        constexpr int size = 10 * 1024 * 1024;
        QByteArray random(size, '\0');
        QRandomGenerator generator(20240607);
        generator.fillRange(reinterpret_cast<quint32*>(random.data()), size / 4);
        QTest::newRow("random bytes") << random;
        QTest::newRow("one long line") << QByteArray(size, 'x');
        QTest::newRow("one long value") << QByteArray("[tfilter]\r\nport=") + QByteArray(size, '=');
        QTest::newRow("all CR") << QByteArray(size, '\r');
        QTest::newRow("all NUL") << QByteArray(size, '\0');
        QTest::newRow("open brackets") << QByteArray(size, '[');
        QTest::newRow("many keys") << QByteArray("[tfilter]\n") + QByteArray("k=v\n").repeated(size / 4);
        QTest::newRow("many sections") << QByteArray("[s]\n").repeated(size / 4);
    }

    void largeFiles() {
        QFETCH(QByteArray, file);
        QVERIFY(putFile(path, file));

        const Reading r = readKey("tfilter", "port", "1", 200, pathBytes);
        QVERIFY(r.terminated);
        QVERIFY(!r.overrun);
        QVERIFY(WritePrivateProfileStringA("tfilter", "Cch", "1550", pathBytes.constData()));
        const QByteArray after = fileBytes(path);
        QCOMPARE(readKey("tfilter", "Cch", "x", 200, pathBytes).text, QByteArray("1550"));

        // Everything that was there is still there, with one line added.
        QVERIFY(after.size() > file.size());
        const qsizetype at = after.indexOf("Cch=1550\r\n");
        QVERIFY(at >= 0);
        QByteArray withoutLine = after;
        withoutLine.remove(at, 10);
        QVERIFY(withoutLine.startsWith(file));
        const QByteArray added = withoutLine.mid(file.size());
        const QByteArrayList allowed = {"", "\r\n", "[tfilter]\r\n", "\r\n[tfilter]\r\n"};
        QVERIFY2(allowed.contains(added), added.left(40).toHex().constData());
    }
};

QTEST_GUILESS_MAIN(ProfileTest)
#include "tst_profile.moc"
