// SPDX-License-Identifier: MIT
#pragma once
// Every text of merovask-scpi that a client or the log shows, besides the standard error texts
// (parser/errors) and the core's texts of the line and the port (device/texts): what goes after ";" in an
// error, the log's lines, the identification.

#include <QHostAddress>
#include <QString>

namespace scpiserver::texts {

// *IDN?'s manufacturer and model.
QString manufacturer();
QString model();

// Details of -222: a value that went out, or is kept for later commands, other than the client wrote it
// (`what`: the header and the parameter as written).
QString sentAs(const QString& what, const QString& value);
QString keptAs(const QString& what, const QString& value);
QString noSuchOutput(const QString& what);
// A scan whose start, stop or dwell went out other than they were kept (the limits changed since).
QString sweepSentAs(const QString& header, std::int32_t start, std::int32_t stop, const QString& dwell);
// A reply of the calibration's date stamp that is no number.
QString notADate(const QString& reply);
// *TST? without an answer to the version query.
QString noVersion();

// The log's lines (standard error, the journal under systemd).
QString listening(const QHostAddress& address, quint16 port);
QString cannotListen(const QHostAddress& address, quint16 port, const QString& why);
QString refused(const QHostAddress& peer);
QString tooMany(const QHostAddress& peer, int most);
QString stopping();
QString uploaded(int rows, std::int32_t min, std::int32_t max, const QString& panelText);

} // namespace scpiserver::texts
