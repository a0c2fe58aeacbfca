#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include "SqlDialect.h"

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
    void WriteLog(const QString& entry);
    void LogError(const QString& context, const QString& comError, const QString& providerError);

    // The open connection (the "pConnection" of this object); invalid before the first Open.
    QSqlDatabase connection() const;
    bool hasConnection() const { return !m_connectionName.isEmpty(); }
    // Which SQL dialect the open connection speaks.
    const SqlDialect& dialect() const { return m_dialect; }

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
    QString m_connectionName;
    SqlDialect m_dialect;
};

// The five-line error text ("Error\n\tCode = ...") for a failure reported by Qt SQL.
QString FormatComError(const QSqlError& error, const QString& source);
// The provider line ("\t Error number: %x\t%s") for a failure reported by Qt SQL.
QString GetProviderErrors(const QSqlError& error);
