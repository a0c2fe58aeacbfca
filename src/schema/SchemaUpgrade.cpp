#include "SchemaUpgrade.h"

#include "DatabaseConnection.h"
#include "DatabaseProblems.h"
#include "JournalSchema.h"
#include "ProgramRoleRights.h"
#include "SchemaIndexes.h"
#include "SchemaScript.h"
#include "SqliteIntegrityCheck.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

namespace {

// The program's tables and view, as PostgreSQL names them (and SQLite, case aside).
const char* const kProgramTables[] = {"vet_profiles", "results",       "analysers",
                                      "parameters",   "result_values", "vet_profile_normal_values"};
const char kProgramView[] = "vresults2_vet";
const char* const kJournalTables[] = {"correction_journal",  "bulletin_archive",       "signatories",
                                      "bulletin_validation", "critical_notifications", "critical_values",
                                      "signatory_passwords", "signing_attempts"};
// What labrosa-receiver writes: the messages received, their sets, the unmatched results, the
// state of each analyser's connection.
const char* const kReceiverTables[] = {"received_messages", "received_sets", "unmatched_results", "receiver_status",
                                       "parameter_aliases"};

// Tables and views of the database's own schema, in lower case.
const char kSqlSqliteObjects[] = "SELECT lower(name) FROM sqlite_master WHERE type IN ('table', 'view')";
const char kSqlPostgresObjects[] = "SELECT relname FROM pg_class WHERE relkind IN ('r', 'p', 'v') AND relnamespace = "
                                   "(SELECT oid FROM pg_namespace WHERE nspname = current_schema())";
const char kSqlFirstRead[] = "SELECT count(*) FROM sqlite_master";

QAtomicInt g_connectionCounter;

bool objectNames(QSqlDatabase& db, bool sqlite, QStringList* names, QString* error) {
    QSqlQuery q(db);
    if (!q.exec(QString::fromLatin1(sqlite ? kSqlSqliteObjects : kSqlPostgresObjects))) {
        *error = QStringLiteral("nu se pot citi tabelele bazei de date: %1").arg(q.lastError().text());
        return false;
    }
    while (q.next())
        *names << q.value(0).toString();
    return true;
}

} // namespace

SchemaUpgrade::SchemaUpgrade(const QString& programRole) : m_programRole(programRole) {}

// Refuses a database without the program's tables; tells which of the journal's and the
// receiver's tables are missing.
bool SchemaUpgrade::findMissing(QSqlDatabase& db, bool sqlite, const QString& name, QString* error) {
    QStringList present;
    if (!objectNames(db, sqlite, &present, error))
        return false;
    QStringList missing;
    for (const char* table : kProgramTables)
        if (!present.contains(QLatin1String(table)))
            missing << QLatin1String(table);
    if (!present.contains(QLatin1String(kProgramView)))
        missing << QLatin1String(kProgramView);
    if (!missing.isEmpty()) {
        *error = QStringLiteral("%1 nu este o baza de date Labrosa (lipsesc %2); nu s-a schimbat nimic. O baza de "
                                "date noua se face cu --empty sau --demo.")
                     .arg(name, missing.join(QLatin1String(", ")));
        return false;
    }
    m_journalAdded = false;
    for (const char* table : kJournalTables)
        if (!present.contains(QLatin1String(table)))
            m_journalAdded = true;
    m_receiverAdded = false;
    for (const char* table : kReceiverTables)
        if (!present.contains(QLatin1String(table)))
            m_receiverAdded = true;
    return true;
}

bool SchemaUpgrade::upgrade(QSqlDatabase& db, bool sqlite, const QString& name) {
    m_warnings.clear();
    QStringList journal = SchemaScript::statements(SchemaScript::resource(sqlite, true), &m_error);
    if (journal.isEmpty())
        return false;
    const QStringList schema = SchemaScript::statements(SchemaScript::resource(sqlite, false), &m_error);
    if (schema.isEmpty())
        return false;
    QString indexWarning, cryptoWarning;
    if (!sqlite)
        journal.prepend(QStringLiteral("SET LOCAL client_min_messages = warning"));
    const bool ok = SchemaScript::inTransaction(
        db, sqlite,
        [&](QString* e) {
            return findMissing(db, sqlite, name, e) && JournalSchema::make(db, sqlite, journal, &cryptoWarning, e) &&
                   JournalSchema::addLaterColumns(db, sqlite, e) && JournalSchema::checkColumns(db, e) &&
                   SchemaIndexes::make(db, sqlite, schema, &indexWarning, e) &&
                   (m_programRole.isEmpty() || ProgramRoleRights::grant(db, m_programRole, e));
        },
        &m_error);
    for (const QString& warning : {cryptoWarning, indexWarning})
        if (ok && !warning.isEmpty())
            m_warnings << warning;
    return ok;
}

bool SchemaUpgrade::upgradeSqlite(const QString& file) {
    const QFileInfo info(file);
    if (!info.exists()) {
        m_error = QStringLiteral("%1 nu exista; o baza de date noua se face cu --empty sau --demo").arg(file);
        return false;
    }
    if (!info.isFile()) {
        m_error = QStringLiteral("%1 nu este un fisier").arg(file);
        return false;
    }
    bool ok = false;
    // Made before the open, which applies a -wal or -journal lying beside the file.
    SqliteIntegrityCheck check(info.absoluteFilePath());
    const QString connection = QStringLiteral("labrosa-upgrade-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1) + 1);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        // mode=rw: an existing file only, never a new empty one.
        db.setDatabaseName(QStringLiteral("file://") +
                           QString::fromLatin1(QUrl::toPercentEncoding(info.absoluteFilePath(), "/:")) +
                           QStringLiteral("?mode=rw"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
        QString reason;
        // The first read opens the file for good (and rolls back a journal left beside it).
        auto firstRead = [&db, &reason] {
            QSqlQuery probe(db);
            if (probe.exec(QString::fromLatin1(kSqlFirstRead)))
                return true;
            reason = probe.lastError().text();
            return false;
        };
        if (!db.open()) {
            reason = db.lastError().text();
            m_error = QStringLiteral("nu se poate deschide %1: %2").arg(file, reason);
        } else if (!firstRead()) {
            m_error = QStringLiteral("nu se poate citi %1: %2").arg(file, reason);
        } else if (!check.run()) {
            // A damaged file is not written, not even by the checkpoint of its -wal on close.
            SqliteIntegrityCheck::keepWalOnClose(db);
            m_error = damagedDatabaseText(check);
        } else {
            ok = upgrade(db, true, file);
            reason = m_error;
        }
        if (!ok && !reason.isEmpty()) {
            const QString fullDisk = fullDiskText(file, reason.simplified());
            if (!fullDisk.isEmpty())
                m_error = fullDisk;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

bool SchemaUpgrade::upgradePostgres(const QString& connectionString, const QString& name) {
    DatabaseConnection ado;
    if (!ado.open(connectionString)) {
        m_error = QStringLiteral("cannot connect to PostgreSQL: %1").arg(databaseReason(ado));
        return false;
    }
    QSqlDatabase db = ado.connection();
    return upgrade(db, false, name);
}
