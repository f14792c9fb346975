// SPDX-License-Identifier: MIT
#pragma once
// The auto mode: three commands sent in turn without the operator, each followed by a wait of whole ticks
// (seconds), until it is switched off. The front end's one-second timer drives it; each tick reads the
// command and wait boxes anew.

#include "line/line.h"
#include "operations/operations.h"

#include <array>
#include <cstdint>

namespace filter {

class AutoCycle {
  public:
    // The three command boxes and the wait box after each.
    struct Boxes {
        std::array<const Field*, 3> commands;
        std::array<const Field*, 3> waits;
    };

    // Switching on or off: either way the cycle starts over with its first command.
    void restart() { autoPhase = 1; }

    // One tick: sends the command whose turn it is (at most one) through the line directly, as the last
    // command, then counts the tick against the wait in force. A wait of N (read as a number, neither
    // rounded nor limited) sends the next command N + 1 ticks after the previous one.
    void tick(devlink::Line& line, const Boxes& boxes);

    // 0 before the first start; then 1 to 6: odd phases send command (phase + 1) / 2, even ones wait.
    std::int32_t phase() const { return autoPhase; }
    // Ticks since the last command was sent.
    std::int32_t count() const { return autoCount; }

  private:
    std::int32_t autoPhase = 0;
    std::int32_t autoCount = 0;
};

} // namespace filter
