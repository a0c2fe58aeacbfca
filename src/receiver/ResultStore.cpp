#include "ResultStore.h"

#include "DatabaseConnection.h"

#include <QSqlError>

namespace {

const char kSqlParameters[] = "SELECT refcode FROM PARAMETERS WHERE MachineID = ?";
const char kSqlAliases[] = "SELECT code, refcode FROM PARAMETER_ALIASES WHERE MachineID = ?";
const char kSqlMessageByControl[] = "SELECT id FROM RECEIVED_MESSAGES WHERE MachineID = ? AND controlId = ?";
const char kSqlSetByFingerprint[] = "SELECT id FROM RECEIVED_SETS WHERE fingerprint = ?";
const char kSqlAddMessageSqlite[] =
    "INSERT INTO RECEIVED_MESSAGES (MachineID, protocol, controlId, receivedAt, content) "
    "VALUES (?, ?, ?, ?, ?) RETURNING id";
const char kSqlAddMessagePostgres[] = "INSERT INTO RECEIVED_MESSAGES (MachineID, protocol, controlId, receivedAt, "
                                      "content) VALUES (?, ?, ?, CAST(? AS timestamp), ?) RETURNING id";
const char kSqlAddResultSqlite[] = "INSERT INTO RESULTS (RequestID, PacientName, TransDate, ProcDate, Age, SEX) "
                                   "VALUES (?, ?, ?, ?, ?, ?) RETURNING ID";
const char kSqlAddResultPostgres[] = "INSERT INTO RESULTS (RequestID, PacientName, TransDate, ProcDate, Age, SEX) "
                                     "VALUES (?, ?, CAST(? AS timestamp), CAST(? AS timestamp), ?, ?) RETURNING ID";
const char kSqlAddValue[] = "INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES (?, ?, ?, ?)";
const char kSqlAddSet[] = "INSERT INTO RECEIVED_SETS (messageID, resultID, fingerprint) VALUES (?, ?, ?) RETURNING id";
const char kSqlAddUnmatchedSqlite[] =
    "INSERT INTO UNMATCHED_RESULTS (receivedSetID, MachineID, RequestID, PacientName, Age, SEX, refcode, stringvalue, "
    "reason, resultID, receivedAt) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
const char kSqlAddUnmatchedPostgres[] =
    "INSERT INTO UNMATCHED_RESULTS (receivedSetID, MachineID, RequestID, PacientName, Age, SEX, refcode, stringvalue, "
    "reason, resultID, receivedAt) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, CAST(? AS timestamp))";
const char kSqlMessageStatusSqlite[] =
    "INSERT INTO RECEIVER_STATUS (MachineID, state, lastMessageAt, messages, updatedAt) VALUES (?, 'conectat', ?, 1, "
    "?) "
    "ON CONFLICT (MachineID) DO UPDATE SET state = 'conectat', lastMessageAt = excluded.lastMessageAt, "
    "messages = RECEIVER_STATUS.messages + 1, updatedAt = excluded.updatedAt";
const char kSqlMessageStatusPostgres[] =
    "INSERT INTO RECEIVER_STATUS (MachineID, state, lastMessageAt, messages, updatedAt) VALUES (?, 'conectat', "
    "CAST(? AS timestamp), 1, CAST(? AS timestamp)) ON CONFLICT (MachineID) DO UPDATE SET state = 'conectat', "
    "lastMessageAt = excluded.lastMessageAt, messages = RECEIVER_STATUS.messages + 1, updatedAt = excluded.updatedAt";
const char kSqlStatusSqlite[] =
    "INSERT INTO RECEIVER_STATUS (MachineID, state, lastError, lastErrorAt, updatedAt) VALUES (?, ?, ?, ?, ?) "
    "ON CONFLICT (MachineID) DO UPDATE SET state = excluded.state, lastError = COALESCE(excluded.lastError, "
    "RECEIVER_STATUS.lastError), lastErrorAt = COALESCE(excluded.lastErrorAt, RECEIVER_STATUS.lastErrorAt), "
    "updatedAt = excluded.updatedAt";
const char kSqlStatusPostgres[] =
    "INSERT INTO RECEIVER_STATUS (MachineID, state, lastError, lastErrorAt, updatedAt) VALUES (?, ?, ?, "
    "CAST(? AS timestamp), CAST(? AS timestamp)) ON CONFLICT (MachineID) DO UPDATE SET state = excluded.state, "
    "lastError = COALESCE(excluded.lastError, RECEIVER_STATUS.lastError), lastErrorAt = "
    "COALESCE(excluded.lastErrorAt, RECEIVER_STATUS.lastErrorAt), updatedAt = excluded.updatedAt";

// The lengths of the result tables' columns: a longer text waits as unmatched, never cut.
constexpr int kRequestIdLength = 50;
constexpr int kCodeLength = 20;
constexpr int kValueLength = 100;
constexpr int kNameLength = 300;

QString stamp(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QVariant ageAt(const QDate& birth, const QDate& day) {
    if (!birth.isValid() || birth > day)
        return QVariant(QMetaType(QMetaType::Int));
    int years = day.year() - birth.year();
    if (day.month() < birth.month() || (day.month() == birth.month() && day.day() < birth.day()))
        --years;
    return years;
}

QVariant textOrNull(const QString& text) {
    return text.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(text);
}

} // namespace

ResultStore::ResultStore(DatabaseConnection* database, int machineId) : m_database(database), m_machineId(machineId) {}

ResultStore::~ResultStore() = default;

void ResultStore::dropQueries() {
    m_queries.clear();
}

bool ResultStore::ensureOpen() {
    if (!m_broken)
        return true;
    // A prepared statement belongs to the connection that prepared it.
    dropQueries();
    if (m_database->m_opened && m_database->driverName() == QLatin1String("QPSQL")) {
        QSqlQuery ping(m_database->connection());
        if (!ping.exec(QStringLiteral("SELECT 1"))) {
            bool reopened = false;
            m_database->reconnectAfter(ping.lastError());
            if (!m_database->ensureOpen(&reopened)) {
                m_error = m_database->errorText();
                return false;
            }
        }
    }
    m_broken = false;
    return true;
}

QSqlQuery* ResultStore::query(const char* sql) {
    for (auto& entry : m_queries)
        if (entry.first == sql)
            return entry.second.get();
    auto q = std::make_unique<QSqlQuery>(m_database->connection());
    if (!q->prepare(QString::fromLatin1(sql))) {
        m_error = q->lastError().text();
        return nullptr;
    }
    m_queries.emplace_back(sql, std::move(q));
    return m_queries.back().second.get();
}

bool ResultStore::run(QSqlQuery* q, const QVariantList& values) {
    if (!q)
        return false;
    for (int i = 0; i < values.size(); ++i)
        q->bindValue(i, values.at(i));
    if (!q->exec()) {
        m_error = q->lastError().text();
        if (m_error.trimmed().isEmpty())
            m_error = QStringLiteral("baza de date nu a raspuns");
        return false;
    }
    return true;
}

bool ResultStore::loadParameters() {
    QSqlQuery* q = query(kSqlParameters);
    if (!run(q, {m_machineId}))
        return false;
    QSet<QString> codes;
    while (q->next())
        codes.insert(q->value(0).toString());
    // A failed read is never taken for "no parameters".
    if (q->lastError().isValid()) {
        m_error = q->lastError().text();
        return false;
    }
    q->finish();
    QSqlQuery* a = query(kSqlAliases);
    if (!run(a, {m_machineId}))
        return false;
    QHash<QString, QString> aliases;
    while (a->next())
        aliases.insert(a->value(0).toString(), a->value(1).toString());
    if (a->lastError().isValid()) {
        m_error = a->lastError().text();
        return false;
    }
    a->finish();
    m_codes = codes;
    m_aliases = aliases;
    m_codesLoaded = true;
    return true;
}

StoreOutcome ResultStore::store(const QString& protocol, const QString& controlId, const QString& content,
                                const QList<ReceivedSet>& sets, const QDateTime& receivedAt) {
    StoreOutcome outcome;
    m_error.clear();
    if (!ensureOpen()) {
        outcome.error = m_error;
        return outcome;
    }
    const bool pg = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    // A code not known yet may have been added to PARAMETERS since the last read.
    bool unknown = !m_codesLoaded;
    for (const ReceivedSet& set : sets)
        for (const ReceivedValue& v : set.values)
            unknown = unknown || !m_codes.contains(m_aliases.value(v.code, v.code));
    if (unknown && !loadParameters()) {
        m_broken = true;
        outcome.error = m_error;
        return outcome;
    }
    if (!m_database->beginTransaction()) {
        m_broken = true;
        outcome.error = m_database->errorText();
        return outcome;
    }
    const QString receivedText = stamp(receivedAt);
    auto fail = [&]() {
        m_database->rollbackTransaction();
        m_broken = true;
        outcome = StoreOutcome();
        outcome.error = m_error;
        return outcome;
    };
    if (!controlId.isEmpty()) {
        QSqlQuery* q = query(kSqlMessageByControl);
        if (!run(q, {m_machineId, controlId}))
            return fail();
        const bool seen = q->next();
        if (q->lastError().isValid()) {
            m_error = q->lastError().text();
            return fail();
        }
        q->finish();
        if (seen) {
            m_database->rollbackTransaction();
            outcome.kind = StoreOutcome::Kind::Duplicate;
            return outcome;
        }
    }
    QList<int> fresh; // indexes of the sets not stored before
    QStringList fingerprints;
    for (int i = 0; i < sets.size(); ++i) {
        const QString fingerprint = sets.at(i).fingerprint(m_machineId);
        QSqlQuery* q = query(kSqlSetByFingerprint);
        if (!run(q, {fingerprint}))
            return fail();
        const bool seen = q->next();
        if (q->lastError().isValid()) {
            m_error = q->lastError().text();
            return fail();
        }
        q->finish();
        // The same results twice in one message are one set.
        if (!seen && !fingerprints.contains(fingerprint)) {
            fresh << i;
            fingerprints << fingerprint;
        }
    }
    if (!sets.isEmpty() && fresh.isEmpty()) {
        m_database->rollbackTransaction();
        outcome.kind = StoreOutcome::Kind::Duplicate;
        return outcome;
    }
    QSqlQuery* addMessage = query(pg ? kSqlAddMessagePostgres : kSqlAddMessageSqlite);
    if (!run(addMessage, {m_machineId, protocol, textOrNull(controlId), receivedText, content}) || !addMessage->next())
        return fail();
    const qint64 messageId = addMessage->value(0).toLongLong();
    addMessage->finish();
    for (int k = 0; k < fresh.size(); ++k)
        if (!storeSet(sets.at(fresh.at(k)), messageId, fingerprints.at(k), receivedText, receivedAt, &outcome))
            return fail();
    if (!run(query(pg ? kSqlMessageStatusPostgres : kSqlMessageStatusSqlite),
             {m_machineId, receivedText, stamp(QDateTime::currentDateTime())}))
        return fail();
    if (!m_database->commitTransaction()) {
        m_broken = true;
        outcome = StoreOutcome();
        outcome.error = m_database->errorText();
        return outcome;
    }
    outcome.kind = StoreOutcome::Kind::Stored;
    return outcome;
}

bool ResultStore::storeSet(const ReceivedSet& set, qint64 messageId, const QString& fingerprint,
                           const QString& receivedText, const QDateTime& receivedAt, StoreOutcome* outcome) {
    const bool pg = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    const bool hasRequest = !set.specimenId.isEmpty() && set.specimenId.size() <= kRequestIdLength;
    const QVariant age = ageAt(set.birthDate, receivedAt.date());
    const QString name = set.patientName.left(kNameLength);
    // The analyser's code, or the parameter a technician said it means.
    auto refcodeOf = [this](const QString& code) { return m_aliases.value(code, code); };
    bool anyMatched = false;
    for (const ReceivedValue& v : set.values)
        anyMatched = anyMatched || (m_codes.contains(refcodeOf(v.code)) && refcodeOf(v.code).size() <= kCodeLength &&
                                    v.value.size() <= kValueLength);
    QVariant resultId(QMetaType(QMetaType::Int));
    if (hasRequest && anyMatched) {
        QSqlQuery* add = query(pg ? kSqlAddResultPostgres : kSqlAddResultSqlite);
        if (!run(add, {set.specimenId, textOrNull(name), receivedText, receivedText, age, textOrNull(set.sex)}) ||
            !add->next())
            return false;
        resultId = add->value(0).toInt();
        add->finish();
        outcome->resultIds << resultId.toInt();
        ++outcome->setsStored;
    }
    QSqlQuery* addSet = query(kSqlAddSet);
    if (!run(addSet, {messageId, resultId, fingerprint}) || !addSet->next())
        return false;
    const qint64 setId = addSet->value(0).toLongLong();
    addSet->finish();
    for (const ReceivedValue& v : set.values) {
        QString reason;
        if (set.specimenId.isEmpty())
            reason = QStringLiteral("specimen");
        else if (set.specimenId.size() > kRequestIdLength || v.value.size() > kValueLength)
            reason = QStringLiteral("length");
        else if (!m_codes.contains(refcodeOf(v.code)) || refcodeOf(v.code).size() > kCodeLength)
            reason = QStringLiteral("parameter");
        if (reason.isEmpty()) {
            if (!run(query(kSqlAddValue), {resultId, m_machineId, refcodeOf(v.code), v.value}))
                return false;
            continue;
        }
        if (!run(query(pg ? kSqlAddUnmatchedPostgres : kSqlAddUnmatchedSqlite),
                 {setId, m_machineId, textOrNull(set.specimenId), textOrNull(set.patientName), age, textOrNull(set.sex),
                  v.code, v.value, reason, resultId, receivedText}))
            return false;
        ++outcome->unmatched;
    }
    return true;
}

bool ResultStore::writeStatus(const QString& state, const QString& problem, const QDateTime& now) {
    if (!ensureOpen())
        return false;
    const bool pg = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    const QString at = stamp(now);
    if (!run(query(pg ? kSqlStatusPostgres : kSqlStatusSqlite),
             {m_machineId, state, textOrNull(problem), problem.isEmpty() ? textOrNull(QString()) : QVariant(at), at})) {
        m_broken = true;
        return false;
    }
    return true;
}
