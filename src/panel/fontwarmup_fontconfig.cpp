// SPDX-License-Identifier: MIT
#include "fontwarmup.h"

#include <fontconfig/fontconfig.h>

#include <clocale>
#include <cstdlib>

FontWarmUp::FontWarmUp() {
    // fontconfig reads the environment while it loads; nothing may change it meanwhile. QApplication's start
    // changes it only where a desktop launched the program with a startup notification (Qt's X11 plugin takes
    // DESKTOP_STARTUP_ID out): then the configuration is read when Qt first needs it, as it always was.
    if (std::getenv("DESKTOP_STARTUP_ID") != nullptr) {
        return;
    }
    // QApplication sets the locale as it starts, while the thread reads numbers from the configuration in the
    // locale's notation: set here first, the same setting then changes nothing under the thread.
    std::setlocale(LC_ALL, "");
    thread_ = std::thread([] { FcInit(); });
}

FontWarmUp::~FontWarmUp() {
    wait();
}

void FontWarmUp::wait() {
    if (thread_.joinable()) {
        thread_.join();
    }
}
