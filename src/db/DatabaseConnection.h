#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <atomic>
#include <memory>
#include <mutex>

#include "SqlDialect.h"

class SqliteIntegrityCheck;

// A failure as a person reads it: the database's reason ("database is locked") on its own
// line, then the provider line with the driver's words; either may be empty.
QString combinedErrorText(const QString& databaseText, const QString& providerError);

// The program's one connection to the results database. Failures are reported as a
// false result with two texts kept in the object (m_comError, m_providerError) and an
// entry appended to the error log; this layer never shows anything itself.
//
// Connection strings keep the form "key=value;...": Provider=SQLite;Data Source=lab.db
// or Provider=PostgreSQL;Server=...;Port=...;Database=...;User ID=...;Password=...
// Waits have limits, in seconds (fractions allowed, 0 for none), also set in the connection
// string: "Lock Timeout" (a row another workstation holds, PostgreSQL; default 5), "Idle
// Transaction Timeout" (the server ends a workstation's transaction left open that long,
// PostgreSQL; default 60), "Statement Timeout" (any one statement, a search above all,
// PostgreSQL; default 60) and "Busy Timeout" (an SQLite file another program writes; default 5).
class DatabaseConnection {
public:
    DatabaseConnection();
    virtual ~DatabaseConnection();
    DatabaseConnection(const DatabaseConnection&) = delete;
    DatabaseConnection& operator=(const DatabaseConnection&) = delete;

    void setLogFile(const QString& fileName);
    bool openAccess(const QString& dataSource, const QString& password);
    bool openSqlServer(const QString& server, const QString& user, const QString& password, const QString& database);
    bool open(const QString& connectionString);
    bool close();
    // One statement that returns no rows; values are bound to its '?' placeholders in order.
    bool execute(const QString& sql, const QVariantList& values = {});
    // A transaction on the connection; while it is open, a lost server is not reconnected to.
    bool beginTransaction();
    bool commitTransaction(); // rolls back when the commit fails
    // When the server went away meanwhile, the connection is closed and the next action
    // opens it anew (connectionLost() says so until then).
    void rollbackTransaction();
    bool inTransaction() const { return m_inTransaction; }
    // The last commitTransaction failed because the server went away before it answered: the
    // server may have stored the transaction whole or not at all.
    bool commitAnswerLost() const { return m_commitAnswerLost; }
    // PostgreSQL: the server process of the session the last transaction ran in (0 if unknown).
    int transactionBackend() const { return m_transactionBackend; }
    // Asks, from any thread, that the statement now running or waiting on this connection stop:
    // PostgreSQL cancels it, SQLite stops waiting for a file locked by another program. A request
    // holds until clearCancel(), so a transaction given up does not go on with its next statement.
    void requestCancel();
    void clearCancel() { m_cancelRequested = false; }
    bool cancelRequested() const { return m_cancelRequested; }
    // The limits of the connection string, in milliseconds (0: none).
    struct Limits {
        int lockMs = 5000;
        int idleTransactionMs = 60000;
        int statementMs = 60000;
        int busyMs = 5000;
    };
    const Limits& limits() const { return m_limits; }
    // The connection string of the last Open, for another connection to the same database.
    QString connectionString() const { return m_connectionString; }
    // How the server's list of sessions names this one: the workstation, then the user.
    static QString sessionName();
    // How many rows the last successful Execute changed.
    int rowsAffected() const { return m_rowsAffected; }
    // Appends an entry to the error log; false when the log could not be written (the
    // system's reason in logWriteError()). True when no log is kept.
    bool writeLog(const QString& entry);
    // The entry that follows a failed statement: its text, then the values it was to bind, so
    // that a correction that was not stored can be typed again from the log.
    bool logStatement(const QString& sql, const QVariantList& values);
    // How many entries could not be written to the log so far, and why the last one failed.
    int logWriteFailures() const { return m_logWriteFailures; }
    QString logWriteError() const { return m_logWriteError; }
    // The last failure for a person: the database's own words first, then the provider line.
    QString errorText() const { return combinedErrorText(m_databaseText, m_providerError); }
    void logError(const QString& context, const QString& comError, const QString& providerError);
    // The database's own code for the last failed statement (PostgreSQL's SQLSTATE, such as
    // 40P01 for a deadlock); a recordset reports its failures here too.
    QString lastErrorCode() const { return m_lastErrorCode; }
    void noteErrorCode(const QString& code) { m_lastErrorCode = code; }

