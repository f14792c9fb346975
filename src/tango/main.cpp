// SPDX-License-Identifier: MIT
// merovask-tango: the filter as a Tango Controls device server, class MerovaskFilter. Tango reads the
// command line (instance, -file=, -nodb, -dlist, -ORBendPoint, -v); --help and --version are answered here
// before it sees them.

#include <tango/tango.h>

#include "filterclass.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    R"(Usage: merovask-tango INSTANCE [-file=FILE | -nodb -dlist DEVICE] [-ORBendPoint giop:tcp:HOST:PORT] [-vLEVEL]

Serves the Merovask tunable filter as a Tango Controls device of class MerovaskFilter. The device property
SerialPort names its port: a number as the merovask panel takes it, or a device's path such as
/dev/serial/by-id/...; without it, the port that the panel stores.

With the Tango database (TANGO_HOST), register the instance once:
  tango_admin --add-server merovask-tango/INSTANCE MerovaskFilter lab/filter/1
  tango_admin --add-property lab/filter/1 SerialPort 3
Without a database, -file=FILE names Tango's resource file, which holds the devices and their properties and
keeps the memorized scan values; -nodb -dlist DEVICE keeps nothing. Clients then name the device
tango://HOST:PORT/DEVICE#dbase=no.

  --help     this text
  --version  the version

See merovask-tango(1).
)";

} // namespace

// Tango's class factory, which the server calls once to make its classes.
void Tango::DServer::class_factory() {
    add_class(tangoserver::MerovaskFilterClass::init("MerovaskFilter"));
}

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("merovask-tango %s\n", MEROVASK_VERSION);
            return 0;
        }
    }

    // Qt needs its application for the program's folder and the line's thread; the words are Tango's.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QCoreApplication app(qtArgc, qtArgv);

    Tango::Util* tango = nullptr;
    try {
        tango = Tango::Util::init(argc, argv);
        // Each device orders its calls itself, in its line's queue; see filterdevice.h.
        tango->set_serial_model(Tango::NO_SYNC);
        tango->server_init(false);
        // What Tango's servers say once their devices are up (tests and scripts wait for it).
        std::puts("Ready to accept request");
        std::fflush(stdout);
        tango->server_run();
    } catch (const std::bad_alloc&) {
        std::fputs("merovask-tango: out of memory\n", stderr);
        return 1;
    } catch (const CORBA::Exception& e) {
        Tango::Except::print_exception(e);
        if (tango != nullptr) {
            tango->server_cleanup();
        }
        return 1;
    }
    tango->server_cleanup();
    return 0;
}
