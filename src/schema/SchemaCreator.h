#pragma once

#include "DemoData.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Makes the results database's tables, the journal's and the receiver's, empty or with demo
// data, in one transaction: a SQLite file, or the PostgreSQL database a connection string names.
// Works on a connection of its own, so it may run on any thread; it never shows anything.
class SchemaCreator {
public:
    struct Options {
        bool demo = false;
        DemoOptions demoOptions;
        // An existing database is replaced (everything in it is lost); without it refused.
        bool force = false;
        // PostgreSQL: the role the program works with gets its rights (ProgramRoleRights).
        QString programRole;
    };

    explicit SchemaCreator(const Options& options);

    // A file that holds data is refused without force; nothing half made is left behind.
    bool createSqlite(const QString& file);
    // With force the program's tables and view are dropped first and anything else in the
    // database is left alone; when something of the laboratory's own depends on them, nothing is
    // dropped at all.
    bool createPostgres(const QString& connectionString);

    // Why the last creation failed.
    const QString& error() const { return m_error; }
    // What does not work although the tables were made (a server without an extension).
    const QStringList& warnings() const { return m_warnings; }
    // The rows the demo data added (all zero for an empty database).
    const DemoSummary& summary() const { return m_summary; }

private:
    bool fill(QSqlDatabase& db, bool sqlite, const QStringList& before = {}, const QStringList& after = {});
    bool refuseForeignDependents(QSqlDatabase& db, const QString& databaseName);

    Options m_options;
    QString m_error;
    QStringList m_warnings;
    DemoSummary m_summary;
};
