#include "CorrectionJournal.h"

#include <QSet>

#include <algorithm>

#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"
#include "SqlDialect.h"

#include <QElapsedTimer>
#include <QSysInfo>
#include <QThread>
#include <QTimeZone>
#include <QUuid>

#include <pwd.h>
#include <unistd.h>

namespace {

// %1: the corrected column, %2: the set's scope, %3: the lock PostgreSQL takes on what it read.
// Every workstation locks the sets in the order of their IDs, so two corrections of one
// request wait for each other instead of each holding a set the other needs.
const char* const kReadOld = "SELECT ID, RequestID, %1 AS oldValue FROM RESULTS WHERE %2 ORDER BY ID%3";
const char* const kUpdate = "UPDATE RESULTS SET %1 = ? WHERE %2";
// %1: the time's placeholder, %2: the later columns written (", reason", ", correctionMark"),
// %3: their placeholders.
const char* const kInsert =
    "INSERT INTO CORRECTION_JOURNAL (resultID, RequestID, field, oldValue, newValue, changedAt, "
    "userName, workstation%2) VALUES (?, ?, ?, ?, ?, %1, ?, ?%3)";
// %3: the reason column, or NULL for a journal without it.
const char* const kSelectEntries =
    "SELECT id, resultID, RequestID, field, oldValue, newValue, %1 AS changedAt, userName, "
    "workstation, %3 AS reason FROM CORRECTION_JOURNAL WHERE %2 ORDER BY changedAt DESC, id DESC";
const char* const kLaterColumnsSqlite =
    "SELECT lower(name) AS name FROM pragma_table_info('CORRECTION_JOURNAL') WHERE lower(name) IN "
    "('reason', 'correctionmark')";
const char* const kLaterColumnsPostgres =
    "SELECT column_name AS name FROM information_schema.columns WHERE table_schema = current_schema() AND "
    "table_name = 'correction_journal' AND column_name IN ('reason', 'correctionmark')";
// %1: the correction's scope on RESULTS. A row another transaction holds carries that
// transaction's number (xmax), which the server's list of sessions gives beside each session's name.
const char* const kLockHolder =
    "SELECT RequestID, holder FROM (SELECT RESULTS.ID, RESULTS.RequestID, (SELECT a.application_name FROM "
    "pg_stat_activity AS a WHERE a.backend_xid = RESULTS.xmax AND a.pid <> pg_backend_pid() LIMIT 1) AS holder "
    "FROM RESULTS WHERE %1) AS held ORDER BY holder IS NULL, ID LIMIT 1";
// The session that ran an unanswered COMMIT, while it is there, and its end.
const char* const kSessionState = "SELECT state FROM pg_stat_activity WHERE pid = ?";
const char* const kEndSession = "SELECT pg_terminate_backend(CAST(? AS integer)) AS ended";
const char* const kMarkedRows =
    "SELECT COUNT(*) AS n FROM CORRECTION_JOURNAL WHERE resultID = ? AND correctionMark = ?";

// PostgreSQL's SQLSTATE for a transaction chosen to end a deadlock, for a lock waited for past
// lock_timeout, and for a statement cancelled.
const char* const kDeadlockDetected = "40P01";
const char* const kLockNotAvailable = "55P03";
const char* const kQueryCanceled = "57014";
// How long the session of an unanswered COMMIT may take to end, beyond the idle transaction
// limit, before the program stops waiting to know (ms).
constexpr int kSettleLimitMs = 10000;

std::function<QDateTime()>& Clock() {
    static std::function<QDateTime()> clock;
    return clock;
}

// A value as the journal keeps it: text, NULL for NULL.
QVariant journalText(const QVariant& value) {
    if (value.isNull() || !value.isValid())
        return QVariant(QMetaType(QMetaType::QString));
    return value.toString();
}

bool sameValue(const QVariant& a, const QVariant& b) {
    const bool aNull = a.isNull() || !a.isValid();
    const bool bNull = b.isNull() || !b.isValid();
    if (aNull || bNull)
        return aNull == bNull;
    return a.toString() == b.toString();
}

QString placeholders(int count) {
    QStringList marks;
    for (int i = 0; i < count; ++i)
        marks << QStringLiteral("?");
    return marks.join(QLatin1String(", "));
}

} // namespace

CorrectionJournal::CorrectionJournal(DatabaseConnection* database) : m_database(database) {}

bool CorrectionJournal::available() {
    // Only a definite answer is remembered: a question that failed (a database locked by another
    // writer) is no "no", and is asked again next time.
    if (m_available < 0 && m_database) {
        m_error.clear();
        m_available = tableExists(m_database, QStringLiteral("CORRECTION_JOURNAL"), &m_error);
    }
    return m_available == 1;
}

