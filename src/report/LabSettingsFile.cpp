#include "LabSettingsFile.h"

#include "LabHeaderFile.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryFile>

#include <string>

namespace {
const char* const kHeaderKeys[] = {"NumeLaborator", "Adresa", "Telefon", "Altele"};
// The reader's limits, in characters (bytes) of the file: a line of 1023 and a key of 254.
constexpr int kLineMax = 1023;
constexpr int kKeyMax = 254;

const char* const kMsgTooLong = "%1 are %2 caractere in fisier; buletinul citeste cel mult %3. Scurtati textul.";
const char* const kMsgNotWindows1252 =
    "%1 contine caracterul \"%2\", care nu are loc in Labrosa.ini (fisier Windows-1252). Scrieti-l ca &#%3; "
    "(antetul buletinului este HTML).";
const char* const kMsgEquals =
    "%1 contine semnul \"=\", la care buletinul taie valoarea. Scrieti-l ca &#61; (antetul buletinului este HTML).";
const char* const kMsgControl = "%1 contine un caracter de control sau un sfarsit de rand; antetul are un singur rand "
                                "pentru fiecare camp (pentru rand nou scrieti <br>).";
const char* const kMsgReadBack = "%1 nu ar fi citit de buletin asa cum a fost scris; fisierul nu a fost schimbat.";
const char* const kMsgCannotRead = "Fisierul %1 nu poate fi citit: %2";
const char* const kMsgCannotWrite = "Fisierul %1 nu a putut fi scris: %2. Fisierul a ramas cum era.";

QByteArray upperAscii(QByteArray text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool isValidUtf8(const QByteArray& bytes) {
    return settingsTextToUtf8(bytes.toStdString()) == bytes.toStdString() ||
           (bytes.startsWith("\xEF\xBB\xBF") && settingsTextToUtf8(bytes.toStdString()) == bytes.mid(3).toStdString());
}
} // namespace

QStringList LabSettingsFile::headerKeys() {
    QStringList keys;
    for (const char* key : kHeaderKeys)
        keys << QLatin1String(key);
    return keys;
}

bool LabSettingsFile::load(const QString& path, QString* error) {
    m_lines.clear();
    m_values.clear();
    m_utf8 = false;
    m_byteOrderMark = false;
    QFile file(path);
    QByteArray content;
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QString::fromLatin1(kMsgCannotRead).arg(path, file.errorString());
            return false;
        }
        content = file.readAll();
    }
    bool ascii = true;
    for (const char c : content)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    m_utf8 = !ascii && isValidUtf8(content);
    m_byteOrderMark = m_utf8 && content.startsWith("\xEF\xBB\xBF");
    if (m_byteOrderMark)
        content.remove(0, 3);
    // Lines end in CR LF; a lone CR or LF (a file edited elsewhere) ends one as well.
    QByteArray line;
    for (int i = 0; i < content.size(); ++i) {
        const char c = content.at(i);
        if (c == '\r' || c == '\n') {
            m_lines << line;
            line.clear();
            if (c == '\r' && i + 1 < content.size() && content.at(i + 1) == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    if (!line.isEmpty())
        m_lines << line;

    // Each value as the bulletin's reader takes it from its line: after the key's '=', leading
    // blanks skipped, up to a further '='. Read from the lines themselves, so that a file with
    // other line ends (which the bulletin reads as one line) shows, and keeps, what it says.
    for (const QString& key : headerKeys())
        m_values << valueOnLine(lineOf(key));
    return true;
}

QString LabSettingsFile::value(const QString& key) const {
    const int index = headerKeys().indexOf(key);
    // Any other key (ValoriAnterioare, say) as the file holds it now.
    return index < 0 ? valueOnLine(lineOf(key)) : m_values.value(index);
}

QString LabSettingsFile::valueOnLine(int line) const {
    QByteArray text;
    if (line >= 0) {
        const QByteArray& whole = m_lines.at(line);
        const int equals = whole.indexOf('=');
        if (equals >= 0) {
            int start = equals + 1;
            while (start < whole.size() && whole.at(start) == ' ')
                ++start;
            const int end = whole.indexOf('=', start);
            text = whole.mid(start, (end < 0 ? whole.size() : end) - start).left(kLineMax);
        }
    }
    return m_utf8 ? QString::fromUtf8(text) : QString::fromStdString(windows1252BytesToUtf8(text.toStdString()));
}

int LabSettingsFile::lineOf(const QString& key) const {
    const QByteArray wanted = upperAscii(key.toLatin1());
    for (int i = 0; i < m_lines.size(); ++i)
        if (upperAscii(keyTextOf(i)) == wanted)
            return i;
    return -1;
}

QByteArray LabSettingsFile::keyTextOf(int line) const {
    // As the reader takes it: leading blanks skipped, up to the first '='.
    QByteArray text = m_lines.at(line);
    int start = 0;
    while (start < text.size() && text.at(start) == ' ')
        ++start;
    const int end = text.indexOf('=', start);
    return text.mid(start, (end < 0 ? text.size() : end) - start).left(kKeyMax);
}

bool LabSettingsFile::encode(const QString& text, QByteArray* bytes, QChar* bad) const {
    if (m_utf8) {
        *bytes = text.toUtf8();
        return true;
    }
    std::string encoded;
    if (!textToWindows1252(text, &encoded, bad))
        return false;
    *bytes = QByteArray::fromStdString(encoded);
    return true;
}

QString LabSettingsFile::problem(const QString& key, const QString& value) const {
    for (const QChar ch : value)
        if (ch.unicode() < 0x20 || (ch.unicode() >= 0x7F && ch.unicode() < 0xA0))
            return QString::fromLatin1(kMsgControl).arg(key);
    if (value.contains(QLatin1Char('=')))
        return QString::fromLatin1(kMsgEquals).arg(key);
    QByteArray bytes;
    QChar bad;
    if (!encode(value, &bytes, &bad))
        return QString::fromLatin1(kMsgNotWindows1252).arg(key, QString(bad)).arg(bad.unicode());
    const int line = lineOf(key);
    const int keyLength = line < 0                            ? key.size()
                          : m_lines.at(line).indexOf('=') < 0 ? m_lines.at(line).size()
                                                              : m_lines.at(line).indexOf('=');
    const int limit = kLineMax - keyLength - 1;
    if (bytes.size() > limit)
        return QString::fromLatin1(kMsgTooLong).arg(key).arg(bytes.size()).arg(limit);
    return QString();
}

bool LabSettingsFile::setValue(const QString& key, const QString& value, QString* error) {
    *error = problem(key, value);
    if (!error->isEmpty())
        return false;
    QByteArray bytes;
    QChar bad;
    encode(value, &bytes, &bad);
    const int line = lineOf(key);
    if (line < 0) {
        m_lines << key.toLatin1() + '=' + bytes;
    } else {
        const QByteArray& old = m_lines.at(line);
        const int equals = old.indexOf('=');
        m_lines[line] = (equals < 0 ? old : old.left(equals)) + '=' + bytes;
    }
    const int index = headerKeys().indexOf(key);
    if (index >= 0)
        m_values[index] = value;
    return true;
}

QByteArray LabSettingsFile::bytes() const {
    QByteArray content = m_byteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    for (const QByteArray& line : m_lines)
        content += line + "\r\n";
    return content;
}

bool LabSettingsFile::save(const QString& path, QString* error) const {
    const QByteArray content = bytes();
    // The bulletin's reader has the last word: what it would not read back as set is not written.
    {
        QTemporaryFile check;
        if (!check.open() || check.write(content) != content.size() || !check.flush()) {
            *error = QString::fromLatin1(kMsgCannotWrite).arg(path, check.errorString());
            return false;
        }
        LabHeaderFile ini;
        if (!ini.load(check.fileName())) {
            *error = QString::fromLatin1(kMsgCannotWrite).arg(path, check.errorString());
            return false;
        }
        const QStringList keys = headerKeys();
        for (int i = 0; i < keys.size(); ++i) {
            QString read;
            ini.getValue(read, keys.at(i));
            if (read != m_values.value(i)) {
                *error = QString::fromLatin1(kMsgReadBack).arg(keys.at(i));
                return false;
            }
        }
    }
    QSaveFile file(path);
    // A flush before the commit: the commit does not report a failed final flush of its own.
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.flush() || !file.commit()) {
        *error = QString::fromLatin1(kMsgCannotWrite).arg(path, file.errorString());
        return false;
    }
    return true;
}
