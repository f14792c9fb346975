// SPDX-License-Identifier: MIT
#pragma once
// Every command text that the panel builds, in one place. Senders pass these texts to the console's send
// (which appends the terminator) or terminate them with terminated() and hand them to SendCommand.

#include <QString>
#include <QStringList>
#include <cstdint>

namespace devlink::cmd {

// The line: 9600 baud, no parity, 8 data bits, 1 stop bit.
inline const QString kLineSettings = QStringLiteral("9600,N,8,1");

inline constexpr char kTerminator = ',';
inline constexpr char kReplyEnd = ' ';

// The console word that stands for the three product-date queries.
inline const QString kGetWord = QStringLiteral("get");

QString terminated(const QString& text);

QString wavelength(std::int32_t n);        // C<n>: tune to a wavelength
QString stepUp(std::int32_t n);            // I<n>
QString stepDown(std::int32_t n);          // D<n>
QString scanStart(std::int32_t n);         // L<n>
QString scanEnd(std::int32_t n);           // H<n>
QString stayTime(std::int32_t n);          // T<n>, units of 100 ms
QString scanSpan(std::int32_t n);          // S<n>
QString calibrate();                       // Z
QString channel(int index);                // A..D for outputs 1..4 of the 1x4 switch
QString readSlot(int slot);                // W<slot>: read a calibration-memory slot
QString writeSlot(int slot);               // X<slot>: select a calibration-memory slot
QString slotValue(std::int32_t v);         // Y<v>
QString slotDigits(const QString& digits); // Y<digits> with leading zeros kept (date and time stamps)

// The calibration-memory slots that hold the table's range and the date stamp of its loading.
inline constexpr int kSlotMin = 101;
inline constexpr int kSlotMax = 102;
inline constexpr int kSlotYear = 103;
inline constexpr int kSlotMonthDay = 104;
inline constexpr int kSlotHourMinute = 105;

// The console's help list, in its order: a command word, one blank, a description.
QStringList helpLines();

// The command word of a help or history line: the text before its first blank.
QString commandWord(const QString& line);

// The text without blanks (U+0020 only; tabs and other white space stay) at either end.
QString trimBlanks(const QString& text);

} // namespace devlink::cmd
