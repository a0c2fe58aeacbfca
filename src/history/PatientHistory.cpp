#include "PatientHistory.h"

#include "DatabaseConnection.h"
#include "Recordset.h"
#include "SqlDialect.h"
#include "StoredDateTime.h"

#include <algorithm>
#include <set>
#include <tuple>

namespace {

// The folded name without blanks as plain SQL, so that an index on it (made by
// labrosa-dbtool) serves this query and other programs can still write RESULTS. It only picks
// the candidates; the exact rule is checked in patientNameKey. SQLite's lower() changes
// ASCII letters only, so the key keeps the case of other capitals (É, Ö, ß): two spellings of
// a name that differ only in such a capital are not found as one patient. The same expression
// must stand in schema/sqlite.sql and schema/postgresql.sql, or the index is not used.
QString nameKeyExpression(const SqlDialect& dialect, const QString& operand) {
    if (dialect.kind() == SqlDialect::Kind::PostgreSQL)
        return QStringLiteral("translate(lower(%1), '\u0103\u00e2\u00ee\u0219\u015f\u021b\u0163 ', 'aaisstt')")
            .arg(operand);
    QString key = QStringLiteral("lower(%1)").arg(operand);
    static const char* const kPairs[][2] = {{"\u0103", "a"}, {"\u0102", "a"}, {"\u00e2", "a"}, {"\u00c2", "a"},
                                            {"\u00ee", "i"}, {"\u00ce", "i"}, {"\u0219", "s"}, {"\u0218", "s"},
                                            {"\u015f", "s"}, {"\u015e", "s"}, {"\u021b", "t"}, {"\u021a", "t"},
                                            {"\u0163", "t"}, {"\u0162", "t"}, {"\u017f", "s"}, {"\u212a", "k"}};
    for (const auto& pair : kPairs)
        key = QStringLiteral("replace(%1, '%2', '%3')").arg(key, QString::fromUtf8(pair[0]), QLatin1String(pair[1]));
    return QStringLiteral("replace(%1, ' ', '')").arg(key);
}

QDateTime storedDate(const QVariant& value) {
    QDate day;
    QTime time;
    if (value.isNull() || !parseStoredDateTime(value.toString(), &day, &time))
        return QDateTime();
    return QDateTime(day, time);
}

// Newest first: the transfer date, then the ID. A date that cannot be read counts as oldest.
bool newerThan(const QDateTime& dateA, qint64 idA, const QDateTime& dateB, qint64 idB) {
    if (dateA != dateB) {
        if (!dateB.isValid())
            return dateA.isValid();
        if (!dateA.isValid())
            return false;
        return dateA > dateB;
    }
    return idA > idB;
}

bool sexMatches(const QString& own, const QString& other) {
    const QString a = own.trimmed();
    const QString b = other.trimmed();
    return a.isEmpty() || b.isEmpty() || a.compare(b, Qt::CaseInsensitive) == 0;
}

QString placeholders(qsizetype count) {
    QStringList marks;
    for (qsizetype i = 0; i < count; ++i)
        marks << QStringLiteral("?");
    return marks.join(QLatin1String(", "));
}

QString text(Recordset& rs, int index) {
    QVariant value;
    rs.getFieldValueAt(index, &value);
    return value.isNull() ? QString() : value.toString();
}

} // namespace

PatientHistory::PatientHistory(DatabaseConnection* database) : m_database(database) {}

QString PatientHistory::samePatientQuery(const SqlDialect& dialect, bool profileKnown) {
    return QStringLiteral("SELECT ID, PacientName, SEX, %1 AS TransDate, RequestID FROM RESULTS WHERE %2 = %3 AND %4")
        .arg(dialect.dateTimeText(QStringLiteral("TransDate")),
             nameKeyExpression(dialect, QStringLiteral("PacientName")), nameKeyExpression(dialect, QStringLiteral("?")),
             profileKnown ? QStringLiteral("profileID = ?") : QStringLiteral("profileID IS NULL"));
}

