// SPDX-License-Identifier: MIT
// Loading a calibration table into the device: choosing the file, validating it, the upload.

#include "calibration/calfile.h"
#include "calibration/upload.h"
#include "device/texts.h"
#include "dialogs/filedialog.h"
#include "dialogs/msgbox.h"
#include "frmMotor.h"

#include <QFile>
#include <QScopeGuard>
#include <array>
#include <cstring>

namespace {
// The record's size without the fields that later versions of the dialog appended.
constexpr DWORD kRecordSize = 76;
constexpr DWORD kFileBuffer = 154;
constexpr DWORD kTitleBuffer = 255;
} // namespace

QString frmMotor::GetFileName() {
    static const char kFilter[] = "*.txt\0*.txt;\0*.*\0*.*\0"; // the literal adds the closing NUL
    std::array<char, kFileBuffer> file;
    file.fill(' ');
    // One byte more than the old 254-character buffer: the dialog may write nMaxFileTitle bytes into it.
    std::array<char, kTitleBuffer> title;
    title.fill(' ');

    OPENFILENAME ofn{};
    ofn.lStructSize = kRecordSize;
    ofn.hwndOwner = nullptr;
    ofn.hInstance = nullptr;
    ofn.lpstrFilter = kFilter;
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = kFileBuffer;
    ofn.lpstrFileTitle = title.data();
    ofn.nMaxFileTitle = kTitleBuffer;
    ofn.lpstrInitialDir = "";
    ofn.lpstrTitle = "calibration txt file";
    ofn.Flags = OFN_HIDEREADONLY;
    ofn.lpstrDefExt = "*.txt";

    if (platform::GetOpenFileNameA(&ofn) == 0) {
        if (platform::CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) {
            platform::MsgBox(QStringLiteral("the file path is too long, it can have at most %1 characters")
                                 .arg(kFileBuffer - 1));
        }
        return {};
    }
    return QFile::decodeName(QByteArray(file.data(), qstrnlen(file.data(), kFileBuffer)));
}

void frmMotor::CmdFile_Click() {
    const QString path = GetFileName();
    if (path.isEmpty()) {
        return;
    }
    const calibration::ReadResult result = calibration::readCalibrationFile(path, cal);
    if (result.kind != calibration::ReadResult::Ok) {
        platform::MsgBox(result.message);
        return;
    }
    if (platform::MsgBox(calibration::confirmText(cal, result.rowCount), platform::vbYesNo) !=
        platform::vbYes) {
        return;
    }
    uploadCalibration(result.rowCount);
}

void frmMotor::uploadCalibration(std::int16_t rowCount) {
    // No other command may fall between an X and its Y while the table goes out, and the port stays as it
    // is: the gate refuses every other control until the box that ends the upload is closed.
    gate.exclusive([this, rowCount] {
        // The window's cursor, not the application's: the boxes that end the upload keep their arrow.
        setCursor(Qt::WaitCursor);
        const auto arrow = qScopeGuard([this] { unsetCursor(); });
        switch (calibration::upload(line, cal, rowCount, settingsFile)) {
        case calibration::UploadEnd::NoResponse:
            platform::MsgBox(texts::uploadNoResponse());
            break;
        case calibration::UploadEnd::Done:
            platform::MsgBox(texts::uploadDone());
            break;
        case calibration::UploadEnd::Stopped:
            break; // the operator left during a wait: the rest of the upload is dropped
        }
    });
}