    // The open connection; invalid before the first open().
    QSqlDatabase connection() const;
    bool hasConnection() const { return !m_connectionName.isEmpty(); }
    // Which SQL dialect the open connection speaks.
    const SqlDialect& dialect() const { return m_dialect; }

    // When a statement failed because the server went away: closes and reopens the
    // connection once and says whether the statement is worth one more try.
    bool reconnectAfter(const QSqlError& error);
    // Before a statement: when an earlier reconnect found the server still away, tries once
    // more to open; false when the connection is not open (after Close or a failed Open).
    // *reopened tells whether this call already spent the action's one reconnect.
    bool ensureOpen(bool* reopened);
    // The server went away and could not be reached again by the last action.
    bool connectionLost() const { return m_lost; }
    // Qt driver of the connection ("QSQLITE", "QPSQL"), the Source of the error texts.
    QString driverName() const;
    // The SQLite file of the last Open as an absolute path, also when that Open failed; empty
    // for a database server.
    QString databaseFile() const { return m_file; }

    // The integrity check of the SQLite file: while it runs, a write waits for its result; once
    // it has failed, every write is refused with its reason. Null (and after Open): nothing holds
    // writes back.
    void setIntegrityCheck(std::shared_ptr<SqliteIntegrityCheck> check) { m_integrityCheck = std::move(check); }
    const std::shared_ptr<SqliteIntegrityCheck>& integrityCheck() const { return m_integrityCheck; }

    // The clock that stamps log entries (local time when none is set); a test fixes it.
    using LogClock = QDateTime (*)();
    static void setLogClock(LogClock clock);

    bool m_logEnabled = false;
    QString m_logFile;
    bool m_opened = false;
    QString m_databaseName;
    QString m_password;
    QString m_user;
    QString m_server;
    QString m_comError;
    QString m_providerError;

private:
    // Opens the connection and readies a PostgreSQL session for the program's queries.
    bool openConnection(QSqlDatabase& db);
    void dropConnection();
    bool executeControl(const char* context, const QString& sql);
    void fail(const char* context, const QSqlError& error, const QString& source, bool withProvider);
    // Before anything that writes: false, with the reason set and logged (and the statement with
    // its values), when the integrity check did not pass; waits for a check still running.
    bool writeAllowed(const char* context, const QString& sql = QString(), const QVariantList& values = {});
    // Closes a server connection that went away, so that the next action opens it anew.
    void markConnectionLost();
    // Keeps, for requestCancel, what another thread needs to stop the open connection's statement.
    void noteCancelHandle();
    void dropCancelHandle();
    // SQLite's wait for a locked file: up to the busy limit, ended at once by a cancel request.
    static int sqliteBusyWait(void* connection, int count);

    int m_rowsAffected = 0;
    bool m_inTransaction = false;
    QString m_databaseText; // the database's own words for the last failure
    QString m_connectionName;
    QString m_connectionString;
    QString m_file;
    bool m_lost = false; // the server went away and could not be reached again yet
    QString m_lastErrorCode;
    int m_logWriteFailures = 0;
    QString m_logWriteError;
    SqlDialect m_dialect;
    std::shared_ptr<SqliteIntegrityCheck> m_integrityCheck;
    bool m_commitAnswerLost = false;
    int m_backend = 0;            // PostgreSQL server process of the open session
    int m_transactionBackend = 0; // ... and of the session the last transaction began in
    Limits m_limits;
    std::atomic<bool> m_cancelRequested{false};
    std::mutex m_cancelGuard;   // the handles below, used from the thread asking for a cancel
    void* m_pgCancel = nullptr; // libpq's PGcancel of the open session
    qint64 m_busySince = 0;     // when the current wait for a locked SQLite file began (ms)
};

// The five-line error text ("Error\n\tCode = ...") for a failure reported by Qt SQL.
QString formatComError(const QSqlError& error, const QString& source);
// Whether an SQL text holds more than one statement (a semicolon followed by more text,
// outside quotes and comments).
bool holdsSeveralStatements(const QString& sql);
QSqlError severalStatementsError();
// The failure of a statement on a connection that is closed (after Close or a failed Open).
QSqlError closedConnectionError();
// The provider line ("\t Error number: %x\t%s") for a failure reported by Qt SQL.
QString getProviderErrors(const QSqlError& error);
// A statement as the error log keeps it: its text, then "Values: " and the bound values as
// they would be typed again.
QString statementForLog(const QString& sql, const QVariantList& values);