QString PatientHistory::patientNameKey(const QString& name) {
    static const QString marked = QString::fromUtf8(kMarkedLetters);
    QString folded = name.toCaseFolded();
    for (QChar& c : folded) {
        const qsizetype at = c.unicode() < 0x80 ? -1 : marked.indexOf(c);
        if (at >= 0)
            c = QLatin1Char(kPlainLetters[at]);
    }
    return folded.simplified();
}

bool PatientHistory::readSet(qint64 resultId, SetRow* row) {
    const QString sql =
        QStringLiteral("SELECT ID, PacientName, SEX, profileID, %1 AS TransDate, RequestID FROM RESULTS "
                       "WHERE ID = ?")
            .arg(m_database->dialect().dateTimeText(QStringLiteral("TransDate")));
    Recordset rs;
    if (!rs.open(sql, m_database, {resultId})) {
        m_error = rs.errorText();
        return false;
    }
    if (rs.isEOF()) {
        m_error = QStringLiteral("Setul de rezultate %1 nu mai exista in baza de date.").arg(resultId);
        return false;
    }
    QVariant value;
    row->id = resultId;
    row->name = text(rs, 1);
    row->sex = text(rs, 2);
    rs.getFieldValueAt(3, &row->profileId);
    rs.getFieldValueAt(4, &value);
    row->date = storedDate(value);
    row->requestId = text(rs, 5);
    return true;
}

bool PatientHistory::patientSets(const SetRow& own, std::vector<SetRow>* sets) {
    sets->clear();
    const QString key = patientNameKey(own.name);
    if (key.isEmpty()) {
        // A set without a name is nobody's but its own.
        sets->push_back(own);
        return true;
    }
    QVariantList values{own.name};
    if (!own.profileId.isNull())
        values << own.profileId;
    const QString sql = samePatientQuery(m_database->dialect(), !own.profileId.isNull());
    Recordset rs;
    if (!rs.open(sql, m_database, values)) {
        m_error = rs.errorText();
        return false;
    }
    bool ownSeen = false;
    while (!rs.isEOF()) {
        SetRow row;
        QVariant value;
        rs.getFieldValueAt(0, &value);
        row.id = value.toLongLong();
        row.name = text(rs, 1);
        row.sex = text(rs, 2);
        row.profileId = own.profileId;
        rs.getFieldValueAt(3, &value);
        row.date = storedDate(value);
        row.requestId = text(rs, 4);
        if (row.id == own.id) {
            ownSeen = true;
            sets->push_back(own);
        } else if (sexMatches(own.sex, row.sex) && patientNameKey(row.name) == key &&
                   newerThan(own.date, own.id, row.date, row.id)) {
            sets->push_back(std::move(row));
        }
        if (!rs.moveNext())
            break;
    }
    if (rs.readFailed()) {
        m_error = rs.errorText();
        return false;
    }
    rs.close();
    if (!ownSeen)
        sets->push_back(own);
    std::sort(sets->begin(), sets->end(),
              [](const SetRow& a, const SetRow& b) { return newerThan(a.date, a.id, b.date, b.id); });
    return true;
}

bool PatientHistory::readValues(const QList<qint64>& ids, std::map<qint64, std::vector<HistoryValue>>* values) {
    if (ids.isEmpty())
        return true;
    QVariantList bound;
    for (qint64 id : ids)
        bound << id;
    const QString sql = QStringLiteral("SELECT results_id, MachineID, refcode, stringvalue, AnalyseName, refName, um, "
                                       "\"order\", minValue, maxValue FROM vResults2_vet WHERE results_id IN (%1)")
                            .arg(placeholders(ids.size()));
    Recordset rs;
    if (!rs.open(sql, m_database, bound)) {
        m_error = rs.errorText();
        return false;
    }
    while (!rs.isEOF()) {
        HistoryValue v;
        QVariant cell;
        rs.getFieldValueAt(0, &cell);
        const qint64 id = cell.toLongLong();
        rs.getFieldValueAt(1, &cell);
        v.machineId = cell.toInt();
        v.refcode = text(rs, 2);
        v.value = text(rs, 3);
        v.analyseName = text(rs, 4);
        v.refName = text(rs, 5);
        v.unit = text(rs, 6);
        rs.getFieldValueAt(7, &cell);
        v.order = cell.toInt();
        v.lowerBound = text(rs, 8);
        v.upperBound = text(rs, 9);
        (*values)[id].push_back(std::move(v));
        if (!rs.moveNext())
            break;
    }
    if (rs.readFailed()) {
        m_error = rs.errorText();
        return false;
    }
    rs.close();
    return true;
}

