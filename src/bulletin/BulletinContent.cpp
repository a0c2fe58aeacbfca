#include "BulletinContent.h"

#include "BulletinWriter.h"
#include "CriticalMarker.h"
#include "DatabaseConnection.h"
#include "Recordset.h"
#include "SqlDialect.h"
#include "TextUtils.h"

#include <QDate>

#include <algorithm>
#include <iterator>
#include <map>

namespace {

// Every record of the request transferred that day, together with the clicked record;
// %1 is the dialect's condition for the day, %2 the set date read as text, %3 the analysis
// name in an order that ignores letter case on every backend. A missing analyser name or
// order sorts first on every backend (PostgreSQL would put NULLs last).
constexpr const char* kBulletinQuery =
    "select PacientName, RequestID, AnalyseName, VSH, %2 as procDate, Age, sex, comment, MachineID, "
    "refcode as refCode, minValue, maxValue, refName, stringvalue, um, VET_PROFILES.profileName as profilename, "
    "results_id "
    "from vResults2_vet left join VET_PROFILES on VET_PROFILES.id = vResults2_vet.profileID "
    "where (results_id = ? or RequestID = ?) and %1 "
    "order by %3 nulls first, AnalyseName, \"order\" nulls first";

// The room each field had in the bulletin's fixed buffers, terminator included; longer
// texts are cut.
constexpr int kRequestCodeSize = 51;
constexpr int kSetDateSize = 51;
constexpr int kAgeSexSize = 11;
constexpr int kNameCodeProfileSize = 199;
constexpr int kPatientTitleBoundSize = 255;
constexpr int kUnitSize = 103;

std::string fieldInteger(Recordset& rs, const char* column) {
    QVariant value;
    if (!rs.getFieldValue(QString::fromLatin1(column), &value) || value.isNull())
        return std::string();
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? std::to_string(number) : std::string();
}

int fieldGroupKey(Recordset& rs) {
    QVariant value;
    if (!rs.getFieldValue(QStringLiteral("MachineID"), &value) || value.isNull())
        return 0;
    return value.toInt();
}

// A text of the canonical form: its separators cannot appear inside an item.
QString item(const std::string& text) {
    QString t = QString::fromStdString(text);
    t.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    t.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    t.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    t.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return t;
}

QString item(const QString& text) {
    return item(text.toStdString());
}

} // namespace

std::string bulletinFieldText(Recordset& rs, const char* column, int bufferSize) {
    QVariant value;
    if (!rs.getFieldValue(QString::fromLatin1(column), &value) || value.isNull())
        return std::string();
    std::string text = value.toString().toStdString();
    cutUtf8(text, bufferSize - 1);
    return text;
}

std::string BulletinRow::marker() const {
    return bulletinMarker(value, lower, upper);
}

