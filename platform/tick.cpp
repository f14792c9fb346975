#include "platform/tick.h"

#include <chrono>

std::uint32_t GetTickCount() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

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
