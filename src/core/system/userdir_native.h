#pragma once
// SPDX-License-Identifier: MIT
// What the choice of the settings file asks of the platform (userdir_posix.cpp, userdir_win.cpp).

#include <QString>

namespace platform::native {
// Whether `canonical` is where a package installs the program: its user keeps the plain merovask.ini.
bool isInstallFolder(const QString& canonical);
// Whether this user's profile calls can store `file` (which may not exist yet) in `folder`.
bool canWriteSettings(const QString& folder, const QString& file);
} // namespace platform::native
