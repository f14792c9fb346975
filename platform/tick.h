#pragma once
// Time as the program sees it: a millisecond tick count for waits, and the wall clock for date stamps.

#include <QDateTime>
#include <cstdint>
#include <functional>

// Milliseconds from a monotonic clock, as an unsigned 32-bit number that wraps after about 49.7 days.
// Elapsed times are always computed as (now - start) in unsigned 32-bit, which stays right across the wrap.
std::uint32_t GetTickCount();

namespace platform {
// The current local date and time. Tests set a fixed clock with setNowForTests.
QDateTime Now();
void setNowForTests(std::function<QDateTime()> now);
} // namespace platform
