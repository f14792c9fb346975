// SPDX-License-Identifier: MIT
#pragma once
// The Windows profile (INI) calls. On Windows they come from the system; elsewhere system/profile.cpp
// implements the same behaviour, so the settings file stays interchangeable with one written on Windows.

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>

using DWORD = std::uint32_t;
using BOOL = int;
using LPCSTR = const char*;
using LPSTR = char*;

extern "C" {
// Copies the value of lpKeyName in section lpAppName of lpFileName (or lpDefault when the file, section or
// key is missing) into lpReturnedString, at most nSize - 1 characters plus a terminating NUL. Returns the
// number of characters copied, without the NUL.
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName);

// Stores lpString under lpKeyName in section lpAppName, creating file, section and key where missing. A null
// lpString removes the key, a null lpKeyName the whole section. Returns non-zero on success; on failure the
// file is left exactly as it was.
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);
}

namespace platform {
// Test seam: called after the new contents are complete in the temporary file and before that file replaces
// the settings file. Tests use it to prove that dying at that moment leaves the old file intact.
extern void (*profileBeforeReplaceHook)();
} // namespace platform
#endif
