// SPDX-License-Identifier: MIT
#pragma once
// The system's font configuration read in a thread of its own while QApplication connects to the display.
//
// The first control that shows text makes Qt read the font configuration (fontconfig parses some fifty XML
// files: a third of the instructions the window's start costs) before the window can be shown. Begun before
// QApplication, that work runs beside QApplication's own start on another core; the window is built once it
// is done, so Qt finds the configuration loaded and reads nothing twice.

#include <thread>

class FontWarmUp {
  public:
    // Before QApplication.
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;

    // Before the first control that needs a font.
    void wait();

  private:
    std::thread thread_;
};
