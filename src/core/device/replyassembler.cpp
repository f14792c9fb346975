// SPDX-License-Identifier: MIT
#include "device/replyassembler.h"

namespace devlink {

std::optional<QByteArray> ReplyAssembler::feed(const QByteArray& bytes) {
    for (char c : bytes) {
        if (rxCount < kBufferSize) {
            rxBytes[static_cast<std::size_t>(rxCount)] = static_cast<std::uint8_t>(c);
        }
        // Counting goes on past the buffer; once past it the reply completes at the end of this notification
        // anyway, so the count cannot run away.
        if (rxCount <= kBufferSize) {
            ++rxCount;
        }
    }
    if (rxCount < 2) {
        return std::nullopt;
    }
    if (rxCount <= kBufferSize && rxBytes[static_cast<std::size_t>(rxCount - 1)] != ' ') {
        return std::nullopt;
    }
    const int stored = rxCount < kBufferSize ? rxCount : kBufferSize;
    QByteArray reply(reinterpret_cast<const char*>(rxBytes.data()), stored);
    rxCount = 0;
    return reply;
}

} // namespace devlink
