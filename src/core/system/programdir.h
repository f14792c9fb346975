// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace platform {
// The folder that holds the program file (without a trailing separator, except for a root folder).
QString programDir();
// Tests run the window in a folder of their own.
void setProgramDirForTests(const QString& dir);
} // namespace platform
