// SPDX-License-Identifier: MIT
#pragma once
// Assembles the device's replies from the bytes of successive receive notifications. A reply is complete when
// the last byte of a notification is a space (and at least two bytes were received), or as soon as a
// notification has brought the count past the 21-byte buffer.

#include <QByteArray>
#include <array>
#include <cstdint>
#include <optional>

namespace devlink {

class ReplyAssembler {
  public:
    static constexpr int kBufferSize = 21;

    // Appends the bytes of one notification; returns the reply text (at most 21 bytes, terminating space
    // included) when the reply is complete, after which the count starts again from 0.
    std::optional<QByteArray> feed(const QByteArray& bytes);

    std::int32_t count() const { return rxCount; }

  private:
    std::array<std::uint8_t, kBufferSize> rxBytes{};
    std::int32_t rxCount = 0;
};

} // namespace devlink
