#include "UnmatchedResults.h"

#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"

#include <QDateTime>

namespace {

const char kSelectWaiting[] =
    "SELECT u.id AS id, u.receivedSetID AS receivedSetID, u.MachineID AS MachineID, a.AnalyseName AS AnalyseName, "
    "u.RequestID AS RequestID, u.PacientName AS PacientName, u.refcode AS refcode, u.stringvalue AS stringvalue, "
    "u.reason AS reason, s.resultID AS resultID, %1 AS receivedAt FROM UNMATCHED_RESULTS u JOIN RECEIVED_SETS s ON "
    "s.id = u.receivedSetID LEFT JOIN ANALYSERS a ON a.MachineID = u.MachineID WHERE u.resolvedAt IS NULL "
    "ORDER BY u.receivedAt, u.id";
const char kSelectStatus[] =
    "SELECT r.MachineID AS MachineID, a.AnalyseName AS AnalyseName, r.state AS state, %1 AS lastMessageAt, "
    "r.messages AS messages, r.lastError AS lastError, %2 AS lastErrorAt, %3 AS updatedAt FROM RECEIVER_STATUS r "
    "LEFT JOIN ANALYSERS a ON a.MachineID = r.MachineID ORDER BY r.MachineID";
const char kSelectCodes[] = "SELECT refcode FROM PARAMETERS WHERE MachineID = ? ORDER BY refcode";
const char kSelectKnownCode[] = "SELECT COUNT(*) FROM PARAMETERS WHERE MachineID = ? AND refcode = ?";
const char kSelectSetOfReceived[] = "SELECT s.resultID, r.RequestID FROM RECEIVED_SETS s LEFT JOIN RESULTS r ON "
                                    "r.ID = s.resultID WHERE s.id = ?";
const char kSelectReceivedRow[] = "SELECT PacientName, Age, SEX, %1 FROM UNMATCHED_RESULTS WHERE id = ?";
const char kMarkResolvedSqlite[] = "UPDATE UNMATCHED_RESULTS SET resolvedAt = ?, resultID = ? WHERE id = ? AND "
                                   "resolvedAt IS NULL";
const char kMarkResolvedPostgres[] = "UPDATE UNMATCHED_RESULTS SET resolvedAt = CAST(? AS timestamp), resultID = ? "
                                     "WHERE id = ? AND resolvedAt IS NULL";
const char kAddSetSqlite[] = "INSERT INTO RESULTS (RequestID, PacientName, TransDate, ProcDate, Age, SEX) VALUES (?, "
                             "?, ?, ?, ?, ?) RETURNING ID";
const char kAddSetPostgres[] = "INSERT INTO RESULTS (RequestID, PacientName, TransDate, ProcDate, Age, SEX) VALUES "
                               "(?, ?, CAST(? AS timestamp), CAST(? AS timestamp), ?, ?) RETURNING ID";
const char kLinkReceivedSet[] = "UPDATE RECEIVED_SETS SET resultID = ? WHERE id = ? AND resultID IS NULL";
const char kRememberAlias[] = "INSERT INTO PARAMETER_ALIASES (MachineID, code, refcode) VALUES (?, ?, ?) ON CONFLICT "
                              "(MachineID, code) DO UPDATE SET refcode = excluded.refcode";
const char kAddValue[] = "INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES (?, ?, ?, ?)";

constexpr int kRequestIdLength = 50;
constexpr int kValueLength = 100;

QString text(Recordset& rows, const char* name) {
    QVariant v;
    rows.getFieldValue(QLatin1String(name), &v);
    return v.toString();
}

} // namespace

bool UnmatchedResults::fail(const QString& text) {
    m_error = text;
    if (m_database->inTransaction())
        m_database->rollbackTransaction();
    return false;
}

bool UnmatchedResults::available() {
    if (m_available < 0 && m_database) {
        m_error.clear();
        m_available = tableExists(m_database, QStringLiteral("UNMATCHED_RESULTS"), &m_error);
        if (m_available < 0)
            return false;
    }
    return m_available == 1;
}

QString UnmatchedResults::reasonLabel(const QString& reason) {
    if (reason == QLatin1String("parameter"))
        return QStringLiteral("cod necunoscut");
    if (reason == QLatin1String("specimen"))
        return QStringLiteral("fara cerere");
    if (reason == QLatin1String("length"))
        return QStringLiteral("text prea lung");
    return reason;
}

bool UnmatchedResults::waiting(std::vector<UnmatchedResult>* list) {
    list->clear();
    m_error.clear();
    if (!available())
        return m_error.isEmpty();
    Recordset rows;
    if (!rows.open(QString::fromLatin1(kSelectWaiting).arg(m_database->dialect().dateTimeText("u.receivedAt")),
                   m_database)) {
        m_error = rows.errorText();
        return false;
    }
    QVariant v;
    while (!rows.isEOF()) {
        UnmatchedResult r;
        rows.getFieldValue(QStringLiteral("id"), &v);
        r.id = v.toLongLong();
        rows.getFieldValue(QStringLiteral("receivedSetID"), &v);
        r.receivedSetId = v.toLongLong();
        rows.getFieldValue(QStringLiteral("MachineID"), &v);
        r.machineId = v.toInt();
        r.analyserName = text(rows, "AnalyseName");
        r.requestId = text(rows, "RequestID");
        r.patientName = text(rows, "PacientName");
        r.code = text(rows, "refcode");
        r.value = text(rows, "stringvalue");
        r.reason = text(rows, "reason");
        rows.getFieldValue(QStringLiteral("resultID"), &v);
        r.resultId = v.toLongLong();
        r.receivedAt = text(rows, "receivedAt");
        list->push_back(r);
        rows.moveNext();
    }
    if (rows.readFailed()) {
        list->clear();
        m_error = rows.errorText();
        return false;
    }
    return true;
}

