// SPDX-License-Identifier: MIT
// The IEEE 488.2 common commands and the SYSTem subsystem: answered from the client's status, except
// *TST?, which asks the device for its version.

#include "context.h"
#include "parser/values.h"
#include "texts.h"

#include <cmath>

namespace scpiserver {

namespace {

using scpi::Command;
using scpi::ErrorCode;

constexpr double kMaxRegister = 255;

// *ESE and *SRE: 0 to 255; anything else is refused and the register keeps its value.
void setRegister(Context& context, const scpi::Call& call, std::uint8_t& reg, std::uint8_t keep) {
    if (!arity(context, call, 1, 1)) {
        return;
    }
    const auto value = scpi::numeric(call.unit.params[0], scpi::Quantity::Count, {0, kMaxRegister, 0});
    if (const auto* fault = std::get_if<scpi::Error>(&value)) {
        context.error(*fault);
        return;
    }
    const double n = std::nearbyint(std::get<double>(value));
    if (n < 0 || n > kMaxRegister) {
        context.error(ErrorCode::OutOfRange, written(call, 0));
        return;
    }
    reg = static_cast<std::uint8_t>(n) & keep;
}

Work selfTest() {
    return {{[](service::Instrument& i, service::Instrument::Done done) {
                i.sendRaw(QStringLiteral("v"), done);
            }},
            [](Context& context, const std::vector<service::Outcome>& outcomes) {
                const bool passed = outcomes[0].ok() && !outcomes[0].replies.isEmpty();
                if (!passed) {
                    context.error(ErrorCode::SelfTestFailed,
                                  outcomes[0].text.isEmpty() ? texts::noVersion() : outcomes[0].text);
                }
                context.answer(passed ? "0" : "1");
            }};
}

} // namespace

std::optional<Work> handleCommon(Context& context, const scpi::Call& call) {
    const bool query = call.unit.query;
    if (!arity(context, call, 0,
               !query && (call.command == Command::EventEnable || call.command == Command::ServiceEnable)
                   ? 1
                   : 0)) {
        return std::nullopt;
    }
    scpi::Status& status = context.status;
    switch (call.command) {
    case Command::Identify:
        context.answer((texts::manufacturer() + QLatin1Char(',') + texts::model() + QStringLiteral(",0,") +
                        QStringLiteral(MEROVASK_VERSION))
                           .toLatin1());
        break;
    case Command::Reset:
        context.settings = Settings::defaults(context.instrument.limits());
        break;
    case Command::ClearStatus:
        status.clear();
        break;
    case Command::EventEnable:
        if (query) {
            context.answer(scpi::number(status.eventEnable));
        } else {
            setRegister(context, call, status.eventEnable, 0xFF);
        }
        break;
    case Command::EventStatus:
        context.answer(scpi::number(status.takeEvents()));
        break;
    case Command::Complete:
        // Every earlier unit of this client has ended when this one runs.
        if (query) {
            context.answer("1");
        } else {
            status.operationComplete();
        }
        break;
    case Command::ServiceEnable:
        if (query) {
            context.answer(scpi::number(status.serviceEnable));
        } else {
            setRegister(context, call, status.serviceEnable,
                        static_cast<std::uint8_t>(~scpi::Status::MasterSummary));
        }
        break;
    case Command::StatusByte:
        context.answer(scpi::number(status.statusByte()));
        break;
    case Command::SelfTest:
        return selfTest();
    case Command::Wait:
        break;
    case Command::ErrorNext:
        context.answer(scpi::errorResponse(status.next()));
        break;
    case Command::ErrorCount:
        context.answer(scpi::number(static_cast<double>(status.count())));
        break;
    case Command::Version:
        context.answer("1999.0");
        break;
    default:
        break;
    }
    return std::nullopt;
}

} // namespace scpiserver
