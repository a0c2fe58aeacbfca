#include "CriticalNotifications.h"

#include <QSet>

#include "BulletinValidation.h"
#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"
#include "SqlDialect.h"

namespace {

constexpr const char* kInsert =
    "INSERT INTO CRITICAL_NOTIFICATIONS (RequestID, resultIDs, toldName, toldContact, toldAt, recordedAt, userName, "
    "workstation) VALUES (?, ?, ?, ?, %1, %1, ?, ?)";

// %1 and %2 read the two times as text, %3 the condition.
constexpr const char* kSelect =
    "SELECT id, RequestID, resultIDs, toldName, toldContact, %1 AS toldAt, %2 AS recordedAt, userName, workstation "
    "FROM CRITICAL_NOTIFICATIONS WHERE %3 ORDER BY toldAt DESC, id DESC";

QList<qint64> idsFromText(const QString& text) {
    QList<qint64> ids;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const qint64 id = part.trimmed().toLongLong(&ok);
        if (ok)
            ids << id;
    }
    return ids;
}

} // namespace

CriticalNotifications::CriticalNotifications(DatabaseConnection* database) : m_database(database) {}

bool CriticalNotifications::available() {
    if (m_available < 0 && m_database) {
        m_error.clear();
        m_available = tableExists(m_database, QStringLiteral("CRITICAL_NOTIFICATIONS"), &m_error);
    }
    return m_available == 1;
}

bool CriticalNotifications::record(const CriticalNotification& told) {
    m_error.clear();
    if (!available()) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("baza de date nu are tabela anuntarilor (se adauga cu labrosa-dbtool --upgrade)");
        return false;
    }
    const QString insert = QString::fromLatin1(kInsert).arg(m_database->dialect().dateParameter());
    if (!m_database->execute(insert, {told.requestId, BulletinValidation::idsText(told.resultIds), told.name,
                                      told.contact, CorrectionJournal::timeText(told.toldAt),
                                      CorrectionJournal::timeText(CorrectionJournal::now()),
                                      CorrectionJournal::currentUser(), CorrectionJournal::workstation()})) {
        m_error = m_database->errorText();
        return false;
    }
    return true;
}

bool CriticalNotifications::forRequest(const QString& requestId, std::vector<CriticalNotification>* list) {
    list->clear();
    m_error.clear();
    if (!available())
        return m_error.isEmpty();
    const SqlDialect dialect = m_database->dialect();
    const QString sql = QString::fromLatin1(kSelect).arg(dialect.dateTimeText(QStringLiteral("toldAt")),
                                                         dialect.dateTimeText(QStringLiteral("recordedAt")),
                                                         QStringLiteral("RequestID = ?"));
    Recordset read;
    if (!read.open(sql, m_database, {requestId})) {
        m_error = read.errorText();
        return false;
    }
    QVariant v;
    while (!read.isEOF()) {
        CriticalNotification told;
        read.getFieldValue(QStringLiteral("id"), &v);
        told.id = v.toLongLong();
        read.getFieldValue(QStringLiteral("RequestID"), &v);
        told.requestId = v.toString();
        read.getFieldValue(QStringLiteral("resultIDs"), &v);
        told.resultIds = idsFromText(v.toString());
        read.getFieldValue(QStringLiteral("toldName"), &v);
        told.name = v.toString();
        read.getFieldValue(QStringLiteral("toldContact"), &v);
        told.contact = v.toString();
        read.getFieldValue(QStringLiteral("toldAt"), &v);
        told.toldAt = CorrectionJournal::timeFromValue(v);
        read.getFieldValue(QStringLiteral("recordedAt"), &v);
        told.recordedAt = CorrectionJournal::timeFromValue(v);
        read.getFieldValue(QStringLiteral("userName"), &v);
        told.userName = v.toString();
        read.getFieldValue(QStringLiteral("workstation"), &v);
        told.workstation = v.toString();
        list->push_back(std::move(told));
        read.moveNext();
    }
    if (read.readFailed()) {
        m_error = read.errorText();
        list->clear();
        return false;
    }
    return true;
}

bool CriticalNotifications::unannounced(const std::vector<CriticalValue>& critical, std::vector<CriticalValue>* left) {
    left->clear();
    m_error.clear();
    // Without the table nothing was ever recorded: every critical value is unannounced.
    const bool recorded = available();
    if (!m_error.isEmpty())
        return false;
    QHash<QString, QSet<qint64>> toldSets; // request -> sets some record names
    for (const CriticalValue& value : critical) {
        if (recorded && !toldSets.contains(value.requestId)) {
            std::vector<CriticalNotification> list;
            if (!forRequest(value.requestId, &list))
                return false;
            QSet<qint64>& sets = toldSets[value.requestId];
            for (const CriticalNotification& told : list)
                for (qint64 id : told.resultIds)
                    sets.insert(id);
        }
        if (!toldSets.value(value.requestId).contains(value.resultId))
            left->push_back(value);
    }
    return true;
}

QString CriticalNotifications::describe(const CriticalNotification& told) {
    return QStringLiteral("Anuntat %1 (%2) la %3, inregistrat de %4 (%5) la %6")
        .arg(told.name, told.contact, told.toldAt.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")),
             told.userName, told.workstation,
             told.recordedAt.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")));
}