bool UnmatchedResults::analysers(std::vector<AnalyserStatus>* list) {
    list->clear();
    m_error.clear();
    if (!available())
        return m_error.isEmpty();
    const SqlDialect& d = m_database->dialect();
    Recordset rows;
    if (!rows.open(
            QString::fromLatin1(kSelectStatus)
                .arg(d.dateTimeText("r.lastMessageAt"), d.dateTimeText("r.lastErrorAt"), d.dateTimeText("r.updatedAt")),
            m_database)) {
        m_error = rows.errorText();
        return false;
    }
    QVariant v;
    while (!rows.isEOF()) {
        AnalyserStatus s;
        rows.getFieldValue(QStringLiteral("MachineID"), &v);
        s.machineId = v.toInt();
        s.analyserName = text(rows, "AnalyseName");
        s.state = text(rows, "state");
        s.lastMessageAt = text(rows, "lastMessageAt");
        rows.getFieldValue(QStringLiteral("messages"), &v);
        s.messages = v.toLongLong();
        s.lastError = text(rows, "lastError");
        s.lastErrorAt = text(rows, "lastErrorAt");
        s.updatedAt = text(rows, "updatedAt");
        list->push_back(s);
        rows.moveNext();
    }
    if (rows.readFailed()) {
        list->clear();
        m_error = rows.errorText();
        return false;
    }
    return true;
}

bool UnmatchedResults::parameterCodes(int machineId, QStringList* codes) {
    codes->clear();
    m_error.clear();
    Recordset rows;
    if (!rows.open(QString::fromLatin1(kSelectCodes), m_database, {machineId})) {
        m_error = rows.errorText();
        return false;
    }
    while (!rows.isEOF()) {
        *codes << text(rows, "refcode");
        rows.moveNext();
    }
    if (rows.readFailed()) {
        codes->clear();
        m_error = rows.errorText();
        return false;
    }
    return true;
}

bool UnmatchedResults::resolve(const UnmatchedResult& result, const QString& requestId, const QString& code,
                               bool remember) {
    m_error.clear();
    const QString request = requestId.trimmed();
    if (request.isEmpty() || request.size() > kRequestIdLength)
        return fail(QStringLiteral("Codul cererii trebuie dat si are cel mult %1 caractere.").arg(kRequestIdLength));
    if (result.value.size() > kValueLength)
        return fail(QStringLiteral("Valoarea are mai mult de %1 caractere si nu incape in set.").arg(kValueLength));
    const bool pg = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    if (!m_database->beginTransaction())
        return fail(m_database->errorText());
    QVariant v;
    {
        Recordset known;
        if (!known.open(QString::fromLatin1(kSelectKnownCode), m_database, {result.machineId, code}) || known.isEOF() ||
            !known.getFieldValueAt(0, &v))
            return fail(known.errorText());
        if (v.toInt() == 0)
            return fail(QStringLiteral("Analizorul %1 nu are parametrul %2.").arg(result.machineId).arg(code));
    }
    // The set the specimen's results went into, when there is one for this request.
    qint64 setId = 0;
    {
        Recordset set;
        if (!set.open(QString::fromLatin1(kSelectSetOfReceived), m_database, {result.receivedSetId}) || set.isEOF())
            return fail(set.errorText().isEmpty() ? QStringLiteral("Setul primit nu mai exista.") : set.errorText());
        set.getFieldValueAt(0, &v);
        QVariant setRequest;
        set.getFieldValueAt(1, &setRequest);
        if (!v.isNull() && setRequest.toString() == request)
            setId = v.toLongLong();
        else if (!v.isNull())
            return fail(QStringLiteral("Proba a intrat deja in setul cererii %1; rezultatul ei merge in acelasi set.")
                            .arg(setRequest.toString()));
    }
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (setId == 0) {
        Recordset row;
        if (!row.open(QString::fromLatin1(kSelectReceivedRow).arg(m_database->dialect().dateTimeText("receivedAt")),
                      m_database, {result.id}) ||
            row.isEOF())
            return fail(row.errorText());
        QVariant name, age, sex, at;
        row.getFieldValueAt(0, &name);
        row.getFieldValueAt(1, &age);
        row.getFieldValueAt(2, &sex);
        row.getFieldValueAt(3, &at);
        row.close();
        // The set keeps the time the analyser's results arrived.
        Recordset added;
        if (!added.open(QString::fromLatin1(pg ? kAddSetPostgres : kAddSetSqlite), m_database,
                        {request, name, at.toString(), at.toString(), age, sex}) ||
            added.isEOF() || !added.getFieldValueAt(0, &v))
            return fail(added.errorText());
        setId = v.toLongLong();
        added.close();
        if (!m_database->execute(QString::fromLatin1(kLinkReceivedSet), {setId, result.receivedSetId}))
            return fail(m_database->errorText());
    }
    if (!m_database->execute(QString::fromLatin1(kAddValue), {setId, result.machineId, code, result.value}))
        return fail(m_database->errorText());
    if (!m_database->execute(QString::fromLatin1(pg ? kMarkResolvedPostgres : kMarkResolvedSqlite),
                             {now, setId, result.id}))
        return fail(m_database->errorText());
    if (m_database->rowsAffected() != 1)
        return fail(QStringLiteral("Rezultatul a fost pus intre timp in set de altcineva."));
    if (remember && code != result.code &&
        !m_database->execute(QString::fromLatin1(kRememberAlias), {result.machineId, result.code, code}))
        return fail(m_database->errorText());
    if (!m_database->commitTransaction())
        return fail(m_database->errorText());
    return true;
}
