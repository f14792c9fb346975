// Loading a calibration table into the device: choosing the file, validating it, the upload.

#include "calibration/calfile.h"
#include "filter/number.h"
#include "link/commands.h"
#include "platform/clock.h"
#include "platform/filedialog.h"
#include "platform/msgbox.h"
#include "shell/frmMotor.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <array>
#include <cstring>

namespace {
const QString kSection = QStringLiteral("tfilter");
// The record's size without the fields that later versions of the dialog appended.
constexpr DWORD kRecordSize = 76;
constexpr DWORD kFileBuffer = 154;
constexpr DWORD kTitleBuffer = 255;
} // namespace

QString frmMotor::GetFileName(std::int16_t inType, const QString& inTime) {
    Q_UNUSED(inType);
    Q_UNUSED(inTime);
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

    if (GetOpenFileNameA(&ofn) == 0) {
        if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) {
            platform::MsgBox(QStringLiteral("the file path is too long, it can have at most %1 characters")
                                 .arg(kFileBuffer - 1));
        }
        return {};
    }
    return QFile::decodeName(QByteArray(file.data(), qstrnlen(file.data(), kFileBuffer)));
}

void frmMotor::CmdFile_Click() {
    if (uploading) {
        return;
    }
    const QString path = GetFileName(0, QString());
    if (path.isEmpty()) {
        return;
    }
    QFile in(path);
    if (QFileInfo(path).isDir() || !in.open(QIODevice::ReadOnly)) {
        platform::MsgBox(calibration::unreadableText(path));
        return;
    }
    const calibration::ReadResult result = calibration::readCalibration(in, cal);
    in.close();
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

bool frmMotor::sendAndWait(const QString& command) {
    SendCommand(devlink::cmd::terminated(command));
    replyText.clear();
    DelayMs(50);
    // The operator left during the wait: the rest of the upload is dropped.
    return !unloaded;
}

void frmMotor::uploadCalibration(std::int16_t rowCount) {
    using namespace devlink::cmd;
    uploading = true;
    const auto done = qScopeGuard([this] { uploading = false; });
    // The window's cursor, not the application's: the boxes that end the upload keep their arrow.
    setCursor(Qt::WaitCursor);
    const auto arrow = qScopeGuard([this] { unsetCursor(); });

    for (int k = 0; k < rowCount; ++k) {
        if (!sendAndWait(writeSlot(k)) ||
            !sendAndWait(slotValue(cal.calTable[static_cast<std::size_t>(k)]))) {
            return;
        }
    }
    DelayMs(50);
    if (unloaded) {
        return;
    }
    if (replyText.isEmpty()) {
        platform::MsgBox(
            QStringLiteral("error, no response from device, check RS232 connection and device power"));
        return;
    }
    if (!sendAndWait(writeSlot(kSlotMin)) || !sendAndWait(slotValue(cal.calMin)) ||
        !sendAndWait(writeSlot(kSlotMax))) {
        return;
    }
    SendCommand(terminated(slotValue(cal.calMax)));
    replyText.clear();

    const QString minText = getIrStr(kSection, QStringLiteral("SWmin"), QString::number(cal.calMin), 1);
    swMin = filter::wholeValue(minText).value_or(swMin);
    const QString maxText = getIrStr(kSection, QStringLiteral("SWmax"), QString::number(cal.calMax), 1);
    swMax = filter::wholeValue(maxText).value_or(swMax);

    // Date and time from one reading of the clock, so that a stamp taken at midnight cannot mix two days.
    const QDateTime now = platform::Now();
    const QString timeText = now.toString(QStringLiteral("hhmmss"));
    const QString dateText = now.toString(QStringLiteral("yyyyMMdd"));

    DelayMs(50);
    if (unloaded) {
        return;
    }
    if (!sendAndWait(writeSlot(kSlotYear)) || !sendAndWait(slotDigits(dateText.left(4))) ||
        !sendAndWait(writeSlot(kSlotMonthDay)) || !sendAndWait(slotDigits(dateText.right(4))) ||
        !sendAndWait(writeSlot(kSlotHourMinute)) || !sendAndWait(slotDigits(timeText.left(4)))) {
        return;
    }
    platform::MsgBox(QStringLiteral("plese reset the tunable filter device's power and this software!"));
}
