// SPDX-License-Identifier: MIT
#pragma once
// The window's controls and state, for tests: ui(w).TxtCom, serialLine(w).replyText(), ... where w is a
// frmMotor* or a std::unique_ptr<frmMotor>.

#include "frmMotor.h"

namespace testsupport {

struct FormAccess {
    static Ui::frmMotor& ui(frmMotor& w) { return w.ui; }
    static const Ui::frmMotor& ui(const frmMotor& w) { return w.ui; }
    static devlink::SerialLine& line(frmMotor& w) { return w.line; }
    static devlink::Gate& gate(frmMotor& w) { return w.gate; }
    static const settings::SettingsFile& settingsFile(frmMotor& w) { return w.settingsFile; }
    static filter::AutoCycle& autoCycle(frmMotor& w) { return w.autoCycle; }
    static QTimer* timer2(frmMotor& w) { return w.Timer2; }
    static std::array<QPushButton*, 4>& cmdPort(frmMotor& w) { return w.CmdPort; }
    static std::array<PictureBox*, 4>& picBack(frmMotor& w) { return w.PicBack; }
    static bool& debugMode(frmMotor& w) { return w.debugMode; }
    static std::int32_t& listLines(frmMotor& w) { return w.listLines; }
    static bool unloaded(const frmMotor& w) { return w.unloaded; }
};

template <class W> decltype(auto) ui(W&& w) {
    return FormAccess::ui(*w);
}
template <class W> devlink::SerialLine& serialLine(W&& w) {
    return FormAccess::line(*w);
}
template <class W> devlink::Gate& gate(W&& w) {
    return FormAccess::gate(*w);
}
template <class W> const settings::SettingsFile& settingsFile(W&& w) {
    return FormAccess::settingsFile(*w);
}
template <class W> filter::AutoCycle& cycle(W&& w) {
    return FormAccess::autoCycle(*w);
}
template <class W> QTimer* timer2(W&& w) {
    return FormAccess::timer2(*w);
}
template <class W> std::array<QPushButton*, 4>& cmdPort(W&& w) {
    return FormAccess::cmdPort(*w);
}
template <class W> std::array<PictureBox*, 4>& picBack(W&& w) {
    return FormAccess::picBack(*w);
}
template <class W> bool& debugMode(W&& w) {
    return FormAccess::debugMode(*w);
}
template <class W> std::int32_t& listLines(W&& w) {
    return FormAccess::listLines(*w);
}
template <class W> bool unloaded(W&& w) {
    return FormAccess::unloaded(*w);
}

} // namespace testsupport

// Tests name them without the namespace.
using testsupport::cmdPort;
using testsupport::cycle;
using testsupport::debugMode;
using testsupport::gate;
using testsupport::listLines;
using testsupport::picBack;
using testsupport::serialLine;
using testsupport::settingsFile;
using testsupport::timer2;
using testsupport::ui;
using testsupport::unloaded;
