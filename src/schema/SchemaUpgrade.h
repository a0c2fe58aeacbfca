#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Brings a database of the program's up to date in one transaction, without changing its data:
// adds the journal, the archive and the receiver's tables with the columns added since, applies
// the search's indexes again (the name search's shadow filled afresh) and, on PostgreSQL, gives
// the program's role its rights. A database without the program's tables is refused untouched;
// it may run again at any time. Works on a connection of its own and never shows anything.
class SchemaUpgrade {
public:
    // PostgreSQL: the role the program works with gets its rights (ProgramRoleRights).
    explicit SchemaUpgrade(const QString& programRole = QString());

    // An existing file only, after its integrity check; a damaged one is not written.
    bool upgradeSqlite(const QString& file);
    // name: the database as messages call it.
    bool upgradePostgres(const QString& connectionString, const QString& name);

    // Whether a table of the journal was missing, and one of the receiver's.
    bool journalAdded() const { return m_journalAdded; }
    bool receiverAdded() const { return m_receiverAdded; }
    const QString& error() const { return m_error; }
    // What does not work although the upgrade was made (a server without an extension).
    const QStringList& warnings() const { return m_warnings; }

private:
    bool upgrade(QSqlDatabase& db, bool sqlite, const QString& name);
    bool findMissing(QSqlDatabase& db, bool sqlite, const QString& name, QString* error);

    QString m_programRole;
    bool m_journalAdded = false;
    bool m_receiverAdded = false;
    QString m_error;
    QStringList m_warnings;
};
