// SPDX-License-Identifier: MIT
// The SCPI language on whatever a client sends: the framer in random pieces and whole must give the same
// messages and hold bounded memory; every message is read into calls without a crash, the same way twice,
// engineering headers only with --engineering; every parameter converts or fails cleanly; the error queue
// stays within its size.

#include "parser/framer.h"
#include "parser/status.h"
#include "parser/tree.h"
#include "parser/values.h"

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool engineeringOnly(scpi::Command command) {
    for (const scpi::Entry& entry : scpi::entries()) {
        if (entry.command == command && !entry.engineering) {
            return false;
        }
    }
    return true;
}

std::vector<scpi::Framer::Message> frame(QByteArrayView bytes, std::size_t seed) {
    scpi::Framer framer;
    std::vector<scpi::Framer::Message> out;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype piece =
            seed == 0 ? bytes.size() : qsizetype(1 + (seed = seed * 1103515245 + 12345) % 97);
        for (auto& m : framer.feed(bytes.sliced(at, qMin(piece, bytes.size() - at)))) {
            out.push_back(std::move(m));
        }
        at += piece;
        check(framer.held() <= scpi::Framer::kMaxLine + scpi::Framer::kMaxBlock + 1,
              "the framer's memory is bounded");
    }
    return out;
}

QByteArray shown(const scpi::Program& program) {
    QByteArray out;
    for (const scpi::Call& call : program.calls) {
        out += QByteArray::number(int(call.command)) + call.unit.header + '|';
        for (const scpi::Param& p : call.unit.params) {
            out += QByteArray::number(int(p.kind)) + p.written + p.data + '|';
        }
    }
    return out + QByteArray::number(program.error ? int(program.error->code) : 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto whole = frame(bytes, 0);
    const auto pieces = frame(bytes, size + 1);
    check(whole.size() == pieces.size(), "the same messages whatever the pieces");

    scpi::Status status;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        check(whole[i].text == pieces[i].text && whole[i].error == pieces[i].error, "the same message text");
        check(!whole[i].error || whole[i].text.isEmpty(), "a dropped message holds nothing");
        for (const bool engineering : {false, true}) {
            const scpi::Program program = scpi::parse(whole[i].text, engineering);
            check(shown(program) == shown(scpi::parse(whole[i].text, engineering)),
                  "parsing is deterministic");
            check(program.calls.size() <= whole[i].text.count(';') + 1, "at most one call per unit");
            for (const scpi::Call& call : program.calls) {
                check(engineering || !engineeringOnly(call.command),
                      "engineering headers need --engineering");
                for (const scpi::Param& p : call.unit.params) {
                    check(p.data.size() <= whole[i].text.size(), "a parameter lies within its message");
                    for (const auto q : {scpi::Quantity::Count, scpi::Quantity::Wavelength,
                                         scpi::Quantity::Frequency, scpi::Quantity::Time}) {
                        const auto v = scpi::numeric(p, q, {1, 30, 4});
                        check(!std::holds_alternative<double>(v) || p.kind == scpi::Param::Kind::Number ||
                                  p.kind == scpi::Param::Kind::Character,
                              "only numbers and MIN/MAX/DEF have a value");
                        (void)scpi::number(std::holds_alternative<double>(v) ? std::get<double>(v) : 0);
                    }
                }
            }
            if (program.error) {
                status.push(*program.error);
                check(scpi::errorResponse(*program.error).size() <= 2 * 255 + 8, "an error entry is short");
            }
        }
        check(status.count() <= scpi::Status::kQueueSize, "the error queue keeps its size");
    }
    return 0;
}