bool CorrectionJournal::keepsReasons() {
    if (m_keepsReasons < 0)
        readColumns();
    return m_keepsReasons == 1;
}

bool CorrectionJournal::keepsCorrectionMarks() {
    if (m_keepsMarks < 0)
        readColumns();
    return m_keepsMarks == 1;
}

void CorrectionJournal::readColumns() {
    if (!m_database || !available())
        return;
    const bool postgres = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    Recordset read;
    if (!read.open(QString::fromLatin1(postgres ? kLaterColumnsPostgres : kLaterColumnsSqlite), m_database))
        return;
    int reasons = 0, marks = 0;
    QVariant name;
    while (!read.isEOF()) {
        read.getFieldValue(QStringLiteral("name"), &name);
        reasons |= name.toString() == QLatin1String("reason");
        marks |= name.toString() == QLatin1String("correctionmark");
        read.moveNext();
    }
    // A list cut short is no answer.
    if (!read.readFailed()) {
        m_keepsReasons = reasons;
        m_keepsMarks = marks;
    }
    read.close();
}

bool CorrectionJournal::apply(const QString& field, const QVariant& newValue, const QString& scope,
                              const QVariantList& scopeValues, int* changed, const QString& reason) {
    m_error.clear();
    m_unloggedEntry.clear();
    m_logWriteError.clear();
    m_refusedByLock = false;
    m_lockedRequest.clear();
    m_lockHolder.clear();
    m_gaveUp = false;
    m_commitAnswerLost = false;
    m_outcomeUnknown = false;
    if (changed)
        *changed = 0;
    if (!m_database) {
        m_error = QStringLiteral("No database connection has been opened");
        return false;
    }
    const QString update = QString::fromLatin1(kUpdate).arg(field, scope);
    const QVariantList updateValues = QVariantList{newValue} + scopeValues;
    const int logFailures = m_database->logWriteFailures();
    bool updateLogged = false;
    bool done = false;
    if (available()) {
        // A deadlock between workstations is tried once more before it is reported.
        for (int attempt = 0; attempt < 2; ++attempt) {
            const Outcome outcome =
                applyInTransaction(field, newValue, scope, scopeValues, changed, &updateLogged, reason);
            done = outcome == Outcome::done;
            if (outcome != Outcome::deadlocked)
                break;
        }
    } else if (m_error.isEmpty()) {
        done = m_database->execute(update, updateValues);
        if (done && changed)
            *changed = m_database->rowsAffected();
        if (!done) {
            m_error = m_database->errorText();
            updateLogged = true;
        }
    }
    if (done) {
        m_error.clear(); // a deadlock tried again leaves no reason behind
        return true;
    }
    // Whatever failed once the correction was given up (a wait for a locked file ended by it), it
    // stored nothing; an unanswered COMMIT says so itself.
    if (!m_commitAnswerLost && m_database->cancelRequested())
        m_gaveUp = true;
    // Wherever it failed, the log keeps what the user typed, so that it can be typed again.
    if (!updateLogged)
        m_database->logStatement(update, updateValues);
    if (m_database->logWriteFailures() != logFailures) {
        m_unloggedEntry = statementForLog(update, updateValues);
        m_logWriteError = m_database->logWriteError();
    }
    return false;
}