std::vector<HistorySet> PatientHistory::setsOf(qint64 resultId, int maxSets) {
    m_error.clear();
    std::vector<HistorySet> result;
    SetRow own;
    std::vector<SetRow> sets;
    if (!m_database || !readSet(resultId, &own) || !patientSets(own, &sets))
        return result;
    if (maxSets > 0 && int(sets.size()) > maxSets)
        sets.resize(size_t(maxSets));
    QList<qint64> ids;
    for (const SetRow& row : sets)
        ids << row.id;
    std::map<qint64, std::vector<HistoryValue>> values;
    if (!readValues(ids, &values))
        return result;
    for (SetRow& row : sets) {
        HistorySet set;
        set.resultId = row.id;
        set.requestId = row.requestId;
        set.transferDate = row.date;
        set.values = std::move(values[row.id]);
        std::sort(set.values.begin(), set.values.end(), [](const HistoryValue& a, const HistoryValue& b) {
            return std::tie(a.machineId, a.order, a.refcode) < std::tie(b.machineId, b.order, b.refcode);
        });
        result.push_back(std::move(set));
    }
    return result;
}

bool PatientHistory::previousValues(const QList<qint64>& resultIds,
                                    std::map<std::pair<int, QString>, PreviousValue>* previous) {
    m_error.clear();
    previous->clear();
    if (!m_database || resultIds.isEmpty())
        return m_database != nullptr;
    // The request's newest set decides which sets are earlier.
    SetRow newest;
    for (qint64 id : resultIds) {
        SetRow row;
        if (!readSet(id, &row))
            return false;
        if (newest.id == 0 || newerThan(row.date, row.id, newest.date, newest.id))
            newest = row;
    }
    std::vector<SetRow> sets;
    if (!patientSets(newest, &sets))
        return false;
    std::map<qint64, std::vector<HistoryValue>> own;
    if (!readValues(resultIds, &own))
        return false;
    std::set<std::pair<int, QString>> wanted;
    for (const auto& entry : own)
        for (const HistoryValue& v : entry.second)
            wanted.insert({v.machineId, v.refcode});
    std::vector<const SetRow*> earlier;
    for (const SetRow& row : sets)
        if (!resultIds.contains(row.id))
            earlier.push_back(&row);
    // Newest first, a few sets at a time, until every parameter has its value.
    constexpr size_t kBatch = 20;
    for (size_t start = 0; start < earlier.size() && !wanted.empty(); start += kBatch) {
        QList<qint64> ids;
        for (size_t i = start; i < std::min(earlier.size(), start + kBatch); ++i)
            ids << earlier[i]->id;
        std::map<qint64, std::vector<HistoryValue>> values;
        if (!readValues(ids, &values))
            return false;
        for (size_t i = start; i < std::min(earlier.size(), start + kBatch); ++i) {
            for (const HistoryValue& v : values[earlier[i]->id]) {
                const auto parameter = std::make_pair(v.machineId, v.refcode);
                if (wanted.erase(parameter) == 0)
                    continue;
                (*previous)[parameter] = PreviousValue{earlier[i]->id, earlier[i]->date, v.value};
            }
        }
    }
    return true;
}
