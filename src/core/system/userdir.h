// SPDX-License-Identifier: MIT
#pragma once
// The per-user folder and the choice of the settings file. Every front end (the window, the command-line
// tool) asks here, so all of them read and write the same file for the same program folder.

#include <QString>

namespace platform {

// $XDG_CONFIG_HOME/merovask, or ~/.config/merovask when that variable is unset, empty or relative. Not
// created here.
QString userDir();

// This user's own settings file for a program in `programFolder`, whether or not it is in use: the plain
// merovask.ini in userDir() for the installed program, a sub-folder of its own for any other folder.
QString userSettingsPath(const QString& programFolder);

// The settings file to use for a program in `programFolder`: its merovask.ini when this user can write it,
// otherwise userSettingsPath(), which is made from the program folder's file the first time. Call it once,
// before the first read, and keep the answer.
QString settingsPath(const QString& programFolder);

} // namespace platform
