// SPDX-License-Identifier: MIT
// The reply assembler fed arbitrary bytes in arbitrary notifications, against a model that keeps every
// byte of the reply in progress and applies the completion rule to the whole of it.

#include "device/replyassembler.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

class Model {
  public:
    std::optional<QByteArray> feed(const QByteArray& bytes) {
        pending_ += bytes;
        if (pending_.size() > devlink::ReplyAssembler::kBufferSize) {
            // Overflowed: the first 21 bytes are the reply, the rest of the notification is lost.
            const QByteArray reply = pending_.left(devlink::ReplyAssembler::kBufferSize);
            pending_.clear();
            return reply;
        }
        if (pending_.size() >= 2 && pending_.endsWith(' ')) {
            const QByteArray reply = pending_;
            pending_.clear();
            return reply;
        }
        return std::nullopt;
    }
    qsizetype pending() const { return pending_.size(); }

  private:
    QByteArray pending_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    devlink::ReplyAssembler rx;
    Model model;
    while (input.remaining_bytes() > 0) {
        // Mostly short notifications as a serial line delivers them, now and then a long burst.
        const std::size_t length = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::size_t>(0, 4)
                                                       : input.ConsumeIntegralInRange<std::size_t>(0, 64);
        const std::string chunk = input.ConsumeBytesAsString(length);
        const QByteArray bytes(chunk.data(), static_cast<qsizetype>(chunk.size()));

        const qsizetype before = model.pending();
        const auto reply = rx.feed(bytes);
        const auto expected = model.feed(bytes);
        check(reply == expected, "assembler agrees with the model");
        if (reply) {
            check(reply->size() >= 2 && reply->size() <= devlink::ReplyAssembler::kBufferSize,
                  "a reply holds 2 to 21 bytes");
            const bool overflowed = before + bytes.size() > devlink::ReplyAssembler::kBufferSize;
            check(overflowed ? reply->size() == devlink::ReplyAssembler::kBufferSize : reply->endsWith(' '),
                  "a reply ends with a space unless it overflowed, then it is exactly 21 bytes");
            check(rx.count() == 0, "the count starts again after a reply");
        } else {
            check(rx.count() == model.pending(), "the count is the number of bytes waiting");
            check(rx.count() <= devlink::ReplyAssembler::kBufferSize, "the count never runs past the buffer");
        }
    }
    return 0;
}
