// SPDX-License-Identifier: MIT
// The panel's benchmark, large inputs: the number reader, the settings calls and the window's start, each on
// an input far larger than any it meets in use.

#include "device/number.h"
#include "measure.h"
#include "panel_sections.h"
#include "support/panel.h"
#include "system/profile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>

using testsupport::Panel;

namespace bench {

// ---- 7. large inputs ----

// The number reader on texts of 100,000 characters, the settings calls on settings files of 10 MB, and the
// window's start on such a file of noise: each must take time in proportion to its input.
void inputs() {
    constexpr int kLong = 100000;
    const QList<QString> texts{QString(kLong, u'9'),
                               QString(kLong, u'0') + u'7',
                               QStringLiteral("0.") + QString(kLong, u'0') + u'1',
                               QStringLiteral("1") + QString(kLong, u'0') + QStringLiteral("e-100000"),
                               QString(kLong, u' ') + QStringLiteral("12"),
                               QStringLiteral("1 ").repeated(kLong),
                               QStringLiteral("&H") + QString(kLong, u'F'),
                               QStringLiteral("1e") + QString(kLong, u'9')};
    double reader = 0;
    for (const QString& text : texts) {
        const auto t0 = Clock::now();
        volatile double value = filter::readNumber(text);
        (void)value;
        reader = std::max(reader, ms(Clock::now() - t0));
    }
    add("Number reader on a text of 100,000 characters, worst of 8", reader, "ms", 50, 2);

    constexpr int kSize = 10 * 1024 * 1024;
    QByteArray noise(kSize, '\0');
    QRandomGenerator(20240607).fillRange(reinterpret_cast<quint32*>(noise.data()), kSize / 4);
    const QList<QByteArray> files{noise,
                                  QByteArray(kSize, 'x'),
                                  QByteArray("[tfilter]\r\nport=") + QByteArray(kSize, '='),
                                  QByteArray(kSize, '\r'),
                                  QByteArray(kSize, '\0'),
                                  QByteArray(kSize, '['),
                                  QByteArray("[tfilter]\n") + QByteArray("k=v\n").repeated(kSize / 4),
                                  QByteArray("[s]\n").repeated(kSize / 4)};
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("merovask.ini")));
    double calls = 0;
    for (const QByteArray& bytes : files) {
        QFile file(QString::fromLocal8Bit(path));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            return fail(QStringLiteral("inputs: cannot write ") + file.fileName());
        }
        file.close();
        char value[200];
        const auto t0 = Clock::now();
        GetPrivateProfileStringA("tfilter", "port", "1", value, sizeof value, path.constData());
        const bool written = WritePrivateProfileStringA("tfilter", "Cch", "1550", path.constData()) != 0;
        GetPrivateProfileStringA("tfilter", "Cch", "x", value, sizeof value, path.constData());
        calls = std::max(calls, ms(Clock::now() - t0));
        if (!written || qstrcmp(value, "1550") != 0) {
            return fail(QStringLiteral("inputs: the settings calls failed on a file of 10 MB"));
        }
    }
    add("Settings calls on a file of 10 MB: read, write, read back, worst of 8 files", calls, "ms", 2000, 0);

    QByteArray garbage = noise;
    const char sprinkle[] = "=[]\r\n ";
    QRandomGenerator random(4711);
    for (qsizetype i = 0; i < garbage.size(); i += 37) {
        garbage[i] = sprinkle[random.bounded(6)];
    }
    Panel p(garbage);
    const auto t0 = Clock::now();
    p.start();
    const double start = ms(Clock::now() - t0);
    add("Start-up on a settings file of 10 MB of noise, to the window shown", start, "ms", 2000, 0);
}

} // namespace bench
