#include "ReceivedMessages.h"

#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"

namespace {

const char kSelect[] = "SELECT m.id AS id, s.resultID AS resultID, %1 AS receivedAt, m.MachineID AS MachineID, "
                       "a.AnalyseName AS AnalyseName, m.protocol AS protocol, m.controlId AS controlId, "
                       "m.content AS content FROM RECEIVED_SETS s JOIN RECEIVED_MESSAGES m ON m.id = s.messageID "
                       "JOIN RESULTS r ON r.ID = s.resultID LEFT JOIN ANALYSERS a ON a.MachineID = m.MachineID "
                       "WHERE %2 ORDER BY m.receivedAt DESC, m.id DESC";

} // namespace

bool ReceivedMessages::available() {
    if (m_available < 0 && m_database) {
        m_error.clear();
        const int messages = tableExists(m_database, QStringLiteral("RECEIVED_MESSAGES"), &m_error);
        const int sets = messages == 1 ? tableExists(m_database, QStringLiteral("RECEIVED_SETS"), &m_error) : messages;
        m_available = sets;
        if (m_available < 0)
            return false;
    }
    return m_available == 1;
}

bool ReceivedMessages::forRequest(const QString& requestId, std::vector<ReceivedMessage>* list) {
    return read(QStringLiteral("r.RequestID = ?"), requestId, list);
}

bool ReceivedMessages::forRecord(qint64 resultId, std::vector<ReceivedMessage>* list) {
    return read(QStringLiteral("s.resultID = ?"), resultId, list);
}

bool ReceivedMessages::read(const QString& condition, const QVariant& value, std::vector<ReceivedMessage>* list) {
    list->clear();
    m_error.clear();
    if (!available())
        return m_error.isEmpty();
    Recordset rows;
    const QString sql =
        QString::fromLatin1(kSelect).arg(m_database->dialect().dateTimeText(QStringLiteral("m.receivedAt")), condition);
    if (!rows.open(sql, m_database, {value})) {
        m_error = rows.errorText();
        return false;
    }
    QVariant v;
    while (!rows.isEOF()) {
        ReceivedMessage m;
        rows.getFieldValue(QStringLiteral("id"), &v);
        m.id = v.toLongLong();
        rows.getFieldValue(QStringLiteral("resultID"), &v);
        m.resultId = v.toLongLong();
        rows.getFieldValue(QStringLiteral("receivedAt"), &v);
        m.receivedAt = v.toString();
        rows.getFieldValue(QStringLiteral("MachineID"), &v);
        m.machineId = v.toInt();
        rows.getFieldValue(QStringLiteral("AnalyseName"), &v);
        m.analyserName = v.toString();
        rows.getFieldValue(QStringLiteral("protocol"), &v);
        m.protocol = v.toString();
        rows.getFieldValue(QStringLiteral("controlId"), &v);
        m.controlId = v.toString();
        rows.getFieldValue(QStringLiteral("content"), &v);
        m.content = v.toString();
        list->push_back(std::move(m));
        rows.moveNext();
    }
    if (rows.readFailed()) {
        m_error = rows.errorText();
        list->clear();
        return false;
    }
    return true;
}

QString ReceivedMessages::displayText(const QString& content) {
    QString text = content;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text.trimmed();
}
