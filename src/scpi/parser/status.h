// SPDX-License-Identifier: MIT
#pragma once
// One client's IEEE 488.2 status: the error queue, the standard event status register with its enable
// register, and the service request enable register; the status byte is made from them when it is read.

#include "parser/errors.h"

#include <cstdint>
#include <deque>

namespace scpi {

class Status {
  public:
    // SCPI asks for at least two entries; a script that never reads its errors keeps the first ones.
    static constexpr std::size_t kQueueSize = 20;

    // The standard event status register's bits.
    enum Event : std::uint8_t {
        OperationComplete = 0x01,
        QueryError = 0x04,
        DeviceError = 0x08,
        ExecutionError = 0x10,
        CommandError = 0x20,
    };
    // The status byte's bits.
    enum Summary : std::uint8_t {
        ErrorAvailable = 0x04,
        EventSummary = 0x20,
        MasterSummary = 0x40,
    };

    // Queues the error and sets its class's event bit. A full queue keeps its entries and the newest becomes
    // -350 "Queue overflow", as SCPI says.
    void push(const Error& error);
    // The oldest entry, taken off the queue; 0,"No error" when it is empty.
    Error next();
    std::size_t count() const { return queue_.size(); }

    // *CLS: the queue and the event register cleared; the enable registers stay.
    void clear();
    // *ESR?: read and cleared.
    std::uint8_t takeEvents();
    // *OPC: the operation complete bit.
    void operationComplete() { events_ |= OperationComplete; }

    std::uint8_t eventEnable = 0;   // *ESE
    std::uint8_t serviceEnable = 0; // *SRE; bit 6 is never enabled
    // *STB?
    std::uint8_t statusByte() const;

  private:
    std::deque<Error> queue_;
    std::uint8_t events_ = 0;
};

} // namespace scpi
