#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The laboratory header of Labrosa.ini as a person edits it: the values the bulletin reads,
// checked against what the bulletin's reader can take back unchanged, and written in the
// file's own encoding (Windows-1252, or UTF-8 when the file already is) with CRLF line ends.
// Every other line of the file (comments, keys of other programs) is kept as it was.
class LabSettingsFile {
public:
    // The keys of the header, in the order the bulletin prints them.
    static QStringList headerKeys();

    // Reads the file; a missing file is an empty one. False with the reason when it exists
    // but cannot be read.
    bool load(const QString& path, QString* error);
    // A key's value as the bulletin reads it (empty when the file has none): a header key's,
    // and any other key's (ValoriAnterioare), as setValue last left it.
    QString value(const QString& key) const;
    // Empty when value can be written for key and read back by the bulletin unchanged;
    // otherwise what is wrong, for a person (the limit named, the character shown).
    QString problem(const QString& key, const QString& value) const;
    // Replaces the first line of key (the one the bulletin reads), or adds one at the end.
    // False with the reason when value cannot be written (see problem()).
    bool setValue(const QString& key, const QString& value, QString* error);
    // The file's new content.
    QByteArray bytes() const;
    // Writes the file whole, or leaves it as it was; false with the reason.
    bool save(const QString& path, QString* error) const;

private:
    int lineOf(const QString& key) const;
    // The value of a line as the bulletin's reader takes it (empty for -1).
    QString valueOnLine(int line) const;
    QByteArray keyTextOf(int line) const;
    bool encode(const QString& text, QByteArray* bytes, QChar* bad) const;

    QList<QByteArray> m_lines; // the file's lines, without their line ends
    bool m_utf8 = false;       // the file has letters beyond ASCII written in UTF-8
    bool m_byteOrderMark = false;
    QStringList m_values; // per header key, as the bulletin reads it
};
