// SPDX-License-Identifier: MIT
#pragma once
// The wait between the commands of a sequence, for every front end: events (replies, timers, clicks) are
// handled while it lasts, and it never busy-waits.

#include <cstdint>
#include <functional>

// Processes all pending events and returns; any handler may run to its end inside.
void DoEvents();

namespace platform {

// Processes pending events at least once, then sleeps in the event loop, and returns at the first check at
// which more than HowLong ms have passed (a monotonic clock in nanoseconds: no whole-tick rounding, no wrap),
// or at once when stopped() is true after events were processed.
void waitMs(std::int32_t HowLong, const std::function<bool()>& stopped);

// Wakes every wait under way on this thread (nested ones included) so that each checks stopped() at once.
void interruptWaits();

} // namespace platform
