// SPDX-License-Identifier: MIT
#pragma once
// The sections of the panel's benchmark, run by bench_panel's main; each adds its rows and notes to the
// table (measure.h), or a failure where it cannot measure.

#include <QByteArray>

namespace bench {

// The window (panel_window.cpp): start-up, the calibration upload with the other core idle or loaded, and
// the latency of replies written whole or a byte at a time.
void startUp();
void upload(bool loaded);
void latency(bool bytewise);

// The line (panel_line.cpp): reply floods, the pace of "Setting", the waits and the response time-out, and
// one byte through a bare pseudo-terminal as the floor under them.
void flood(const QByteArray& chunk, long periodUs, bool wireSpeed);
void setting();
void waits();
double bareLineP99();

// Large inputs (panel_inputs.cpp): the number reader, the settings calls, start-up on a settings file of
// noise.
void inputs();

// merovask-ctl (panel_ctl.cpp): its start to the line, its upload, its scan set-up and its exit when the line
// goes.
void tool();

} // namespace bench
