#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <vector>

class DatabaseConnection;

// One recorded correction of one result set.
struct JournalEntry {
    qint64 id = 0;
    qint64 resultId = 0;
    QString requestId; // the set's request identifier before the correction
    QString field;     // RESULTS column: RequestID, PacientName, Age, SEX, profileID, comment
    QVariant oldValue; // null for a database NULL
    QVariant newValue;
    QDateTime changedAt; // UTC
    QString userName;
    QString workstation;
    QString reason; // why a released bulletin was amended; empty when none was asked
};

// The correction journal: every correction of RESULTS made through Apply is written in one
// transaction with one journal row per set whose value it changes (old value read inside the
// transaction), so the journal and the data never disagree. Journal rows are only inserted.
// On a database without the journal table, Apply makes the plain UPDATE and available() says so.
class CorrectionJournal {
public:
    explicit CorrectionJournal(DatabaseConnection* database);

    // Whether the database holds the journal table (a definite answer is remembered). When the
    // question itself failed, false with the reason in errorText(), and it is asked again next time.
    bool available();
    // UPDATE RESULTS SET field = newValue WHERE scope. scope is an SQL condition on RESULTS
    // with '?' placeholders for scopeValues. False when nothing was written (the reason in
    // errorText(), the statement and its values in the error log); *changed receives the number
    // of sets the UPDATE touched.
    // A reason is kept with each journal row of the correction (a journal without the column
    // drops it).
    bool apply(const QString& field, const QVariant& newValue, const QString& scope, const QVariantList& scopeValues,
               int* changed = nullptr, const QString& reason = QString());
    // Whether the journal keeps a correction's reason (a journal made before it did not).
    bool keepsReasons();
    // Whether each journal row keeps the mark of the correction it belongs to, by which a
    // correction whose COMMIT went unanswered is found again (a journal made before it did not).
    bool keepsCorrectionMarks();

    // After a failed Apply: the correction gave up waiting for a set of a request that another
    // workstation held in a correction of its own, and nothing of it was stored. The request, and
    // that workstation as the server names its session ("workstation/user"; empty when the
    // server could not tell).
    bool refusedByLock() const { return m_refusedByLock; }
    QString lockedRequest() const { return m_lockedRequest; }
    QString lockHolder() const { return m_lockHolder; }
    // After a failed Apply: it was given up (DatabaseConnection::requestCancel) and nothing stored.
    bool gaveUp() const { return m_gaveUp; }
    // After Apply: the server went away before it answered the COMMIT, and its journal, read once
    // the server was reached again, told whether the correction was stored (Apply's result).
    bool commitAnswerLost() const { return m_commitAnswerLost; }
    // After a failed Apply: the COMMIT went unanswered and whether it was stored could not be
    // found out (the server still away, or a journal without the marks).
    bool outcomeUnknown() const { return m_outcomeUnknown; }
    QString errorText() const { return m_error; }
    // After a failed Apply whose values could not be written to the error log: the entry the log
    // should have held (the statement and its values), and the system's reason. Empty otherwise.
    QString unloggedEntry() const { return m_unloggedEntry; }
    QString logWriteError() const { return m_logWriteError; }

    // Entries for the given sets (newest first); with since valid, only those after it.
    std::vector<JournalEntry> entriesFor(const QList<qint64>& resultIds, const QDateTime& since = QDateTime());
    // Entries for the sets that the condition on RESULTS selects among the ids from firstId to
    // lastId, newest first per set.
    std::vector<JournalEntry> entriesForResultsWhere(const QString& resultsCondition, const QVariantList& values,
                                                     qint64 firstId, qint64 lastId);
    // Entries for every set that carries or carried this request identifier, newest first.
    std::vector<JournalEntry> entriesForRequest(const QString& requestId, const QList<qint64>& resultIds);

    // Who and where, as written into the journal and the bulletin archive.
    static QString currentUser();
    static QString workstation();
    // The clock of the journal and the archive (UTC now when none is set); a test fixes it.
    static void setClock(std::function<QDateTime()> clock);
    static QDateTime now();
    // Times are stored as UTC text 'YYYY-MM-DD HH:MM:SS.zzz'.
    static QString timeText(const QDateTime& utc);
    static QDateTime timeFromValue(const QVariant& value);

private:
    enum class Outcome { done, failed, deadlocked };
    // One try of a journaled correction in its own transaction; *updateLogged tells whether the
    // failed UPDATE already left its values in the log.
    Outcome applyInTransaction(const QString& field, const QVariant& newValue, const QString& scope,
                               const QVariantList& scopeValues, int* changed, bool* updateLogged,
                               const QString& reason);
    std::vector<JournalEntry> entries(const QString& condition, const QVariantList& values);
    // Reads which of the later columns the journal has.
    void readColumns();
    // After a lock wait given up: the request of the scope and the session holding its sets.
    void findLockHolder(const QString& scope, const QVariantList& scopeValues);
    // After an unanswered COMMIT: whether the journal holds the correction's rows, once the session
    // that ran it is gone. done, failed (not stored) or, with m_outcomeUnknown, failed.
    Outcome settleLostCommit(const QString& mark, qint64 resultId, int backend);

    DatabaseConnection* m_database;
    int m_available = -1; // -1 not yet asked
    int m_keepsReasons = -1;
    int m_keepsMarks = -1;
    bool m_refusedByLock = false;
    QString m_lockedRequest;
    QString m_lockHolder;
    bool m_gaveUp = false;
    bool m_commitAnswerLost = false;
    bool m_outcomeUnknown = false;
    QString m_error;
    QString m_unloggedEntry;
    QString m_logWriteError;
};
