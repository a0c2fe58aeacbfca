#include "CriticalLimits.h"

#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"

namespace {

// Each value with the limits of its set's profile, code and sex; the sex-specific row wins.
constexpr const char* kValuesWithLimits =
    "SELECT v.resultID AS resultID, r.RequestID AS RequestID, v.MachineID AS MachineID, v.refcode AS refcode, "
    "v.stringvalue AS stringvalue, c.criticalLow AS criticalLow, c.criticalHigh AS criticalHigh "
    "FROM RESULT_VALUES v JOIN RESULTS r ON r.ID = v.resultID "
    "JOIN CRITICAL_VALUES c ON c.id = ("
    "SELECT c2.id FROM CRITICAL_VALUES c2 WHERE c2.profileID = r.profileID AND c2.refcode = v.refcode "
    "AND (c2.sex = r.SEX OR c2.sex IS NULL) "
    "ORDER BY CASE WHEN c2.sex IS NULL THEN 1 ELSE 0 END, c2.id LIMIT 1) "
    "WHERE v.resultID IN (SELECT ID FROM RESULTS WHERE %1) ORDER BY v.resultID, v.id";

QString textOf(Recordset& read, const char* column) {
    QVariant value;
    read.getFieldValue(QString::fromLatin1(column), &value);
    return value.isNull() ? QString() : value.toString();
}

} // namespace

CriticalLimits::CriticalLimits(DatabaseConnection* database, ValueReading reading)
    : m_database(database), m_reading(std::move(reading)) {}

bool CriticalLimits::anyLimit(bool* any) {
    *any = false;
    m_error.clear();
    if (!m_database)
        return true;
    const int exists = tableExists(m_database, QStringLiteral("CRITICAL_VALUES"), &m_error);
    if (exists < 0)
        return false;
    if (exists == 0)
        return true;
    Recordset read;
    if (!read.open(QStringLiteral("SELECT COUNT(*) AS n FROM CRITICAL_VALUES"), m_database)) {
        m_error = read.errorText();
        return false;
    }
    QVariant count;
    const bool got = !read.isEOF() && read.getFieldValue(QStringLiteral("n"), &count);
    if (!got) {
        m_error = read.errorText();
        return false;
    }
    *any = count.toLongLong() > 0;
    return true;
}

bool CriticalLimits::criticalValuesOf(const QList<qint64>& resultIds, std::vector<CriticalValue>* found) {
    found->clear();
    if (resultIds.isEmpty())
        return true;
    QStringList marks;
    QVariantList values;
    for (qint64 id : resultIds) {
        marks << QStringLiteral("?");
        values << id;
    }
    return criticalValuesWhere(QStringLiteral("ID IN (%1)").arg(marks.join(QLatin1Char(','))), values, found);
}

bool CriticalLimits::criticalValuesWhere(const QString& resultsCondition, const QVariantList& values,
                                         std::vector<CriticalValue>* found) {
    found->clear();
    bool any = false;
    if (!anyLimit(&any))
        return false;
    if (!any)
        return true;
    Recordset read;
    if (!read.open(QString::fromLatin1(kValuesWithLimits).arg(resultsCondition), m_database, values)) {
        m_error = read.errorText();
        return false;
    }
    while (!read.isEOF()) {
        CriticalValue critical;
        const QString stored = textOf(read, "stringvalue");
        critical.value = m_reading.printed ? m_reading.printed(stored) : stored;
        critical.criticalLow = textOf(read, "criticalLow");
        critical.criticalHigh = textOf(read, "criticalHigh");
        const int side = m_reading.compare(critical.value, critical.criticalLow, critical.criticalHigh);
        if (side != 0) {
            critical.side = side < 0 ? CriticalSide::Low : CriticalSide::High;
            critical.resultId = textOf(read, "resultID").toLongLong();
            critical.requestId = textOf(read, "RequestID");
            critical.machineId = textOf(read, "MachineID").toInt();
            critical.refcode = textOf(read, "refcode");
            found->push_back(std::move(critical));
        }
        read.moveNext();
    }
    if (read.readFailed()) {
        m_error = read.errorText();
        found->clear();
        return false;
    }
    return true;
}

QString CriticalLimits::describe(const CriticalValue& value) {
    return value.side == CriticalSide::Low ? QStringLiteral("Valoare critica: %1 = %2, sub limita critica %3")
                                                 .arg(value.refcode, value.value, value.criticalLow)
                                           : QStringLiteral("Valoare critica: %1 = %2, peste limita critica %3")
                                                 .arg(value.refcode, value.value, value.criticalHigh);
}
