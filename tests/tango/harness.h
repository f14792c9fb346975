// SPDX-License-Identifier: MIT
// What the server's tests run and read: merovask-sim on a pseudo-terminal with its log, merovask-tango on
// loopback without a database, and the attributes' values and change events as text.

#pragma once

#include <tango/tango.h>

#include <QProcess>
#include <QStringList>

#include <memory>
#include <mutex>
#include <vector>

namespace tangotest {

inline constexpr int kWaitMs = 10000;
inline const QString kDevice = QStringLiteral("lab/filter/1");

// merovask-sim as port 1 of the server's folder, and the commands its log shows.
class Sim {
  public:
    Sim(const QString& dir, const QString& log, const QStringList& options = {});
    ~Sim() { stop(); }
    void stop();
    // The commands that reached the device since the last call, without their commas.
    QStringList commands();

    bool ready = false;

  private:
    QProcess process_;
    QString log_;
    std::size_t seen_ = 0;
};

// The server in a program folder of its own (its settings file and com1 there), on a free port.
class Server {
  public:
    ~Server() { stop(); }
    bool start(const QString& program, const QStringList& options);
    void stop();
    std::unique_ptr<Tango::DeviceProxy> proxy() const;

    QList<double> starts; // ms from exec to "Ready to accept request"

  private:
    QProcess process_;
    quint16 port_ = 0;
};

// An attribute's value as text; "invalid" for a value that the device does not know.
QString textOf(Tango::DeviceAttribute& attr);
QString valueOf(Tango::DeviceProxy& proxy, const QString& name);

// Change events as "Name value", in the order they came (on Tango's event thread).
class Events : public Tango::CallBack {
  public:
    void push_event(Tango::EventData* event) override;
    QStringList seen();
    void clear();
    // Whether `wanted` came in this order, other events between them allowed.
    bool cameInOrder(const QStringList& wanted);

  private:
    std::mutex mutex_;
    QStringList seen_;
};

// Change events of some attributes for as long as it lives.
class Subscription : public Events {
  public:
    Subscription(Tango::DeviceProxy& proxy, const std::vector<std::string>& names);
    ~Subscription() override;

  private:
    Tango::DeviceProxy& proxy_;
    std::vector<int> ids_;
};

} // namespace tangotest
