#pragma once
// SPDX-License-Identifier: MIT
// The program's window that owns the system's dialogs on Windows.

#include <windows.h>

namespace platform::native {
// The active window, or else the first visible one; null before any window shows.
HWND ownerWindow();
} // namespace platform::native
