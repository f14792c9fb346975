// SPDX-License-Identifier: MIT
#pragma once
// The open-file dialog, in the shape of the Windows common-dialog call: the caller fills an OPENFILENAME
// record, the call shows the dialog and writes the chosen path into the record's buffer. On Windows the
// record is the system's and so is the dialog; elsewhere the record is declared here and the dialog is Qt's.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#ifdef _WIN32
#include <windows.h>

#include <commdlg.h>
#else
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BOOL = int;
using LPSTR = char*;
using LPCSTR = const char*;
using HWND = void*;
using HINSTANCE = void*;
using LPARAM = std::intptr_t;

inline constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
inline constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;

struct OPENFILENAME {
    DWORD lStructSize = 0;
    HWND hwndOwner = nullptr;
    HINSTANCE hInstance = nullptr;
    LPCSTR lpstrFilter = nullptr; // pairs of NUL-ended description and pattern, ended by one more NUL
    LPSTR lpstrCustomFilter = nullptr;
    DWORD nMaxCustFilter = 0;
    DWORD nFilterIndex = 0; // 0 or 1: the first pair is active
    LPSTR lpstrFile = nullptr;
    DWORD nMaxFile = 0;
    LPSTR lpstrFileTitle = nullptr;
    DWORD nMaxFileTitle = 0;
    LPCSTR lpstrInitialDir = nullptr;
    LPCSTR lpstrTitle = nullptr;
    DWORD Flags = 0;
    WORD nFileOffset = 0;
    WORD nFileExtension = 0;
    LPCSTR lpstrDefExt = nullptr;
    LPARAM lCustData = 0;
    void* lpfnHook = nullptr;
    LPCSTR lpTemplateName = nullptr;
};
#endif

namespace platform {
// Shows the dialog. Returns non-zero when the operator chose a file (its path is in lpstrFile, NUL-ended);
// zero on cancel or failure (CommDlgExtendedError tells which; FNERR_BUFFERTOOSMALL when the path did not
// fit).
BOOL GetOpenFileNameA(OPENFILENAME* ofn);
DWORD CommDlgExtendedError();

// Tests answer the dialog from a script: the handler sees the request and returns the chosen path, or
// nothing for a cancel.
using FileDialogHandler = std::function<std::optional<QString>(const OPENFILENAME& request)>;
void setFileDialogHandlerForTests(FileDialogHandler handler);
} // namespace platform
