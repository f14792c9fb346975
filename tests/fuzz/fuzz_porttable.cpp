// SPDX-License-Identifier: MIT
// The port table read from arbitrary bytes, and the numbering rule run over it with adapters made from the
// same bytes: every entry kept is sound, a table written back reads the same, and numbers never clash.

#include "serial/porttable.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

void checkEntries(const QList<platform::TableEntry>& entries) {
    QSet<int> numbers;
    QSet<QString> adapters;
    for (const platform::TableEntry& e : entries) {
        check(e.number >= 1 && e.number <= platform::kLastPortNumber, "number in range");
        check(!numbers.contains(e.number), "one entry per number");
        check(!e.identity.isEmpty(), "an identity");
        check(!adapters.contains(e.identity + QLatin1Char('\t') + e.location), "one entry per adapter");
        numbers.insert(e.number);
        adapters.insert(e.identity + QLatin1Char('\t') + e.location);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int adapterCount = input.ConsumeIntegralInRange(0, 6);
    QList<platform::Adapter> adapters;
    // As the system reports them: an identity that is never empty, and each adapter in a socket of its own.
    for (int i = 0; i < adapterCount; ++i) {
        const QString identity =
            QStringLiteral("id:") + QString::fromUtf8(input.ConsumeRandomLengthString(24));
        const QString description = QString::fromUtf8(input.ConsumeRandomLengthString(16));
        const QString socket =
            QString::fromUtf8(input.ConsumeRandomLengthString(12)) + QStringLiteral("#%1").arg(i);
        adapters.append({identity, QStringLiteral("/dev/ttyUSB%1").arg(i), description, socket});
    }
    const int held = input.ConsumeIntegralInRange(0, 8);
    const QByteArray text = QByteArray::fromStdString(input.ConsumeRemainingBytesAsString());

    platform::PortTable table = platform::parsePortTable(text);
    checkEntries(table.entries);

    const qsizetype known = table.entries.size();
    const auto present = platform::numberAdapters(table, adapters, [held] {
        return QSet<int>{held, held + 1, held + 2};
    });
    check(present.size() <= adapters.size(), "at most one number per adapter");
    for (int i = known; i < table.entries.size(); ++i) {
        const int number = table.entries[i].number;
        check(number >= platform::kFirstAdapterNumber, "new numbers from 3 up");
        check(number < held || number > held + 2, "a number held elsewhere is not given");
    }

    const QByteArray written = platform::formatPortTable(table.entries);
    const platform::PortTable again = platform::parsePortTable(written);
    checkEntries(table.entries);
    check(!again.changed, "a written table reads without loss");
    check(again.entries.size() == table.entries.size(), "every entry comes back");
    return 0;
}
