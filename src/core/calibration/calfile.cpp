// SPDX-License-Identifier: MIT
#include "calibration/calfile.h"

#include "device/number.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QLocale>
#include <cstring>
#include <memory>
#include <optional>

#include <cmath>

namespace calibration {

namespace {

constexpr qint64 kChunkSize = 64 * 1024;
constexpr std::int16_t kFirstLastWave = 10000;

// The fewest digits that give the number back, in plain decimals as an operator writes them (1550.3,
// 2000000000); only numbers too large for that (beyond 15 digits) take an exponent.
QString shortest(double value) {
    const char format = std::abs(value) < 1e15 ? 'f' : 'g';
    return QString::number(value, format, QLocale::FloatingPointShortest);
}

QByteArrayView stripSpaces(QByteArrayView line) {
    // Only the space itself: a leading TAB stays and then keeps the line from being a data row.
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && line[begin] == ' ')
        ++begin;
    while (end > begin && line[end - 1] == ' ')
        --end;
    return line.sliced(begin, end - begin);
}

qsizetype findSeparator(QByteArrayView line) {
    // By kind, not by position: a TAB anywhere beats a comma in front of it.
    for (const char kind : {'\t', '\x14', ','}) {
        const qsizetype at = line.indexOf(kind);
        if (at >= 0)
            return at;
    }
    return -1;
}

class Reader {
  public:
    explicit Reader(CalTable& table) : table_(table) {
        table_.calMin = 100000;
        table_.calMax = 0;
    }

    // False when the line ends the reading; result() then tells why.
    bool takeLine(QByteArrayView rawLine) {
        const QByteArrayView line = stripSpaces(rawLine);
        if (line.size() < 6)
            return true;
        const qsizetype sep = findSeparator(line);
        if (sep < 1)
            return true;

        const double w = filter::readNumber(QString::fromLatin1(line.first(sep)));
        const std::optional<std::int32_t> wave = filter::roundToInt32(w);
        if (!wave)
            return fail(ReadResult::BadWave, badWaveText(w));
        if (w > table_.calMax)
            table_.calMax = *wave;
        if (w < table_.calMin)
            table_.calMin = *wave;
        if (w > lastWave_) {
            return fail(ReadResult::OrderError,
                        QStringLiteral("format error, the ") + QString::number(rowCount_) +
                            QStringLiteral(" wavelength") + shortest(w) +
                            QStringLiteral(" can't be bigger than ") + QString::number(lastWave_));
        }
        // Passing the order check bounds it above by 10000, so only a far negative one lands here.
        const std::optional<std::int16_t> wave16 = filter::roundToInt16(w);
        if (!wave16)
            return fail(ReadResult::BadWave, badWaveText(w));
        lastWave_ = *wave16;

        const double v = filter::readNumber(QString::fromLatin1(line.sliced(sep + 1)));
        const std::optional<std::int16_t> value = filter::roundToInt16(v);
        if (!value) {
            return fail(ReadResult::BadValue, QStringLiteral("format error, the ") +
                                                  QString::number(rowCount_) + QStringLiteral(" value") +
                                                  shortest(v) +
                                                  QStringLiteral(" is out of range -32768~32767"));
        }
        // rowCount_ never passes kMaxRows here: the reading stops at the row after it.
        table_.calTable[static_cast<std::size_t>(rowCount_)] = *value;
        result_.waves.push_back(w);
        ++rowCount_;
        if (rowCount_ > kMaxRows)
            return fail(ReadResult::TooMany, QStringLiteral("format error, too many lines!"));
        return true;
    }

    bool fail(ReadResult::Kind kind, const QString& message) {
        result_.kind = kind;
        result_.message = message;
        return false;
    }

    ReadResult finish() {
        if (rowCount_ < kMinRows) {
            result_.kind = ReadResult::NoData;
            result_.message = QStringLiteral("format error, no data !");
        } else {
            result_.kind = ReadResult::Ok;
            result_.message.clear();
        }
        return result();
    }

    ReadResult result() {
        result_.rowCount = rowCount_;
        return result_;
    }

  private:
    QString badWaveText(double w) const {
        return QStringLiteral("format error, the ") + QString::number(rowCount_) +
               QStringLiteral(" wavelength") + shortest(w) + QStringLiteral(" is out of range");
    }

    CalTable& table_;
    ReadResult result_;
    std::int16_t rowCount_ = 0;
    std::int16_t lastWave_ = kFirstLastWave;
};

QString deviceName(const QIODevice& in) {
    if (const auto* file = qobject_cast<const QFileDevice*>(&in))
        return file->fileName();
    return {};
}

} // namespace

ReadResult readCalibration(QIODevice& in, CalTable& table) {
    Reader reader(table);
    if (!in.isReadable()) {
        reader.fail(ReadResult::ReadFailed, unreadableText(deviceName(in)));
        return reader.result();
    }

    const auto chunk = std::make_unique<char[]>(kChunkSize);
    QByteArray line;
    qint64 lineNumber = 1;
    bool lfMayFollow = false; // the previous chunk ended with a CR
    for (;;) {
        const qint64 n = in.read(chunk.get(), kChunkSize);
        if (n < 0) {
            reader.fail(ReadResult::ReadFailed, unreadableText(deviceName(in)));
            return reader.result();
        }
        if (n == 0)
            break;
        const char* const data = chunk.get();
        qint64 i = 0;
        if (lfMayFollow && data[0] == '\n')
            i = 1;
        lfMayFollow = false;
        while (i < n) {
            const auto* cr =
                static_cast<const char*>(std::memchr(data + i, '\r', static_cast<size_t>(n - i)));
            const qint64 end = cr ? cr - data : n;
            // Checked before appending, so an endless line never grows past the limit in memory.
            if (line.size() + (end - i) > kMaxLineLength) {
                reader.fail(ReadResult::LineTooLong, QStringLiteral("format error, line ") +
                                                         QString::number(lineNumber) +
                                                         QStringLiteral(" is too long!"));
                return reader.result();
            }
            line.append(data + i, end - i);
            if (!cr)
                break;
            if (!reader.takeLine(line))
                return reader.result();
            line.resize(0);
            ++lineNumber;
            i = end + 1;
            if (i < n) {
                if (data[i] == '\n')
                    ++i;
            } else {
                lfMayFollow = true;
            }
        }
    }
    if (!line.isEmpty() && !reader.takeLine(line))
        return reader.result();
    return reader.finish();
}

ReadResult readCalibrationFile(const QString& path, CalTable& table) {
    QFile in(path);
    if (QFileInfo(path).isDir() || !in.open(QIODevice::ReadOnly)) {
        ReadResult result;
        result.kind = ReadResult::ReadFailed;
        result.message = unreadableText(path);
        return result;
    }
    return readCalibration(in, table);
}

QString confirmText(const CalTable& table, std::int16_t rowCount) {
    return QStringLiteral("the wave range is from ") + QString::number(table.calMin) +
           QStringLiteral(" to ") + QString::number(table.calMax) + QStringLiteral(" total ") +
           QString::number(rowCount) + QStringLiteral(", correct?");
}

QString unreadableText(const QString& path) {
    return QStringLiteral("can't read the file ") + path;
}

} // namespace calibration
