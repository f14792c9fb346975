// SPDX-License-Identifier: MIT
#pragma once
// The wall clock for date stamps. (Waits measure elapsed time with a monotonic clock of their own.)

#include <QDateTime>
#include <functional>

namespace platform {
// The current local date and time. Tests set a fixed clock with setNowForTests.
QDateTime Now();
void setNowForTests(std::function<QDateTime()> now);
} // namespace platform