CorrectionJournal::Outcome CorrectionJournal::applyInTransaction(const QString& field, const QVariant& newValue,
                                                                 const QString& scope, const QVariantList& scopeValues,
                                                                 int* changed, bool* updateLogged,
                                                                 const QString& reason) {
    auto fail = [&](const QString& error) {
        m_error = error;
        const QString code = m_database->lastErrorCode();
        m_database->rollbackTransaction();
        m_gaveUp = m_database->cancelRequested();
        if (m_error.isEmpty())
            m_error = QStringLiteral("The correction was given up before it was stored");
        if (code == QLatin1String(kLockNotAvailable) && !m_gaveUp)
            findLockHolder(scope, scopeValues);
        return code == QLatin1String(kDeadlockDetected) && !m_gaveUp ? Outcome::deadlocked : Outcome::failed;
    };
    // A correction given up between two statements does not go on to the next.
    auto givenUp = [this] {
        if (!m_database->cancelRequested())
            return false;
        m_database->noteErrorCode(QString::fromLatin1(kQueryCanceled));
        return true;
    };
    // Asked before the transaction: on PostgreSQL a failed question would end it.
    const bool withReason = !reason.isEmpty() && keepsReasons();
    const bool withMark = keepsCorrectionMarks();
    if (givenUp()) {
        m_gaveUp = true;
        return Outcome::failed;
    }
    if (!m_database->beginTransaction()) {
        m_error = m_database->errorText();
        return Outcome::failed;
    }
    const bool postgres = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    struct OldRow {
        qint64 id;
        QVariant requestId;
        QVariant value;
    };
    std::vector<OldRow> rows;
    {
        Recordset read;
        const QString sql =
            QString::fromLatin1(kReadOld).arg(field, scope, postgres ? QStringLiteral(" FOR UPDATE") : QString());
        if (!read.open(sql, m_database, scopeValues))
            return fail(read.errorText());
        QVariant id, requestId, value;
        while (!read.isEOF()) {
            read.getFieldValue(QStringLiteral("ID"), &id);
            read.getFieldValue(QStringLiteral("RequestID"), &requestId);
            read.getFieldValue(QStringLiteral("oldValue"), &value);
            rows.push_back({id.toLongLong(), requestId, value});
            read.moveNext();
        }
        const bool complete = !read.readFailed();
        const QString readError = read.errorText();
        read.close();
        if (!complete)
            return fail(readError);
    }
    if (rows.empty()) {
        m_database->rollbackTransaction();
        return Outcome::done;
    }

    // Exactly the sets read are changed, so every change has its journal row.
    QVariantList ids;
    for (const OldRow& row : rows)
        ids << row.id;
    if (givenUp())
        return fail(QString());
    if (!m_database->execute(
            QString::fromLatin1(kUpdate).arg(field, QStringLiteral("ID IN (%1)").arg(placeholders(int(ids.size())))),
            QVariantList{newValue} + ids)) {
        *updateLogged = true;
        return fail(m_database->errorText());
    }

    QString laterColumns, laterValues;
    if (withReason)
        laterColumns += QStringLiteral(", reason"), laterValues += QStringLiteral(", ?");
    if (withMark)
        laterColumns += QStringLiteral(", correctionMark"), laterValues += QStringLiteral(", ?");
    const QString insert =
        QString::fromLatin1(kInsert).arg(m_database->dialect().dateParameter(), laterColumns, laterValues);
    // Every journal row of this correction carries its mark, and no other correction's row does.
    const QString mark = QUuid::createUuid().toString(QUuid::WithoutBraces);
    qint64 markedResult = 0;
    const QString when = timeText(now());
    const QString user = currentUser();
    const QString workstation = CorrectionJournal::workstation();
    for (const OldRow& row : rows) {
        if (sameValue(row.value, newValue))
            continue;
        QVariantList values{
            row.id,     journalText(row.requestId), field, journalText(row.value), journalText(newValue), when, user,
            workstation};
        if (withReason)
            values << reason;
        if (withMark)
            values << mark;
        if (!m_database->execute(insert, values))
            return fail(m_database->errorText());
        markedResult = row.id;
    }
    if (givenUp())
        return fail(QString());
    if (!m_database->commitTransaction()) {
        m_error = m_database->errorText();
        if (m_database->commitAnswerLost()) {
            // The server may have stored it whole before the answer was lost: its journal rows say.
            m_commitAnswerLost = true;
            if (markedResult == 0 || !withMark) {
                // No journal row to look for: nothing tells a stored correction from one that is not.
                m_outcomeUnknown = true;
                return Outcome::failed;
            }
            const Outcome settled = settleLostCommit(mark, markedResult, m_database->transactionBackend());
            if (settled == Outcome::done && changed)
                *changed = int(rows.size());
            return settled;
        }
        return m_database->lastErrorCode() == QLatin1String(kDeadlockDetected) ? Outcome::deadlocked : Outcome::failed;
    }
    if (changed)
        *changed = int(rows.size());
    return Outcome::done;
}

void CorrectionJournal::findLockHolder(const QString& scope, const QVariantList& scopeValues) {
    m_refusedByLock = true;
    if (m_database->dialect().kind() != SqlDialect::Kind::PostgreSQL)
        return;
    // Asked after the wait was given up: the other workstation still holds the sets unless it has
    // just finished, and then no name is given rather than a wrong one.
    Recordset read;
    if (!read.open(QString::fromLatin1(kLockHolder).arg(scope), m_database, scopeValues))
        return;
    QVariant value;
    if (!read.isEOF()) {
        if (read.getFieldValue(QStringLiteral("RequestID"), &value))
            m_lockedRequest = value.toString();
        if (read.getFieldValue(QStringLiteral("holder"), &value))
            m_lockHolder = value.toString();
    }
    read.close();
}

