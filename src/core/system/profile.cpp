// SPDX-License-Identifier: MIT
// The Windows profile calls for the other platforms. The settings file must stay interchangeable with one
// that Windows reads and writes, so this follows what the Windows calls do with a file's text, including
// their tolerance of hand-edited files, and edits the text in place rather than rewriting it from a parsed
// model.
//
// Bytes are bytes: names and values are 8-bit text in the program's code page and are never decoded. The file
// is scanned once per call, line by line, without building a list of lines, so a huge or garbage file costs
// time in proportion to its size and no more memory than one copy of it.

#include "system/profile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

namespace platform {

void (*profileBeforeReplaceHook)() = nullptr;

namespace {

using Text = std::string_view;

// A settings file is a few hundred bytes. Anything far beyond that is not one; refusing it keeps a wrong path
// (a disk image, a log) from costing gigabytes of memory.
constexpr qint64 maxFileSize = 64 * 1024 * 1024;

constexpr Text utf8Bom = "\xEF\xBB\xBF";
constexpr Text crlf = "\r\n";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

Text trimLeft(Text s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

Text trim(Text s) {
    s = trimLeft(s);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Names compare without letter case, in Latin-1 as the rest of the program treats 8-bit text.
unsigned char foldCase(char c) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
        return static_cast<unsigned char>(u + 0x20);
    return u;
}

bool sameName(Text a, Text b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return foldCase(x) == foldCase(y); });
}

// One line of the file: its text is [begin, end), its line end (CRLF, LF, CR or none at the end of the file)
// is [end, next).
struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

class LineReader {
  public:
    explicit LineReader(Text text) : text_(text) {
        if (text_.starts_with(utf8Bom))
            pos_ = utf8Bom.size();
    }

