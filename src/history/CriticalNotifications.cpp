#include "CriticalNotifications.h"

#include <QHash>

#include <algorithm>

#include "BulletinValidation.h"
#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"
#include "SqlDialect.h"

namespace {

constexpr const char* kInsert =
    "INSERT INTO CRITICAL_NOTIFICATIONS (RequestID, resultIDs, toldName, toldContact, toldAt, recordedAt, userName, "
    "workstation, toldValues) VALUES (?, ?, ?, ?, %1, %1, ?, ?, ?)";

// %1 and %2 read the two times as text, %3 the condition.
constexpr const char* kSelect =
    "SELECT id, RequestID, resultIDs, toldName, toldContact, %1 AS toldAt, %2 AS recordedAt, userName, workstation, "
    "toldValues FROM CRITICAL_NOTIFICATIONS WHERE %3 ORDER BY toldAt DESC, id DESC";

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

QString escaped(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    out.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    out.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return out;
}

QString unescaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar next = text.at(++i);
        out += next == QLatin1Char('t')   ? QChar(QLatin1Char('\t'))
               : next == QLatin1Char('n') ? QChar(QLatin1Char('\n'))
               : next == QLatin1Char('r') ? QChar(QLatin1Char('\r'))
                                          : next;
    }
    return out;
}

bool sameValue(const CriticalValue& a, const CriticalValue& b) {
    return a.resultId == b.resultId && a.machineId == b.machineId && a.refcode == b.refcode && a.value == b.value;
}

} // namespace

CriticalNotifications::CriticalNotifications(DatabaseConnection* database) : m_database(database) {}

bool CriticalNotifications::available() {
    if (m_available < 0 && m_database) {
        m_error.clear();
        m_available = tableExists(m_database, QStringLiteral("CRITICAL_NOTIFICATIONS"), &m_error);
        // A table made before the values told were named cannot tell which are announced.
        if (m_available == 1 && columnExists(m_database, QStringLiteral("CRITICAL_NOTIFICATIONS"),
                                             QStringLiteral("toldValues"), &m_error) != 1) {
            m_available = -1;
            if (m_error.isEmpty())
                m_error = QStringLiteral("Tabela anuntarilor valorilor critice este facuta de o versiune mai veche a "
                                         "programului si nu poate spune ce valori s-au anuntat; aduceti baza de date "
                                         "la zi cu labrosa-dbtool --upgrade (sau Laborator > Adauga jurnalul "
                                         "corecturilor).");
            return false;
        }
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
    if (!m_database->execute(
            insert, {told.requestId, BulletinValidation::idsText(told.resultIds), told.name, told.contact,
                     CorrectionJournal::timeText(told.toldAt), CorrectionJournal::timeText(CorrectionJournal::now()),
                     CorrectionJournal::currentUser(), CorrectionJournal::workstation(), valuesText(told.values)})) {
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
        read.getFieldValue(QStringLiteral("toldValues"), &v);
        told.values = valuesFromText(v.toString());
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
    QHash<QString, std::vector<CriticalValue>> toldValues; // request -> the values its records name
    for (const CriticalValue& value : critical) {
        if (recorded && !toldValues.contains(value.requestId)) {
            std::vector<CriticalNotification> list;
            if (!forRequest(value.requestId, &list)) {
                left->clear();
                return false;
            }
            std::vector<CriticalValue>& named = toldValues[value.requestId];
            for (const CriticalNotification& told : list)
                named.insert(named.end(), told.values.begin(), told.values.end());
        }
        const auto named = toldValues.constFind(value.requestId);
        const bool told = named != toldValues.cend() &&
                          std::any_of(named->begin(), named->end(),
                                      [&value](const CriticalValue& one) { return sameValue(one, value); });
        if (!told)
            left->push_back(value);
    }
    return true;
}

QString CriticalNotifications::valuesText(const std::vector<CriticalValue>& values) {
    QStringList lines;
    for (const CriticalValue& value : values)
        lines << QStringLiteral("%1\t%2\t%3\t%4")
                     .arg(value.resultId)
                     .arg(value.machineId)
                     .arg(escaped(value.refcode), escaped(value.value));
    return lines.join(QLatin1Char('\n'));
}

std::vector<CriticalValue> CriticalNotifications::valuesFromText(const QString& text) {
    std::vector<CriticalValue> values;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        bool setOk = false, machineOk = false;
        CriticalValue value;
        if (fields.size() == 4) {
            value.resultId = fields.at(0).toLongLong(&setOk);
            value.machineId = fields.at(1).toInt(&machineOk);
        }
        // A line that cannot be read names no value, so that value is asked about again.
        if (!setOk || !machineOk)
            continue;
        value.refcode = unescaped(fields.at(2));
        value.value = unescaped(fields.at(3));
        values.push_back(std::move(value));
    }
    return values;
}

QString CriticalNotifications::describe(const CriticalNotification& told) {
    return QStringLiteral("Anuntat %1 (%2) la %3, inregistrat de %4 (%5) la %6")
        .arg(told.name, told.contact, told.toldAt.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")),
             told.userName, told.workstation,
             told.recordedAt.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")));
}