CorrectionJournal::Outcome CorrectionJournal::settleLostCommit(const QString& mark, qint64 resultId, int backend) {
    // Only once the session that ran the transaction is gone is its outcome settled: until then a
    // COMMIT still on its way could reach it. A session not running anything is ended (a session
    // of the program's own role may be); one still running the COMMIT is let finish. Each question
    // opens the connection anew if needed, as any statement after a lost server does.
    if (backend == 0) {
        m_outcomeUnknown = true;
        return Outcome::failed;
    }
    const qint64 limit = kSettleLimitMs + m_database->limits().idleTransactionMs;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        Recordset read;
        if (!read.open(QString::fromLatin1(kSessionState), m_database, {backend})) {
            m_outcomeUnknown = true;
            return Outcome::failed;
        }
        QVariant state;
        const bool present = !read.isEOF();
        if (present)
            read.getFieldValue(QStringLiteral("state"), &state);
        read.close();
        if (!present)
            break;
        if (waited.elapsed() > limit || m_database->cancelRequested()) {
            m_outcomeUnknown = true;
            return Outcome::failed;
        }
        if (state.toString() != QLatin1String("active")) {
            Recordset end;
            if (end.open(QString::fromLatin1(kEndSession), m_database, {backend}))
                end.close();
        }
        QThread::msleep(20);
    }
    Recordset read;
    QVariant n;
    if (!read.open(QString::fromLatin1(kMarkedRows), m_database, {resultId, mark}) || read.isEOF() ||
        !read.getFieldValue(QStringLiteral("n"), &n)) {
        m_outcomeUnknown = true;
        return Outcome::failed;
    }
    read.close();
    return n.toInt() > 0 ? Outcome::done : Outcome::failed;
}

std::vector<JournalEntry> CorrectionJournal::entriesFor(const QList<qint64>& resultIds, const QDateTime& since) {
    if (!m_database || resultIds.isEmpty() || !available())
        return {};
    QVariantList values;
    const auto [first, last] = std::minmax_element(resultIds.cbegin(), resultIds.cend());
    // Ids that lie close together (the rows of a day or a month) are asked for as their range,
    // a statement of two values; the entries of ids in the range but not asked for are left out.
    const bool dense = *last - *first < 2 * qint64(resultIds.size());
    QString condition;
    if (dense) {
        condition = QStringLiteral("resultID BETWEEN ? AND ?");
        values << *first << *last;
    } else {
        for (qint64 id : resultIds)
            values << id;
        condition = QStringLiteral("resultID IN (%1)").arg(placeholders(int(values.size())));
    }
    if (since.isValid()) {
        condition += QStringLiteral(" AND changedAt > %1").arg(m_database->dialect().dateParameter());
        values << timeText(since);
    }
    std::vector<JournalEntry> found = entries(condition, values);
    if (dense) {
        const QSet<qint64> wanted(resultIds.cbegin(), resultIds.cend());
        found.erase(std::remove_if(found.begin(), found.end(),
                                   [&wanted](const JournalEntry& entry) { return !wanted.contains(entry.resultId); }),
                    found.end());
    }
    return found;
}

std::vector<JournalEntry> CorrectionJournal::entriesForResultsWhere(const QString& resultsCondition,
                                                                    const QVariantList& values, qint64 firstId,
                                                                    qint64 lastId) {
    if (!m_database || !available())
        return {};
    // The journal's index narrows the entries to the listed sets' ids first, so a short list
    // reads only its few entries (none at all when nothing was corrected), whatever the
    // condition costs; each entry left is then checked against the condition.
    QVariantList all{firstId, lastId};
    all << values;
    return entries(QStringLiteral("resultID BETWEEN ? AND ? AND EXISTS (SELECT 1 FROM RESULTS WHERE "
                                  "RESULTS.ID = CORRECTION_JOURNAL.resultID AND %1)")
                       .arg(resultsCondition),
                   all);
}

