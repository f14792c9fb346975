// SPDX-License-Identifier: MIT
#include "parser/status.h"

namespace scpi {

namespace {
// The event bit of an error's class, by its number (IEEE 488.2 and SCPI: -1xx command, -2xx execution, -3xx
// and positive device-specific, -4xx query).
std::uint8_t eventOf(ErrorCode code) {
    const int n = static_cast<int>(code);
    if (n <= -100 && n > -200) {
        return Status::CommandError;
    }
    if (n <= -200 && n > -300) {
        return Status::ExecutionError;
    }
    if (n <= -400 && n > -500) {
        return Status::QueryError;
    }
    return n == 0 ? 0 : Status::DeviceError;
}
} // namespace

void Status::push(const Error& error) {
    if (error.code == ErrorCode::NoError) {
        return;
    }
    events_ |= eventOf(error.code);
    if (queue_.size() < kQueueSize) {
        queue_.push_back(error);
    } else if (queue_.back().code != ErrorCode::QueueOverflow) {
        queue_.back() = Error{ErrorCode::QueueOverflow, {}};
        events_ |= eventOf(ErrorCode::QueueOverflow);
    }
}

Error Status::next() {
    if (queue_.empty()) {
        return {};
    }
    Error oldest = queue_.front();
    queue_.pop_front();
    return oldest;
}

void Status::clear() {
    queue_.clear();
    events_ = 0;
}

std::uint8_t Status::takeEvents() {
    const std::uint8_t read = events_;
    events_ = 0;
    return read;
}

std::uint8_t Status::statusByte() const {
    std::uint8_t byte = 0;
    if (!queue_.empty()) {
        byte |= ErrorAvailable;
    }
    if ((events_ & eventEnable) != 0) {
        byte |= EventSummary;
    }
    if ((byte & serviceEnable & ~MasterSummary) != 0) {
        byte |= MasterSummary;
    }
    return byte;
}

} // namespace scpi
