#include "CaptureLog.h"

#include <QDateTime>

bool CaptureLog::open(QString* error) {
    // Unbuffered: a line is with the system once append() returns, so a killed receiver
    // loses none of what it had taken.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *error =
            QStringLiteral("jurnalul brut %1 nu se poate deschide: %2").arg(m_file.fileName(), m_file.errorString());
        return false;
    }
    return true;
}

bool CaptureLog::append(char direction, const QByteArray& bytes) {
    QByteArray line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    line += ' ';
    line += direction;
    line += ' ';
    line += bytes.toHex();
    line += '\n';
    if (m_file.write(line) != line.size()) {
        m_error = QStringLiteral("jurnalul brut %1 nu se poate scrie: %2").arg(m_file.fileName(), m_file.errorString());
        return false;
    }
    return true;
}

QByteArray CaptureLog::read(const QString& fileName, char direction, QString* error) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return QByteArray();
    }
    QByteArray out;
    while (!file.atEnd()) {
        const QList<QByteArray> parts = file.readLine().trimmed().split(' ');
        if (parts.size() == 3 && parts.at(1).size() == 1 && parts.at(1).at(0) == direction)
            out += QByteArray::fromHex(parts.at(2));
    }
    return out;
}
