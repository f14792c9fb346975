// SPDX-License-Identifier: MIT
// The calibration reader on arbitrary file contents. Besides the result's own promises, the reading must not
// depend on how the device hands out the bytes: a file read in one piece and the same file trickling in a
// few bytes at a time (a CR at the end of one read, its LF at the start of the next) give the same result.

#include "calibration/calfile.h"
#include "support/trickledevice.h"

#include <QBuffer>
#include <QIODevice>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

using Trickle = testsupport::TrickleDevice;

constexpr std::int16_t kUntouched = 0x5A5A;

calibration::CalTable freshTable() {
    calibration::CalTable table;
    table.calTable.fill(kUntouched);
    table.calMin = -7;
    table.calMax = -7;
    return table;
}

void checkResult(const calibration::ReadResult& r, const calibration::CalTable& table) {
    using calibration::ReadResult;
    if (r.kind == ReadResult::Ok) {
        check(r.rowCount >= calibration::kMinRows && r.rowCount <= calibration::kMaxRows,
              "Ok has 10..100 rows");
        check(table.calMin <= table.calMax, "Ok has calMin <= calMax");
        check(r.message.isEmpty(), "Ok carries no message");
    } else {
        check(!r.message.isEmpty(), "every error has a message");
        check(r.rowCount >= 0 && r.rowCount <= calibration::kMaxRows + 1, "row count stays within the table");
    }
    if (r.kind == ReadResult::NoData)
        check(r.rowCount < calibration::kMinRows, "NoData means fewer than 10 rows");
    if (r.kind == ReadResult::TooMany)
        check(r.rowCount == calibration::kMaxRows + 1, "TooMany stops at the 101st row");
    for (std::size_t i = static_cast<std::size_t>(std::max<int>(r.rowCount, 0)); i < table.calTable.size();
         ++i)
        check(table.calTable[i] == kUntouched, "rows beyond those read keep what they held");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    QBuffer whole;
    whole.setData(bytes);
    whole.open(QIODevice::ReadOnly);
    calibration::CalTable table = freshTable();
    const calibration::ReadResult r = calibration::readCalibration(whole, table);
    checkResult(r, table);

    // The step comes from the content, so the fuzzer can steer CRs onto read boundaries.
    const qint64 step = size == 0 ? 1 : 1 + data[0] % 7;
    Trickle trickle(bytes, step);
    calibration::CalTable table2 = freshTable();
    const calibration::ReadResult r2 = calibration::readCalibration(trickle, table2);
    check(r2.kind == r.kind && r2.rowCount == r.rowCount && r2.message == r.message,
          "the same result whatever the size of the reads");
    check(table2.calTable == table.calTable && table2.calMin == table.calMin && table2.calMax == table.calMax,
          "the same table whatever the size of the reads");

    // A device that cannot be read is an error with a message, never a crash.
    QBuffer closed;
    calibration::CalTable table3 = freshTable();
    const calibration::ReadResult r3 = calibration::readCalibration(closed, table3);
    check(r3.kind == calibration::ReadResult::ReadFailed && !r3.message.isEmpty(),
          "unreadable device reported");
    return 0;
}