QString BulletinContent::canonical() const {
    QStringList lines;
    lines << QStringLiteral("Data setului\t") + item(setDate) << QStringLiteral("Cod cerere\t") + item(requestCode)
          << QStringLiteral("Nume\t") + item(patientName) << QStringLiteral("Profil\t") + item(profile)
          << QStringLiteral("Varsta\t") + item(age) << QStringLiteral("Sex\t") + item(sex);
    // Every set's own fields, not only the first set's that the head prints: a correction of any
    // set of the bulletin changes what was signed. Sets are numbered in the order of their ids.
    static const char* const kSetFields[] = {"Nume", "Varsta", "Sex", "Profil", "Comentariu"};
    for (int i = 0; i < sets.size(); ++i)
        for (int field = 0; field < int(std::size(kSetFields)) && field < sets.at(i).size(); ++field)
            lines << QStringLiteral("%1 (setul %2)\t%3")
                         .arg(QLatin1String(kSetFields[field]))
                         .arg(i + 1)
                         .arg(sets.at(i).at(field));
    // The rows in an order of their own, so that two reads of one content agree whatever order
    // the database gives equal rows; a parameter met twice (two sets of the day) is numbered.
    std::vector<std::pair<QString, QString>> items;
    for (const BulletinRow& row : rows) {
        const std::string marker = row.marker();
        const QString mark = row.critical            ? QStringLiteral("critic")
                             : marker == kMarkerLow  ? QStringLiteral("sub interval")
                             : marker == kMarkerHigh ? QStringLiteral("peste interval")
                                                     : QString();
        QString shown = item(row.value);
        if (!row.unit.empty())
            shown += QLatin1Char(' ') + item(row.unit);
        shown += QStringLiteral(" [%1 - %2]").arg(item(row.lower), item(row.upper));
        if (!mark.isEmpty())
            shown += QLatin1Char(' ') + mark;
        items.emplace_back(item(row.groupTitle) + QLatin1String(" / ") + item(row.name), shown);
    }
    std::sort(items.begin(), items.end());
    std::map<QString, int> seen;
    for (const auto& one : items) {
        const int count = ++seen[one.first];
        lines << (count > 1 ? QStringLiteral("%1 (%2)").arg(one.first).arg(count) : one.first) + QLatin1Char('\t') +
                     one.second;
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

BulletinContentReader::BulletinContentReader(Recordset& recordset, DatabaseConnection* database)
    : m_recordset(recordset), m_database(database) {}

bool BulletinContentReader::read(int recordId, const BulletinKey& bulletin, BulletinContent* content) {
    *content = BulletinContent();
    content->key = bulletin;
    m_error.clear();
    m_sql.clear();
    const SqlDialect dialect = m_database ? m_database->dialect() : SqlDialect();
    QVariantList values{recordId, bulletin.requestId};
    const QDate day = QDate::fromString(bulletin.day, Qt::ISODate);
    const QString dayText = day.isValid() ? day.toString(QStringLiteral("yyyy/M/d")) : QString();
    QString sameDay = dialect.dayRangeCondition(QStringLiteral("TransDate"), dayText, dayText, &values);
    if (sameDay.isEmpty())
        sameDay = QStringLiteral("1=0"); // no readable day: nothing of the request can be told apart
    const QString sql = QString::fromLatin1(kBulletinQuery)
                            .arg(sameDay, dialect.dateTimeText(QStringLiteral("ProcDate")),
                                 dialect.caseInsensitiveOrder(QStringLiteral("AnalyseName")));
    if (!m_recordset.open(sql, m_database, values)) {
        m_error = m_recordset.errorText();
        m_sql = sql;
        m_failure = Failure::Query;
        return false;
    }
    if (!m_recordset.isEOF()) {
        QVariant procDate;
        m_recordset.getFieldValue(QStringLiteral("procDate"), &procDate);
        content->setDate = formatBulletinDate(procDate);
        cutUtf8(content->setDate, kSetDateSize - 1);
        content->requestCode = bulletinFieldText(m_recordset, "RequestID", kRequestCodeSize);
        content->patientName = bulletinFieldText(m_recordset, "PacientName", kPatientTitleBoundSize);
        content->profile = bulletinFieldText(m_recordset, "profilename", kNameCodeProfileSize);
        content->age = fieldInteger(m_recordset, "Age");
        cutUtf8(content->age, kAgeSexSize - 1);
        content->sex = bulletinFieldText(m_recordset, "sex", kAgeSexSize);
        content->firstTitle = bulletinFieldText(m_recordset, "AnalyseName", kPatientTitleBoundSize);
    }
    content->resultIds << recordId;
    std::map<qint64, QStringList> sets;
    while (!m_recordset.isEOF()) {
        BulletinRow row;
        row.groupKey = fieldGroupKey(m_recordset);
        row.groupTitle = bulletinFieldText(m_recordset, "AnalyseName", kPatientTitleBoundSize);
        row.name = bulletinFieldText(m_recordset, "refName", kNameCodeProfileSize);
        if (row.name.empty())
            row.name = bulletinFieldText(m_recordset, "refCode", kNameCodeProfileSize);
        QVariant stored;
        if (m_recordset.getFieldValue(QStringLiteral("stringvalue"), &stored) && !stored.isNull())
            row.value = bulletinValueText(stored.toString());
        row.lower = bulletinFieldText(m_recordset, "minValue", kPatientTitleBoundSize);
        row.upper = bulletinFieldText(m_recordset, "maxValue", kPatientTitleBoundSize);
        row.unit = bulletinFieldText(m_recordset, "um", kUnitSize);
        QVariant id;
        if (m_recordset.getFieldValue(QStringLiteral("results_id"), &id) && !id.isNull()) {
            row.resultId = id.toLongLong();
            if (!content->resultIds.contains(row.resultId))
                content->resultIds << row.resultId;
            if (sets.find(row.resultId) == sets.end()) {
                QVariant comment;
                m_recordset.getFieldValue(QStringLiteral("comment"), &comment);
                sets[row.resultId] = QStringList{
                    item(bulletinFieldText(m_recordset, "PacientName", kPatientTitleBoundSize)),
                    item(fieldInteger(m_recordset, "Age")), item(bulletinFieldText(m_recordset, "sex", kAgeSexSize)),
                    item(bulletinFieldText(m_recordset, "profilename", kNameCodeProfileSize)),
                    item(comment.toString())};
            }
        }
        QVariant code;
        if (m_recordset.getFieldValue(QStringLiteral("refCode"), &code))
            row.refcode = code.toString();
        content->rows.push_back(std::move(row));
        if (!m_recordset.moveNext())
            break;
    }
    if (m_recordset.readFailed()) {
        m_error = m_recordset.errorText();
        m_failure = Failure::Rows;
        m_recordset.close();
        return false;
    }
    m_recordset.close();
    for (const auto& set : sets)
        content->sets << set.second;

    // A critical value gets its own marker; a failed question is never taken for none.
    CriticalLimits limits(m_database, bulletinValueReading());
    if (!limits.criticalValuesOf(content->resultIds, &content->critical)) {
        m_error = limits.errorText();
        m_failure = Failure::Critical;
        return false;
    }
    for (BulletinRow& row : content->rows)
        row.critical = std::any_of(content->critical.begin(), content->critical.end(), [&row](const CriticalValue& v) {
            return v.resultId == row.resultId && v.machineId == row.groupKey && v.refcode == row.refcode &&
                   v.value == QString::fromStdString(row.value);
        });
    return true;
}
