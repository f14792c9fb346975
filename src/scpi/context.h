// SPDX-License-Identifier: MIT
#pragma once
// What a header's handler works with: the instrument, the client's status and settings, the answers of the
// message under way; and what a handler asks of the device.

#include "parser/status.h"
#include "parser/tree.h"
#include "service/instrument.h"
#include "settings/settings.h"

#include <functional>
#include <optional>
#include <vector>

namespace scpiserver {

// What this client sends with later commands. Each client has its own, so that no script changes them
// under another.
struct Settings {
    std::int32_t step = 1;       // WAVelength UP and DOWN
    std::int32_t sweepStart = 0; // nm
    std::int32_t sweepStop = 0;  // nm
    std::int32_t dwell = 1;      // units of 100 ms
    std::int32_t sweepStep = 1;

    // The panel's defaults (the settings model's, and the limits in force for the scan's ends).
    static Settings defaults(const filter::Limits& limits);
};

struct Context {
    service::Instrument& instrument;
    scpi::Status& status;
    Settings& settings;
    QByteArrayList& answers; // of the message under way, joined by ";"
    bool engineering;
    std::function<void(const QString&)> log; // a line for standard error

    void answer(const QByteArray& text) { answers << text; }
    void error(scpi::ErrorCode code, const QString& detail = {}) { status.push({code, detail}); }
    void error(const scpi::Error& error) { status.push(error); }
};

// What a unit asks of the device: requests handed to the instrument one right after the other, so that no
// other client's operation falls between them, and what to make of their outcomes once all have come.
struct Work {
    using Request = std::function<void(service::Instrument&, service::Instrument::Done)>;
    std::vector<Request> requests;
    std::function<void(Context&, const std::vector<service::Outcome>&)> finish;
};

// Runs the call: answers and errors at once, or the work that the device must do first.
std::optional<Work> handle(Context& context, const scpi::Call& call);

// The handlers of each part of the tree.
std::optional<Work> handleCommon(Context& context, const scpi::Call& call);
std::optional<Work> handleFilter(Context& context, const scpi::Call& call);

// The panel's default of a box, from the settings model.
std::int32_t settingDefault(const settings::Key& key);

// Checks the number of parameters; an error when there are too few or too many.
bool arity(Context& context, const scpi::Call& call, int least, int most);

// The header and a parameter as the client wrote them, for an error's detail.
QString written(const scpi::Call& call, int param);

} // namespace scpiserver
