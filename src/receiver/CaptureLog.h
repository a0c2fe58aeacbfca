#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The raw capture of a connection: every chunk of bytes as it was received ('<') or sent
// ('>'), one line each, "time direction hexadecimal bytes", appended before the bytes are
// looked at. Nothing in it is ever rewritten; it replays what the analyser said, byte for byte.
class CaptureLog {
public:
    explicit CaptureLog(const QString& fileName) : m_file(fileName) {}

    bool open(QString* error);
    // False when the chunk could not be written whole; the reason in error().
    bool append(char direction, const QByteArray& bytes);
    QString error() const { return m_error; }
    QString fileName() const { return m_file.fileName(); }

    // The chunks of a capture file in one direction, joined, for a test or a replay.
    static QByteArray read(const QString& fileName, char direction, QString* error);

private:
    QFile m_file;
    QString m_error;
};
