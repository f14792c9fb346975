// SPDX-License-Identifier: MIT
#include "system/clock.h"

namespace platform {

namespace {
std::function<QDateTime()>& nowSource() {
    static std::function<QDateTime()> source;
    return source;
}
} // namespace

QDateTime Now() {
    return nowSource() ? nowSource()() : QDateTime::currentDateTime();
}

void setNowForTests(std::function<QDateTime()> now) {
    nowSource() = std::move(now);
}

} // namespace platform
