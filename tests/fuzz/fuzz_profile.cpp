// SPDX-License-Identifier: MIT
// The profile calls on an arbitrary settings file: reads never write past the caller's buffer and always end
// the text with a NUL; a write of a key reads back as written and leaves every other key reading as before.
//
// Input: section, key and value of the write (FuzzedDataProvider strings), then the file's contents.

#include "system/profile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

const std::string& settingsPath() {
    static const std::string path = [] {
        const char* shm = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(shm) + "/fuzz_profile_" + std::to_string(::getpid()) + ".ini";
    }();
    return path;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string trimmed(std::string s) {
    while (!s.empty() && isBlank(s.back()))
        s.pop_back();
    std::size_t b = 0;
    while (b < s.size() && isBlank(s[b]))
        ++b;
    return s.substr(b);
}

std::string without(std::string s, const char* banned) {
    std::string out;
    for (char c : s)
        if (c != '\0' && !std::strchr(banned, c))
            out.push_back(c);
    return out;
}

// Names ignore letter case (ASCII and Latin-1 letters); comparing with the broadest folding only skips
// more keys below, never reports a false change.
unsigned char fold(char c) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
        return static_cast<unsigned char>(u + 0x20);
    return u;
}

bool sameName(const std::string& a, const std::string& b) {
    const std::string x = trimmed(a);
    const std::string y = trimmed(b);
    if (x.size() != y.size())
        return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (fold(x[i]) != fold(y[i]))
            return false;
    return true;
}

// Reads with a buffer of exactly `size` bytes on the heap (the address sanitizer watches its end) and
// checks the termination and the returned count.
std::string read(const std::string& section, const std::string& key, const char* fallback, DWORD size) {
    std::vector<char> buffer(size == 0 ? 1 : size, '\x7f');
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback, buffer.data(), size,
                                             settingsPath().c_str());
    if (size == 0) {
        check(n == 0 && buffer[0] == '\x7f', "a buffer of size 0 is not written");
        return {};
    }
    check(n < size, "at most size - 1 characters");
    check(buffer[n] == '\0', "the text ends with a NUL");
    check(std::strlen(buffer.data()) == n, "the count is the length of the text");
    return std::string(buffer.data(), n);
}

struct Pair {
    std::string section;
    std::string key;
};

// Candidate names as a hand-edited file spells them: every header and every "name=" of the contents.
std::vector<Pair> namesIn(const std::string& contents) {
    std::vector<Pair> pairs;
    std::string section;
    std::size_t pos = 0;
    while (pos < contents.size() && pairs.size() < 6) {
        std::size_t end = contents.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = contents.size();
        std::string line = contents.substr(pos, end - pos);
        line = line.substr(0, line.find('\0'));
        pos = end + 1;
        const std::string t = trimmed(line);
        if (!t.empty() && t.front() == '[' && t.find(']') != std::string::npos) {
            section = t.substr(1, t.find(']') - 1);
        } else if (const auto eq = t.find('='); eq != std::string::npos) {
            pairs.push_back({section, t.substr(0, eq)});
        }
    }
    return pairs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::string section = input.ConsumeRandomLengthString(40);
    std::string key = input.ConsumeRandomLengthString(40);
    std::string value = input.ConsumeRandomLengthString(300);
    const DWORD smallSize = input.ConsumeIntegralInRange<DWORD>(0, 8);
    const DWORD midSize = input.ConsumeIntegralInRange<DWORD>(0, 400);
    const std::string contents = input.ConsumeRemainingBytesAsString();
    // Neither a value of the file nor the one written is longer, so this buffer always holds a whole one.
    const DWORD kLarge = static_cast<DWORD>(contents.size() + value.size() + 16);

    {
        QFile file(QString::fromStdString(settingsPath()));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(contents.data(), static_cast<qint64>(contents.size()));
    }

    // Names the write accepts; a value for which reading back is exact: no line breaks, no blanks at either
    // end (cut on writing and on reading), no pair of surrounding quotes (taken off on reading).
    section = trimmed(without(section, "\r\n]"));
    key = trimmed(without(key, "\r\n=[]"));
    if (key.empty())
        key = "k";
    value = trimmed(without(value, "\r\n"));
    while (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front())
        value = trimmed(value.substr(0, value.size() - 1));

    std::vector<Pair> pairs = namesIn(contents);
    pairs.push_back({section, key});
    std::vector<std::string> before;
    for (const Pair& p : pairs)
        before.push_back(read(p.section, p.key, "", kLarge));
    // Short buffers for the first key of the file and the key about to be written (each read loads the file,
    // so not for every key).
    for (std::size_t i : {std::size_t{0}, pairs.size() - 1}) {
        for (DWORD n : {smallSize, midSize}) {
            const std::string part = read(pairs[i].section, pairs[i].key, "", n);
            check(part == before[i].substr(0, n == 0 ? 0 : n - 1),
                  "a short buffer gets the front of the value");
        }
    }
    // A name with "=" can be no key of the file: the default comes back, its trailing spaces cut.
    check(read(section, "no=key", " dflt  ", kLarge) == " dflt", "a missing key reads as its default");

    check(WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), settingsPath().c_str()) !=
              0,
          "a write to a writable file succeeds");
    check(read(section, key, "", kLarge) == value, "a written value reads back");
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (sameName(pairs[i].section, section) && sameName(pairs[i].key, key))
            continue;
        check(read(pairs[i].section, pairs[i].key, "", kLarge) == before[i], "other keys read as before");
    }

    // Writing the same again changes nothing in the file.
    QFile file(QString::fromStdString(settingsPath()));
    file.open(QIODevice::ReadOnly);
    const QByteArray written = file.readAll();
    file.close();
    WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), settingsPath().c_str());
    file.open(QIODevice::ReadOnly);
    check(file.readAll() == written, "a write that changes nothing leaves the file as it was");
    return 0;
}