    bool next(Line& line) {
        if (pos_ >= text_.size())
            return false;
        line.begin = pos_;
        std::size_t i = pos_;
        while (i < text_.size() && text_[i] != '\r' && text_[i] != '\n')
            ++i;
        line.end = i;
        if (i < text_.size())
            i += (text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n') ? 2 : 1;
        line.next = pos_ = i;
        return true;
    }

  private:
    Text text_;
    std::size_t pos_ = 0;
};

struct ParsedLine {
    enum Kind { Other, Section, Key } kind = Other;
    Text name;
    Text value;
};

// The Windows calls see the file through C strings, so a NUL byte ends what a line says; the rest of such a
// line is kept in the file but never read.
ParsedLine parseLine(Text text, const Line& line) {
    Text s = text.substr(line.begin, line.end - line.begin);
    if (const auto nul = s.find('\0'); nul != Text::npos)
        s = s.substr(0, nul);
    s = trimLeft(s);
    if (s.starts_with('[')) {
        if (const auto close = s.find(']'); close != Text::npos)
            return {ParsedLine::Section, trim(s.substr(1, close - 1)), {}};
    }
    const auto eq = s.find('=');
    if (eq == Text::npos)
        return {};
    return {ParsedLine::Key, trim(s.substr(0, eq)), trim(s.substr(eq + 1))};
}

// Where a key stands in the file. Only the first section of the name is searched, and in it the first key of
// the name counts, as with the Windows calls.
struct Location {
    bool sectionFound = false;
    Line header;
    std::size_t sectionEnd = 0; // where the next section's header begins, or the end of the file
    bool keyFound = false;
    Line keyLine;
    Text keyName; // as the file spells it
    Text value;   // blanks around it cut, quotes still on
    bool anyKey = false;
    Line lastKey;
};

// Without a key name, finds the bounds of the section.
Location locate(Text text, Text section, std::optional<Text> key) {
    Location at;
    at.sectionEnd = text.size();
    LineReader reader(text);
    Line line;
    while (reader.next(line)) {
        const ParsedLine parsed = parseLine(text, line);
        if (!at.sectionFound) {
            if (parsed.kind == ParsedLine::Section && sameName(parsed.name, section)) {
                at.sectionFound = true;
                at.header = line;
            }
            continue;
        }
        if (parsed.kind == ParsedLine::Section) {
            at.sectionEnd = line.begin;
            break;
        }
        if (parsed.kind != ParsedLine::Key)
            continue;
        at.anyKey = true;
        at.lastKey = line;
        if (key && sameName(parsed.name, *key)) {
            at.keyFound = true;
            at.keyLine = line;
            at.keyName = parsed.name;
            at.value = parsed.value;
            break;
        }
    }
    return at;
}

// One pair of matching quotes around a value is not part of it.
Text unquote(Text value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool hasLineBreak(Text s) {
    return s.find_first_of("\r\n") != Text::npos;
}

// Names and values that would read back as something else, or inject lines into the file, are refused rather
// than written: nothing is escaped in this format.
bool writableSection(Text name) {
    return !hasLineBreak(name) && name.find(']') == Text::npos;
}

bool writableKey(Text name) {
    return !name.empty() && !hasLineBreak(name) && name.find('=') == Text::npos && !name.starts_with('[');
}

enum class LoadResult { Missing, Loaded, Failed };

LoadResult loadFile(const QString& path, QByteArray& contents) {
    const QFileInfo info(path);
    if (!info.exists())
        return LoadResult::Missing;
    // Directories, pipes and devices are not settings files; reading /dev/zero would never end.
    if (!info.isFile() || info.size() > maxFileSize)
        return LoadResult::Failed;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return LoadResult::Failed;
    // Only what is there: reading with the size limit as the length would reserve the whole limit each call.
    contents = file.readAll();
    if (file.error() != QFileDevice::NoError || contents.size() > maxFileSize)
        return LoadResult::Failed;
    return LoadResult::Loaded;
}

QString filePath(LPCSTR name) {
    return QFile::decodeName(name);
}

// The new contents go to a temporary file in the same folder, which then replaces the settings file in one
// rename: whatever happens, the settings file is either the old one or the new one, never half written.
bool replaceFile(const QString& path, const QByteArray& contents) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(contents) != contents.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    if (profileBeforeReplaceHook)
        profileBeforeReplaceHook();
    return file.commit();
}

QByteArray splice(Text text, std::size_t from, std::size_t to, Text replacement) {
    QByteArray out;
    out.reserve(static_cast<qsizetype>(text.size() - (to - from) + replacement.size()));
    out.append(text.data(), static_cast<qsizetype>(from));
    out.append(replacement.data(), static_cast<qsizetype>(replacement.size()));
    out.append(text.data() + to, static_cast<qsizetype>(text.size() - to));
    return out;
}

std::string keyLine(Text key, Text value) {
    std::string line;
    line.reserve(key.size() + value.size() + 3);
    line.append(key).append("=").append(value).append(crlf);
    return line;
}

// The new text of the file, or nothing when the edit changes nothing. Without a key the section goes, without
// a value the key goes.
std::optional<QByteArray> edit(Text text, Text section, std::optional<Text> key, std::optional<Text> value) {
    const Location at = locate(text, section, key);
    if (!key) {
        if (!at.sectionFound)
            return std::nullopt;
        return splice(text, at.header.begin, at.sectionEnd, {});
    }
    if (!value) {
        if (!at.keyFound)
            return std::nullopt;
        return splice(text, at.keyLine.begin, at.keyLine.next, {});
    }
    if (at.keyFound) {
        // Blanks at the end of a value never read back, so they alone are no change.
        if (at.value == trim(*value))
            return std::nullopt;
        return splice(text, at.keyLine.begin, at.keyLine.next, keyLine(at.keyName, *value));
    }
    if (at.sectionFound) {
        // After the last key of the section, so keys keep the order in which they were first written.
        const Line& after = at.anyKey ? at.lastKey : at.header;
        std::string insert = after.next == after.end ? std::string(crlf) : std::string();
        insert += keyLine(*key, *value);
        return splice(text, after.next, after.next, insert);
    }
    std::string append;
    Text body = text;
    if (body.starts_with(utf8Bom))
        body.remove_prefix(utf8Bom.size());
    if (!body.empty() && body.back() != '\r' && body.back() != '\n')
        append += crlf;
    append.append("[").append(section).append("]").append(crlf);
    append += keyLine(*key, *value);
    return splice(text, text.size(), text.size(), append);
}

DWORD copyOut(Text value, LPSTR buffer, DWORD size) {
    const std::size_t n = std::min<std::size_t>(value.size(), size - 1);
    if (n > 0)
        std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                          LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    if (!lpReturnedString || nSize == 0)
        return 0;
    // Windows would list section or key names here; the program never asks for lists.
    if (!lpAppName || !lpKeyName)
        return copyOut({}, lpReturnedString, nSize);

    Text fallback = lpDefault ? Text(lpDefault) : Text();
    while (!fallback.empty() && fallback.back() == ' ')
        fallback.remove_suffix(1);

    QByteArray contents;
    if (!lpFileName || loadFile(filePath(lpFileName), contents) != LoadResult::Loaded)
        return copyOut(fallback, lpReturnedString, nSize);

    const Text text(contents.constData(), static_cast<std::size_t>(contents.size()));
    const Location at = locate(text, trim(lpAppName), trim(lpKeyName));
    return copyOut(at.keyFound ? unquote(at.value) : fallback, lpReturnedString, nSize);
}

extern "C" BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                           LPCSTR lpFileName) {
    if (!lpAppName || !lpFileName || !*lpFileName)
        return 0;
    const Text section = trim(lpAppName);
    if (!writableSection(section))
        return 0;
    std::optional<Text> key;
    std::optional<Text> value;
    if (lpKeyName) {
        key = trim(lpKeyName);
        if (!writableKey(*key))
            return 0;
        if (lpString) {
            value = trimLeft(lpString);
            if (hasLineBreak(*value))
                return 0;
        }
    }

    const QString path = filePath(lpFileName);
    QByteArray contents;
    // A file that exists but cannot be read cannot be edited without losing what it holds.
    if (loadFile(path, contents) == LoadResult::Failed)
        return 0;
    const Text text(contents.constData(), static_cast<std::size_t>(contents.size()));
    const std::optional<QByteArray> edited = edit(text, section, key, value);
    if (!edited)
        return 1;
    return replaceFile(path, *edited) ? 1 : 0;
}
