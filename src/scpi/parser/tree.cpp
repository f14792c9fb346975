// SPDX-License-Identifier: MIT
#include "parser/tree.h"

#include <array>
#include <vector>

namespace scpi {

namespace {

const std::array<Entry, 25> kEntries{{
    {"*IDN", Command::Identify, false, true, false},
    {"*RST", Command::Reset, true, false, false},
    {"*CLS", Command::ClearStatus, true, false, false},
    {"*ESE", Command::EventEnable, true, true, false},
    {"*ESR", Command::EventStatus, false, true, false},
    {"*OPC", Command::Complete, true, true, false},
    {"*SRE", Command::ServiceEnable, true, true, false},
    {"*STB", Command::StatusByte, false, true, false},
    {"*TST", Command::SelfTest, false, true, false},
    {"*WAI", Command::Wait, true, false, false},
    {"WAVelength", Command::Wavelength, true, true, false},
    {"WAVelength:STEP[:INCRement]", Command::WavelengthStep, true, true, false},
    {"WAVelength:SWEep:STARt", Command::SweepStart, true, true, false},
    {"WAVelength:SWEep:STOP", Command::SweepStop, true, true, false},
    {"WAVelength:SWEep:DWELl", Command::SweepDwell, true, true, false},
    {"WAVelength:SWEep:STEP", Command::SweepStep, true, true, false},
    {"WAVelength:SWEep[:IMMediate]", Command::Sweep, true, false, false},
    {"FREQuency", Command::Frequency, true, true, false},
    {"ROUTe[:CHANnel]", Command::Channel, true, true, false},
    {"CALibration:DATE", Command::CalibrationDate, false, true, false},
    {"CALibration:DATA", Command::CalibrationData, true, false, true},
    {"DIAGnostic:SEND", Command::DeviceCommand, false, true, true},
    {"SYSTem:ERRor[:NEXT]", Command::ErrorNext, false, true, false},
    {"SYSTem:ERRor:COUNt", Command::ErrorCount, false, true, false},
    {"SYSTem:VERSion", Command::Version, false, true, false},
}};

struct Node {
    QByteArray shortForm;
    QByteArray longForm;
    bool optional;
};

std::vector<Node> nodesOf(const char* header) {
    std::vector<Node> nodes;
    QByteArray text(header);
    if (text.startsWith('*')) {
        return {{text.mid(1), text.mid(1), false}};
    }
    for (QByteArray part : text.replace("[:", ":[").split(':')) {
        const bool optional = part.startsWith('[');
        part.replace('[', "").replace(']', "");
        QByteArray shortForm;
        for (const char c : part) {
            if (c >= 'A' && c <= 'Z') {
                shortForm += c;
            }
        }
        nodes.push_back({shortForm, part.toUpper(), optional});
    }
    return nodes;
}

// Whether the written mnemonics are the header's nodes, optional ones left out or not.
bool matches(const QList<QByteArray>& written, qsizetype i, const std::vector<Node>& nodes, std::size_t j) {
    if (j == nodes.size()) {
        return i == written.size();
    }
    if (i < written.size() && (written[i] == nodes[j].shortForm || written[i] == nodes[j].longForm) &&
        matches(written, i + 1, nodes, j + 1)) {
        return true;
    }
    return nodes[j].optional && matches(written, i, nodes, j + 1);
}

} // namespace

std::span<const Entry> entries() {
    return kEntries;
}

Program parse(QByteArrayView message, bool engineering) {
    static const auto table = [] {
        std::vector<std::pair<const Entry*, std::vector<Node>>> parsed;
        for (const Entry& entry : entries()) {
            parsed.emplace_back(&entry, nodesOf(entry.header));
        }
        return parsed;
    }();

    Lexed lexed = lex(message);
    Program program;
    QList<QByteArray> path;
    for (Unit& unit : lexed.units) {
        QList<QByteArray> written = unit.common || unit.rooted ? QList<QByteArray>{} : path;
        written << unit.nodes;
        const Entry* found = nullptr;
        for (const auto& [entry, nodes] : table) {
            const bool common = entry->header[0] == '*';
            const bool form = unit.query ? entry->query : entry->setting;
            if (common == unit.common && form && (engineering || !entry->engineering) &&
                matches(written, 0, nodes, 0)) {
                found = entry;
                break;
            }
        }
        if (found == nullptr) {
            program.error = Error{ErrorCode::UndefinedHeader, QString::fromLatin1(unit.header)};
            return program;
        }
        if (!unit.common) {
            written.removeLast();
            path = written;
        }
        program.calls << Call{found->command, std::move(unit)};
    }
    program.error = lexed.error;
    return program;
}

} // namespace scpi
