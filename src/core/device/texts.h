// SPDX-License-Identifier: MIT
#pragma once
// Every text that the line and the port list show the operator, for both front ends: the window's boxes and
// reply list, the panel's and merovask-ctl's lines on standard error, and the port list of the port box's
// tooltip and of merovask-ctl ports. Texts that belong to one check (the calibration file's) stay with it.

#include "serial/MSComm.h"
#include "serial/ports.h"

#include <QString>
#include <cstdint>

namespace texts {

// The reply list's status lines after the port button.
QString openSuccessfully();
QString closeSuccessfully();

// The panel's boxes.
QString cantOpenPort(std::int16_t port);
QString pleaseOpenPort();
QString noResponse();

// The end of a calibration upload.
QString uploadNoResponse();
QString uploadDone();

// Why an open failed, as merovask-ctl says it.
QString openFailure(std::int16_t port, platform::OpenTrouble trouble, const QString& device);
// The panel shows nothing for a port it may not open; its standard error gets this line.
QString panelNoPermission(const QString& device, std::int16_t port);
QString notAPortNumber(const QString& text);
QString portWentAway();
QString portWentAwayDuringUpload(std::int16_t port);

// A server's state in a sentence, for its log and its clients.
QString serverReady(std::int16_t port, const QString& device);
QString serverBusy(std::int16_t port);
QString serverRetrying(const QString& why);
QString serverPortGone(std::int16_t port);
QString serverClosed(std::int16_t port);
QString serverNoReply(std::int16_t port);
// An operation that a server refused or could not finish, for its client.
QString serverStopping();
QString noSuchOutput(int output);
QString tableNotInPairs(int numbers);

// The port list: one port a line ("3  FT232R USB UART (ttyUSB0)"), with the way to get the permission for a
// device this user may not open.
QString portList(const QList<platform::PortEntry>& ports);

} // namespace texts
