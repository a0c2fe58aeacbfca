#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>

#include "SqlDialect.h"

class SqliteIntegrityCheck;

// A failure as a person reads it: the database's reason ("database is locked") on its own
// line, then the provider line with the driver's words; either may be empty.
QString CombinedErrorText(const QString& databaseText, const QString& providerError);

// The program's one connection to the results database. Failures are reported as a
// false result with two texts kept in the object (szComError, szProviderError) and an
// entry appended to the error log; this layer never shows anything itself.
//
// Connection strings keep the form "key=value;...": Provider=SQLite;Data Source=lab.db
// or Provider=PostgreSQL;Server=...;Port=...;Database=...;User ID=...;Password=...
class CAdoDatabase {
public:
    CAdoDatabase();
    virtual ~CAdoDatabase();
    CAdoDatabase(const CAdoDatabase&) = delete;
    CAdoDatabase& operator=(const CAdoDatabase&) = delete;

    void SetLogFile(const QString& fileName);
    bool OpenAccess(const QString& dataSource, const QString& password);
    bool OpenSqlServer(const QString& server, const QString& user, const QString& password, const QString& database);
    bool Open(const QString& connectionString);
    bool Close();
    // One statement that returns no rows; values are bound to its '?' placeholders in order.
    bool Execute(const QString& sql, const QVariantList& values = {});
    // A transaction on the connection; while it is open, a lost server is not reconnected to.
    bool BeginTransaction();
    bool CommitTransaction(); // rolls back when the commit fails
    // When the server went away meanwhile, the connection is closed and the next action
    // opens it anew (ConnectionLost() says so until then).
    void RollbackTransaction();
    bool InTransaction() const { return m_inTransaction; }
    // How many rows the last successful Execute changed.
    int RowsAffected() const { return m_rowsAffected; }
    // Appends an entry to the error log; false when the log could not be written (the
    // system's reason in LogWriteError()). True when no log is kept.
    bool WriteLog(const QString& entry);
    // The entry that follows a failed statement: its text, then the values it was to bind, so
    // that a correction that was not stored can be typed again from the log.
    bool LogStatement(const QString& sql, const QVariantList& values);
    // How many entries could not be written to the log so far, and why the last one failed.
    int LogWriteFailures() const { return m_logWriteFailures; }
    QString LogWriteError() const { return m_logWriteError; }
    // The last failure for a person: the database's own words first, then the provider line.
    QString ErrorText() const { return CombinedErrorText(m_databaseText, szProviderError); }
    void LogError(const QString& context, const QString& comError, const QString& providerError);
    // The database's own code for the last failed statement (PostgreSQL's SQLSTATE, such as
    // 40P01 for a deadlock); a recordset reports its failures here too.
    QString LastErrorCode() const { return m_lastErrorCode; }
    void NoteErrorCode(const QString& code) { m_lastErrorCode = code; }

    // The open connection (the "pConnection" of this object); invalid before the first Open.
    QSqlDatabase connection() const;
    bool hasConnection() const { return !m_connectionName.isEmpty(); }
    // Which SQL dialect the open connection speaks.
    const SqlDialect& dialect() const { return m_dialect; }

    // When a statement failed because the server went away: closes and reopens the
    // connection once and says whether the statement is worth one more try.
    bool ReconnectAfter(const QSqlError& error);
    // Before a statement: when an earlier reconnect found the server still away, tries once
    // more to open; false when the connection is not open (after Close or a failed Open).
    // *reopened tells whether this call already spent the action's one reconnect.
    bool EnsureOpen(bool* reopened);
    // The server went away and could not be reached again by the last action.
    bool ConnectionLost() const { return m_lost; }
    // Qt driver of the connection ("QSQLITE", "QPSQL"), the Source of the error texts.
    QString driverName() const;
    // The SQLite file of the last Open as an absolute path, also when that Open failed; empty
    // for a database server.
    QString databaseFile() const { return m_file; }

    // The integrity check of the SQLite file: while it runs, a write waits for its result; once
    // it has failed, every write is refused with its reason. Null (and after Open): nothing holds
    // writes back.
    void SetIntegrityCheck(std::shared_ptr<SqliteIntegrityCheck> check) { m_integrityCheck = std::move(check); }
    const std::shared_ptr<SqliteIntegrityCheck>& integrityCheck() const { return m_integrityCheck; }

    // The clock that stamps log entries (local time when none is set); a test fixes it.
    using LogClock = QDateTime (*)();
    static void SetLogClock(LogClock clock);

    bool bLog = false;
    QString szLogFile;
    bool bOpen = false;
    QString szDatabase;
    QString szPassword;
    QString szUser;
    QString szServer;
    QString szComError;
    QString szProviderError;

private:
    // Opens the connection and readies a PostgreSQL session for the program's queries.
    bool openConnection(QSqlDatabase& db);
    void dropConnection();
    bool ExecuteControl(const char* context, const QString& sql);
    void fail(const char* context, const QSqlError& error, const QString& source, bool withProvider);
    // Before anything that writes: false, with the reason set and logged (and the statement with
    // its values), when the integrity check did not pass; waits for a check still running.
    bool WriteAllowed(const char* context, const QString& sql = QString(), const QVariantList& values = {});
    // Closes a server connection that went away, so that the next action opens it anew.
    void markConnectionLost();

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
};

// The five-line error text ("Error\n\tCode = ...") for a failure reported by Qt SQL.
QString FormatComError(const QSqlError& error, const QString& source);
// Whether an SQL text holds more than one statement (a semicolon followed by more text,
// outside quotes and comments).
bool HoldsSeveralStatements(const QString& sql);
QSqlError severalStatementsError();
// The failure of a statement on a connection that is closed (after Close or a failed Open).
QSqlError closedConnectionError();
// The provider line ("\t Error number: %x\t%s") for a failure reported by Qt SQL.
QString GetProviderErrors(const QSqlError& error);
// A statement as the error log keeps it: its text, then "Values: " and the bound values as
// they would be typed again.
QString StatementForLog(const QString& sql, const QVariantList& values);
