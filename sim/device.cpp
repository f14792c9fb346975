// SPDX-License-Identifier: MIT
#include "sim/device.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

QByteArray reply(const QByteArray& body) {
    // Bodies are built from letters and numbers, but the wire limit is kept here whatever a body holds.
    QByteArray r = body.left(kMaxReply - 1);
    for (char& c : r)
        if (c <= ' ' || c > '~')
            c = '?';
    return r + ' ';
}

QByteArray reply(const char* prefix, std::int64_t value) {
    return reply(prefix + QByteArray::number(value));
}

std::int64_t clamp64(std::int64_t v, std::int64_t lo, std::int64_t hi) {
    return std::min(std::max(v, lo), hi);
}

} // namespace

std::vector<CommandFramer::Frame> CommandFramer::feed(QByteArrayView bytes) {
    std::vector<Frame> frames;
    qsizetype from = 0;
    while (from < bytes.size()) {
        const qsizetype comma = bytes.indexOf(',', from);
        const qsizetype end = comma < 0 ? bytes.size() : comma;
        const QByteArrayView piece = bytes.sliced(from, end - from);
        if (!overflow_) {
            if (buffer_.size() + piece.size() > kMaxCommand) {
                overflow_ = true;
                buffer_.clear();
                buffer_.squeeze();
            } else {
                buffer_.append(piece);
            }
        }
        if (comma < 0)
            break;
        frames.push_back(Frame{overflow_ ? QByteArray() : buffer_, overflow_});
        buffer_.clear();
        overflow_ = false;
        from = comma + 1;
    }
    return frames;
}

void CommandFramer::reset() {
    buffer_.clear();
    overflow_ = false;
}

std::optional<ParsedCommand> parseCommand(QByteArrayView text) {
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    qsizetype i = b;
    while (i < e && isLetter(text[i]))
        ++i;
    if (i == b)
        return std::nullopt;
    ParsedCommand c{text.sliced(b, i - b).toByteArray(), std::nullopt};
    if (i == e)
        return c;
    const bool negative = text[i] == '-';
    if (negative)
        ++i;
    if (i == e)
        return std::nullopt;
    std::int64_t v = 0;
    for (; i < e; ++i) {
        if (!isDigit(text[i]))
            return std::nullopt;
        v = v * 10 + (text[i] - '0');
        if (v > std::int64_t{INT32_MAX} + 1)
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    c.arg = static_cast<std::int32_t>(v);
    return c;
}

QByteArray slotText(int slot, std::int32_t value) {
    if (slot >= kSlotYear && slot <= kSlotHourMinute) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d", static_cast<int>(value));
        return QByteArray(buf);
    }
    return QByteArray::number(value);
}

Device::Device() {
    memory_[kSlotMin] = kDefaultMin;
    memory_[kSlotMax] = kDefaultMax;
    // The date stamp of the factory calibration: 2024-03-05 09:07.
    memory_[kSlotYear] = 2024;
    memory_[kSlotMonthDay] = 305;
    memory_[kSlotHourMinute] = 907;
}

QByteArray Device::answer(QByteArrayView command) {
    const auto parsed = parseCommand(command);
    return parsed ? run(*parsed) : kError;
}

QByteArray Device::answer(const CommandFramer::Frame& frame) {
    return frame.overflow ? kError : answer(QByteArrayView(frame.text));
}

std::vector<QByteArray> Device::feed(QByteArrayView bytes) {
    std::vector<QByteArray> replies;
    for (const auto& frame : framer_.feed(bytes))
        replies.push_back(answer(frame));
    return replies;
}

std::int32_t Device::limitWavelength(std::int64_t v) const {
    return static_cast<std::int32_t>(clamp64(v, min_, max_));
}

void Device::store(int slot, std::int32_t value) {
    memory_[slot] = value;
    if (slot != kSlotMin && slot != kSlotMax)
        return;
    // The range follows the stored table limits once they form one; an upload writes the minimum first,
    // so an unordered pair in between keeps the old range.
    const std::int32_t lo = memory_[kSlotMin];
    const std::int32_t hi = memory_[kSlotMax];
    if (lo > hi)
        return;
    min_ = lo;
    max_ = hi;
    wavelength_ = limitWavelength(wavelength_);
    scanStart_ = limitWavelength(scanStart_);
    scanEnd_ = limitWavelength(scanEnd_);
}

QByteArray Device::run(const ParsedCommand& c) {
    const QByteArray& n = c.name;
    if (!c.arg) {
        if (n.size() == 1 && n[0] >= 'A' && n[0] <= 'D') {
            channel_ = n[0] - 'A' + 1;
            return reply("T", channel_);
        }
        if (n == "z") {
            wavelength_ = min_;
            return reply("P", position());
        }
        if (n == "Z") {
            ++calibrations_;
            return reply("ZOK");
        }
        if (n == "v")
            return kVersion;
        if (n == "p")
            return reply("Q", wavelength_);
        return kError;
    }
    const std::int64_t a = *c.arg;
    if (n == "C" || n == "c") {
        wavelength_ = limitWavelength(a);
        return reply("WL", wavelength_);
    }
    if (n == "I" || n == "D") {
        wavelength_ = limitWavelength(wavelength_ + (n == "I" ? a : -a));
        return reply("WL", wavelength_);
    }
    if (n == "g" || n == "G" || n == "r") {
        // One motor step moves the filter by 1 nm; the motor stops at the ends of the range.
        wavelength_ = limitWavelength(wavelength_ + (n == "r" ? -a : a));
        return reply("P", position());
    }
    if (n == "L") {
        scanStart_ = limitWavelength(a);
        return reply("L", scanStart_);
    }
    if (n == "H") {
        scanEnd_ = limitWavelength(a);
        return reply("H", scanEnd_);
    }
    if (n == "T") {
        stay_ = static_cast<std::int32_t>(clamp64(a, 1, 300));
        return reply("ST", stay_);
    }
    if (n == "S" || n == "s") {
        span_ = static_cast<std::int32_t>(clamp64(a, 1, 30));
        ++scans_;
        return reply("SP", span_);
    }
    if (n == "X") {
        if (a < 0 || a >= kSlotCount) {
            // A following Y must not land in the slot chosen before.
            selected_.reset();
            return kError;
        }
        selected_ = static_cast<int>(a);
        return reply("X", a);
    }
    if (n == "Y") {
        if (!selected_)
            return kError;
        store(*selected_, *c.arg);
        return reply("Y" + slotText(*selected_, *c.arg));
    }
    if (n == "W") {
        if (a < 0 || a >= kSlotCount)
            return kError;
        const auto it = memory_.find(static_cast<int>(a));
        return reply(slotText(static_cast<int>(a), it == memory_.end() ? 0 : it->second));
    }
    return kError;
}

QByteArray Device::tableText() const {
    QByteArray out;
    for (const auto& [slot, value] : memory_)
        out += QByteArray::number(slot) + ' ' + slotText(slot, value) + '\n';
    return out;
}

} // namespace sim
