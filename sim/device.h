// SPDX-License-Identifier: MIT
#pragma once
// The model of the filter device that merovask-sim runs: the state a filter keeps and the reply it gives to
// each command. No I/O here, so tests drive it directly.
//
// Wire form: a command is the bytes before a ","; it is answered with one reply of printable ASCII, at most
// 21 bytes, whose only space is its last byte (so a reader that ends a reply at a trailing space never cuts
// one in two). Every terminator gets exactly one reply; anything the model does not understand gets
// kError. Blanks, tabs, CR and LF around a command are ignored, so a person typing into a terminal
// program with line endings is understood; blanks inside a command make it malformed.

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace sim {

inline constexpr qsizetype kMaxReply = 21;
// A command longer than this is discarded as it arrives and answered with kError at its terminator.
inline constexpr qsizetype kMaxCommand = 1000;
inline constexpr int kSlotCount = 300; // calibration memory slots 0 .. kSlotCount - 1
inline constexpr int kSlotMin = 101;
inline constexpr int kSlotMax = 102;
inline constexpr int kSlotYear = 103;
inline constexpr int kSlotMonthDay = 104;
inline constexpr int kSlotHourMinute = 105;
inline constexpr std::int32_t kDefaultMin = 1510;
inline constexpr std::int32_t kDefaultMax = 1589;
inline constexpr std::int32_t kDefaultWavelength = 1550;
inline const QByteArray kError = QByteArrayLiteral("ER? ");
inline const QByteArray kVersion = QByteArrayLiteral("V1.00 ");

// Splits a byte stream into commands at ",", holding at most kMaxCommand bytes of an unfinished one.
class CommandFramer {
  public:
    struct Frame {
        QByteArray text;       // without the terminator
        bool overflow = false; // longer than kMaxCommand: text is empty
    };
    std::vector<Frame> feed(QByteArrayView bytes);
    qsizetype pending() const { return buffer_.size(); }
    void reset();

  private:
    QByteArray buffer_;
    bool overflow_ = false;
};

// A command split into its letters and its optional decimal argument.
struct ParsedCommand {
    QByteArray name;
    std::optional<std::int32_t> arg;
};
// Blanks, tabs, CR and LF removed from both ends; empty text, bytes other than letters followed by an
// optional "-" and digits, or an argument outside 32 bits give nothing.
std::optional<ParsedCommand> parseCommand(QByteArrayView text);

// The reply text for a value of a calibration slot: the date and time slots keep four digits.
QByteArray slotText(int slot, std::int32_t value);

class Device {
  public:
    Device();

    // The reply to one command (the bytes before its terminator).
    QByteArray answer(QByteArrayView command);
    QByteArray answer(const CommandFramer::Frame& frame);
    // Frames the bytes and answers every command they complete, in order.
    std::vector<QByteArray> feed(QByteArrayView bytes);

    std::int32_t wavelength() const { return wavelength_; }
    std::int32_t rangeMin() const { return min_; }
    std::int32_t rangeMax() const { return max_; }
    std::int64_t position() const { return std::int64_t{wavelength_} - min_; } // motor steps from home
    int channel() const { return channel_; }                                   // 1 .. 4
    std::int32_t scanStart() const { return scanStart_; }
    std::int32_t scanEnd() const { return scanEnd_; }
    std::int32_t stayTime() const { return stay_; }
    std::int32_t scanSpan() const { return span_; }
    int scans() const { return scans_; }
    int calibrations() const { return calibrations_; }
    std::optional<int> selectedSlot() const { return selected_; }
    const std::map<int, std::int32_t>& memory() const { return memory_; }
    // One line "slot value" per slot that holds a value, in slot order, values as W answers them.
    QByteArray tableText() const;

  private:
    QByteArray run(const ParsedCommand& c);
    std::int32_t limitWavelength(std::int64_t v) const;
    void store(int slot, std::int32_t value);

    std::int32_t min_ = kDefaultMin;
    std::int32_t max_ = kDefaultMax;
    std::int32_t wavelength_ = kDefaultWavelength;
    int channel_ = 1;
    std::int32_t scanStart_ = kDefaultMin;
    std::int32_t scanEnd_ = kDefaultMax;
    std::int32_t stay_ = 10;
    std::int32_t span_ = 1;
    int scans_ = 0;
    int calibrations_ = 0;
    std::optional<int> selected_;
    std::map<int, std::int32_t> memory_;
    CommandFramer framer_;
};

} // namespace sim
