// SPDX-License-Identifier: MIT
// The simulated device on arbitrary bytes: whatever reaches its line, every terminator gets exactly one
// well-formed reply, the state stays within the filter's limits and nothing grows without bound.

#include "sim/device.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

void checkReply(const QByteArray& reply) {
    check(reply.size() >= 2 && reply.size() <= sim::kMaxReply, "a reply holds 2 to 21 bytes");
    check(reply.endsWith(' '), "a reply ends with a space");
    for (qsizetype i = 0; i + 1 < reply.size(); ++i)
        check(reply[i] > ' ' && reply[i] <= '~',
              "the only space of a reply is its last byte; all else printable");
}

void checkState(const sim::Device& d) {
    check(d.rangeMin() <= d.rangeMax(), "the range is ordered");
    check(d.wavelength() >= d.rangeMin() && d.wavelength() <= d.rangeMax(), "wavelength within the range");
    check(d.scanStart() >= d.rangeMin() && d.scanStart() <= d.rangeMax(), "scan start within the range");
    check(d.scanEnd() >= d.rangeMin() && d.scanEnd() <= d.rangeMax(), "scan end within the range");
    check(d.stayTime() >= 1 && d.stayTime() <= 300, "stay time 1..300");
    check(d.scanSpan() >= 1 && d.scanSpan() <= 30, "span 1..30");
    check(d.channel() >= 1 && d.channel() <= 4, "channel 1..4");
    check(static_cast<int>(d.memory().size()) <= sim::kSlotCount, "memory holds at most its slots");
    for (const auto& [slot, value] : d.memory())
        check(slot >= 0 && slot < sim::kSlotCount, "slots within the memory");
    if (d.selectedSlot())
        check(*d.selectedSlot() >= 0 && *d.selectedSlot() < sim::kSlotCount,
              "selected slot within the memory");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    sim::Device device;
    sim::CommandFramer framer; // a second framer, to watch how much it holds
    while (input.remaining_bytes() > 0) {
        const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(0, 48);
        const std::string chunk = input.ConsumeBytesAsString(length);
        const QByteArrayView bytes(chunk.data(), static_cast<qsizetype>(chunk.size()));

        const auto replies = device.feed(bytes);
        check(static_cast<qsizetype>(replies.size()) == bytes.count(','), "one reply per terminator");
        for (const QByteArray& reply : replies)
            checkReply(reply);
        checkState(device);

        framer.feed(bytes);
        check(framer.pending() <= sim::kMaxCommand, "an unfinished command is held to its limit");
    }
    // A command as sent by a reader of the wire, and the table dump, are always well formed too.
    checkReply(device.answer(QByteArrayView("p")));
    const QByteArray table = device.tableText();
    check(table.count('\n') == static_cast<qsizetype>(device.memory().size()), "one table line per slot");
    return 0;
}
