// SPDX-License-Identifier: MIT
#include "device/commands.h"

namespace devlink::cmd {

namespace {
QString letterAndNumber(char letter, std::int32_t n) {
    return QChar(letter) + QString::number(n);
}
} // namespace

QString terminated(const QString& text) {
    return text + QChar(kTerminator);
}

QString wavelength(std::int32_t n) {
    return letterAndNumber('C', n);
}
QString stepUp(std::int32_t n) {
    return letterAndNumber('I', n);
}
QString stepDown(std::int32_t n) {
    return letterAndNumber('D', n);
}
QString scanStart(std::int32_t n) {
    return letterAndNumber('L', n);
}
QString scanEnd(std::int32_t n) {
    return letterAndNumber('H', n);
}
QString stayTime(std::int32_t n) {
    return letterAndNumber('T', n);
}
QString scanSpan(std::int32_t n) {
    return letterAndNumber('S', n);
}
QString calibrate() {
    return QStringLiteral("Z");
}
QString channel(int index) {
    return QString(QChar(static_cast<char16_t>(u'A' + index)));
}
QString readSlot(int slot) {
    return letterAndNumber('W', slot);
}
QString writeSlot(int slot) {
    return letterAndNumber('X', slot);
}
QString slotValue(std::int32_t v) {
    return letterAndNumber('Y', v);
}
QString slotDigits(const QString& digits) {
    return QStringLiteral("Y") + digits;
}

QStringList helpLines() {
    return {
        QStringLiteral("g1 go 1 step"),     QStringLiteral("r1 reverse 1"),
        QStringLiteral("z home"),           QStringLiteral("v version"),
        QStringLiteral("p quick"),          QStringLiteral("g0 count"),
        QStringLiteral("s3 scan span=3"),   QStringLiteral("c1550 wavelength1550"),
        QStringLiteral("I5 increase wave"), QStringLiteral("G17573 go one circle"),
        QStringLiteral("get product date"),
    };
}

QString commandWord(const QString& line) {
    const qsizetype blank = line.indexOf(QChar(u' '));
    return blank < 0 ? line : line.left(blank);
}

QString trimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ') {
        ++begin;
    }
    while (end > begin && text[end - 1] == u' ') {
        --end;
    }
    return text.mid(begin, end - begin);
}

} // namespace devlink::cmd
