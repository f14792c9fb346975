// SPDX-License-Identifier: MIT
#pragma once
// MerovaskFilter, the filter as a Tango device: its attributes and commands, each the core's own operation
// through the instrument on the line's thread, and the change events it pushes itself.
//
// The server runs with Tango's serialisation model NO_SYNC (main.cpp): Tango takes no lock of the device
// around reads and commands, so that a client reading an attribute never waits behind another client's scan
// set-up or calibration upload. The order on the line is the instrument's queue; what a read sees is the line
// thread's snapshot, taken whole under its lock. Tango still guards each attribute's value with the
// attribute's own mutex from the read method until the value is in the reply, and takes the device's monitor
// around writes: the value buffers below are each touched only under their attribute's mutex, and the pushes
// take that mutex too.

#include <tango/tango.h>

#include "linethread.h"

#include <array>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace tangoserver {

// The names that clients and the pushes use.
namespace attr {
inline constexpr char kState[] = "State";
inline constexpr char kWavelength[] = "Wavelength";
inline constexpr char kChannel[] = "Channel";
inline constexpr char kLastReply[] = "LastReply";
} // namespace attr

// The four boxes of the panel's scan group, in the device's units.
enum ScanBox { kScanStart, kScanEnd, kScanStayTime, kScanSpan, kScanBoxes };

class MerovaskFilter : public TANGO_BASE_CLASS {
  public:
    MerovaskFilter(Tango::DeviceClass* deviceClass, const char* name);
    ~MerovaskFilter() override;

    void init_device() override;
    void delete_device() override;
    Tango::DevState dev_state() override;
    Tango::ConstDevString dev_status() override;

    void readWavelength(Tango::Attribute& attr);
    void writeWavelength(Tango::WAttribute& attr);
    void readLimit(Tango::Attribute& attr, bool max);
    void readFrequency(Tango::Attribute& attr);
    void readChannel(Tango::Attribute& attr);
    void writeChannel(Tango::WAttribute& attr);
    void readScan(Tango::Attribute& attr, ScanBox box);
    void writeScan(Tango::WAttribute& attr, ScanBox box);
    void readCalibrationDate(Tango::Attribute& attr);
    void readLastReply(Tango::Attribute& attr);

    void step(bool up, Tango::DevShort steps);
    void applyScanSettings();
    void startScan();
    void open();
    void close();
    std::string sendRaw(const char* command);
    void uploadCalibration(const Tango::DevVarDoubleArray& pairs);

  private:
    // Hands the request to the line and waits for it; a refused or failed operation leaves as a Tango
    // exception with the panel's text.
    service::Outcome call(const LineThread::Request& request, const char* origin);
    // The same for an operation whose outcome is looked at before it is checked.
    service::Outcome tryCall(const LineThread::Request& request, const char* origin);
    Snapshot snapshot();
    // On the line's thread.
    void pushChanges(const Snapshot& now, unsigned changes);
    static double written(Tango::WAttribute& attr);

    // Replaced by Init while other clients' calls may run: they hold it shared.
    std::shared_mutex lineMutex_;
    std::unique_ptr<LineThread> line_;
    // Why there is no line (a SerialPort that names no port); empty when there is one.
    QString noLine_;

    std::mutex boxesMutex_;
    std::array<double, kScanBoxes> boxes_{};
    // The calibration's date stamp as last read; empty when it must be read again.
    std::mutex dateMutex_;
    std::string date_;

    // Value buffers handed to Tango by reads and pushes alike, each under its attribute's mutex (see above).
    Tango::DevDouble wavelength_ = 0, limit_[2] = {0, 0}, frequency_ = 0, scan_[kScanBoxes] = {0, 0, 0, 0};
    Tango::DevShort channel_ = 0;
    std::string lastReply_, dateRead_;
    Tango::DevString lastReplyText_ = nullptr, dateText_ = nullptr;
};

} // namespace tangoserver
