#include "LabHeaderFile.h"

#include <QFile>

#include "TextUtils.h"

namespace {

constexpr int kLineMax = 1023;  // a line buffer of 1024 bytes
constexpr int kTokenMax = 1024; // the token reader's limit within a line
constexpr int kKeyMax = 254;    // key holds 255 bytes with its terminator
constexpr int kValueMax = 1023; // value holds 1024 bytes with its terminator

// Windows-1252 differs from Latin-1 only in 0x80-0x9F; its five unassigned bytes keep
// their Latin-1 (control) meaning.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void appendUtf8(std::string& out, char16_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        int extra;
        unsigned int code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string windows1252ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c <= 0x9F)
            appendUtf8(out, kWindows1252High[c - 0x80]);
        else
            appendUtf8(out, c);
    }
    return out;
}

// Editors on Windows like to start a UTF-8 file with a byte-order mark; it is not part of
// the first key.
std::string withoutByteOrderMark(const std::string& bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return bytes.substr(3);
    return bytes;
}

// A key or value as read from the file, cut to maxChars of the file's own characters (bytes;
// a UTF-8 letter is never split) and given in UTF-8.
std::string fileText(std::string text, int maxChars, bool utf8) {
    if (utf8) {
        cutUtf8(text, maxChars);
        return text;
    }
    if (static_cast<int>(text.size()) > maxChars)
        text.resize(maxChars);
    return windows1252ToUtf8(text);
}

} // namespace

std::string settingsTextToUtf8(const std::string& bytes) {
    if (isValidUtf8(bytes))
        return withoutByteOrderMark(bytes);
    return windows1252ToUtf8(bytes);
}

std::string windows1252BytesToUtf8(const std::string& bytes) {
    return windows1252ToUtf8(bytes);
}

bool textToWindows1252(const QString& text, std::string* bytes, QChar* bad) {
    bytes->clear();
    for (const QChar ch : text) {
        const char16_t code = ch.unicode();
        char16_t byte = code < 0x80 || (code >= 0xA0 && code <= 0xFF) ? code : 0;
        for (int i = 0; i < 32 && byte == 0; ++i)
            if (kWindows1252High[i] == code)
                byte = static_cast<char16_t>(0x80 + i);
        if (byte == 0 && code != 0) {
            *bad = ch;
            return false;
        }
        *bytes += static_cast<char>(byte);
    }
    return true;
}

LabHeaderFile::~LabHeaderFile() {
    while (m_head) {
        LabHeaderEntry* next = m_head->next;
        delete m_head;
        m_head = next;
    }
}

bool LabHeaderFile::load(const QString& fileName) {
    if (fileSizeOf(QFile::encodeName(fileName).toStdString()) == -1)
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const std::string raw = file.readAll().toStdString();
    file.close();
    // Lines and tokens are cut out of the file's own bytes, so that the limits count the
    // characters the laboratory typed: a Windows-1252 letter is one of them, though it takes
    // two or three bytes once in UTF-8. The delimiters are ASCII in both encodings.
    const bool utf8 = isValidUtf8(raw);
    const std::string text = utf8 ? withoutByteOrderMark(raw) : raw;

    LabHeaderEntry* last = m_head;
    while (last && last->next)
        last = last->next;

    int position = 0;
    std::string line;
    // A line too long for the line buffer ends the reading; what came before it is kept.
    while (readLine(text, position, line, kLineMax)) {
        if (line.empty())
            continue;
        auto* entry = new LabHeaderEntry;
        int linePos = 0;
        std::string token;
        nextToken(line, linePos, token, kTokenMax, '=');
        entry->key = fileText(token, kKeyMax, utf8);
        nextToken(line, linePos, token, kTokenMax, '=');
        entry->value = fileText(token, kValueMax, utf8);
        if (last)
            last->next = entry;
        else
            m_head = entry;
        last = entry;
    }
    return true;
}

bool LabHeaderFile::getValue(std::string& out, const std::string& name) const {
    out.clear();
    std::string wanted = name;
    cutUtf8(wanted, kValueMax);
    makeUpper(wanted);
    for (const LabHeaderEntry* entry = m_head; entry; entry = entry->next) {
        std::string key = entry->key;
        makeUpper(key);
        if (key == wanted) {
            out = entry->value;
            return true;
        }
    }
    return false;
}

bool LabHeaderFile::getValue(QString& out, const QString& name) const {
    std::string value;
    const bool found = getValue(value, name.toStdString());
    out = QString::fromStdString(value);
    return found;
}