std::vector<JournalEntry> CorrectionJournal::entries(const QString& condition, const QVariantList& values) {
    std::vector<JournalEntry> entries;
    m_error.clear();
    Recordset read;
    // Read as text with its milliseconds, so no time zone of the client is applied.
    const bool postgres = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    const QString changedAt =
        postgres ? QStringLiteral("to_char(changedAt, 'YYYY-MM-DD HH24:MI:SS.MS')") : QStringLiteral("changedAt");
    const QString sql =
        QString::fromLatin1(kSelectEntries)
            .arg(changedAt, condition, keepsReasons() ? QStringLiteral("reason") : QStringLiteral("NULL"));
    // Every cell is a number or a text, which the direct reading gives as the driver does; a
    // search's marks then cost one exchange with a server, not three.
    if (!read.open(sql, m_database, values, Recordset::Reading::Texts)) {
        m_error = read.errorText();
        return entries;
    }
    QVariant v;
    while (!read.isEOF()) {
        JournalEntry e;
        read.getFieldValue(QStringLiteral("id"), &v);
        e.id = v.toLongLong();
        read.getFieldValue(QStringLiteral("resultID"), &v);
        e.resultId = v.toLongLong();
        read.getFieldValue(QStringLiteral("RequestID"), &v);
        e.requestId = v.toString();
        read.getFieldValue(QStringLiteral("field"), &v);
        e.field = v.toString();
        read.getFieldValue(QStringLiteral("oldValue"), &e.oldValue);
        read.getFieldValue(QStringLiteral("newValue"), &e.newValue);
        read.getFieldValue(QStringLiteral("changedAt"), &v);
        e.changedAt = timeFromValue(v);
        read.getFieldValue(QStringLiteral("userName"), &v);
        e.userName = v.toString();
        read.getFieldValue(QStringLiteral("workstation"), &v);
        e.workstation = v.toString();
        read.getFieldValue(QStringLiteral("reason"), &v);
        e.reason = v.toString();
        entries.push_back(std::move(e));
        read.moveNext();
    }
    if (read.readFailed()) {
        m_error = read.errorText();
        entries.clear();
    }
    read.close();
    return entries;
}

std::vector<JournalEntry> CorrectionJournal::entriesForRequest(const QString& requestId,
                                                               const QList<qint64>& resultIds) {
    // The sets that carried the identifier at some time, with those that carry it now.
    QList<qint64> ids = resultIds;
    if (m_database && available()) {
        Recordset read;
        if (read.open(QStringLiteral("SELECT DISTINCT resultID FROM CORRECTION_JOURNAL WHERE RequestID = ? OR "
                                     "(field = 'RequestID' AND newValue = ?)"),
                      m_database, {requestId, requestId})) {
            QVariant v;
            while (!read.isEOF()) {
                read.getFieldValue(QStringLiteral("resultID"), &v);
                if (!ids.contains(v.toLongLong()))
                    ids << v.toLongLong();
                read.moveNext();
            }
            const bool complete = !read.readFailed();
            m_error = read.errorText();
            read.close();
            if (!complete)
                return {};
        } else {
            // Part of a history shown as the whole would hide corrections.
            m_error = read.errorText();
            return {};
        }
    }
    m_error.clear();
    return entriesFor(ids);
}

QString CorrectionJournal::currentUser() {
    if (const passwd* entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

QString CorrectionJournal::workstation() {
    return QSysInfo::machineHostName();
}

void CorrectionJournal::setClock(std::function<QDateTime()> clock) {
    Clock() = std::move(clock);
}

QDateTime CorrectionJournal::now() {
    return Clock() ? Clock()().toUTC() : QDateTime::currentDateTimeUtc();
}

QString CorrectionJournal::timeText(const QDateTime& utc) {
    return utc.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QDateTime CorrectionJournal::timeFromValue(const QVariant& value) {
    // Read digit by digit: the times are UTC, and a parse through the local time zone asks the
    // system for its zone file on every call, which a list of many thousands cannot afford.
    const QString text = value.toString().trimmed();
    auto number = [&text](int from, int length, int* out) {
        int n = 0;
        for (int i = from; i < from + length; ++i) {
            if (i >= text.size() || !text.at(i).isDigit())
                return false;
            n = n * 10 + text.at(i).digitValue();
        }
        *out = n;
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    if (text.size() < 19 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-') ||
        (text.at(10) != QLatin1Char(' ') && text.at(10) != QLatin1Char('T')) || text.at(13) != QLatin1Char(':') ||
        text.at(16) != QLatin1Char(':') || !number(0, 4, &year) || !number(5, 2, &month) || !number(8, 2, &day) ||
        !number(11, 2, &hour) || !number(14, 2, &minute) || !number(17, 2, &second))
        return QDateTime();
    if (text.size() > 19) {
        // Milliseconds, as many digits as are written up to three.
        if (text.at(19) != QLatin1Char('.'))
            return QDateTime();
        int digits = 0;
        for (int i = 20; i < text.size() && i < 23 && text.at(i).isDigit(); ++i, ++digits)
            millisecond = millisecond * 10 + text.at(i).digitValue();
        if (digits == 0)
            return QDateTime();
        for (; digits < 3; ++digits)
            millisecond *= 10;
    }
    const QDate date(year, month, day);
    const QTime time(hour, minute, second, millisecond);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, QTimeZone::utc());
}
