#pragma once
// Port numbers: which device the panel opens for port N, and the numbers that USB serial adapters keep.
//
// On Windows port N is COMN. Elsewhere port N is, first match wins: the link com<N> in the program folder,
// the link com<N> in the per-user folder, the USB or ACM adapter that holds N in the per-user port table,
// /dev/ttyS<N-1>. Like Windows' COM port database, an adapter seen for the first time gets the lowest number
// from 3 up that no other adapter, link or serial port with a UART holds, and keeps it for good.

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

namespace platform {

// A USB or ACM serial adapter that is plugged in.
struct Adapter {
    QString identity;    // the same wherever it is plugged in: vendor:product:serial, e.g. 0403:6001:A50285BI
    QString device;      // the node to open, e.g. /dev/ttyUSB0
    QString description; // e.g. "FT232R USB UART"
    QString location;    // the socket it is plugged into (its USB path, e.g. 1-2.3:1.0)
};

// What the system has to offer at one moment.
struct SerialHardware {
    QList<Adapter> adapters;
    QList<int> uartPorts; // the numbers of /dev/ttyS nodes with a UART behind them (ttyS0 is 1)
};

struct PortEntry {
    enum class Kind { ProgramLink, UserLink, Adapter, SerialPort, Bridge };
    int number = 0;
    Kind kind = Kind::SerialPort;
    QString device;          // what opening the number opens; empty for an adapter or bridge not there
    QString description;     // for the operator
    bool present = false;    // the device is there now
    bool accessible = false; // this user may open it for reading and writing
};

// Where port N lives; empty for a number below 1. Numbers adapters seen for the first time.
QString portPath(std::int16_t port, const QString& programFolder);

// Every port number with its device, in ascending order. Numbers adapters seen for the first time.
QList<PortEntry> listPorts(const QString& programFolder);

// The list for the operator, one port a line ("3  FT232R USB UART (ttyUSB0)"), with how to get the
// permission for a device this user may not open.
QString portListText(const QList<PortEntry>& ports);

// Whether this user may open the device for reading and writing.
bool mayOpen(const QString& device);

// The per-user port table.
QString portTablePath();

// Tests supply the adapters and UARTs instead of the system (an empty function restores the system's).
void setHardwareSourceForTests(std::function<SerialHardware()> source);

} // namespace platform
