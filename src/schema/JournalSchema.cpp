#include "JournalSchema.h"

#include "SchemaScript.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

const char* const kJournalColumnProbes[] = {
    "SELECT id, resultID, RequestID, field, oldValue, newValue, changedAt, userName, workstation "
    "FROM CORRECTION_JOURNAL WHERE 1 = 0",
    "SELECT id, resultID, RequestID, madeAt, userName, workstation, contentHash, content "
    "FROM BULLETIN_ARCHIVE WHERE 1 = 0",
    "SELECT reason, correctionMark FROM CORRECTION_JOURNAL WHERE 1 = 0",
    "SELECT id, userName, fullName, title, active FROM SIGNATORIES WHERE 1 = 0",
    "SELECT id, RequestID, resultIDs, contentHash, validatedAt, userName, workstation, fullName, title "
    "FROM BULLETIN_VALIDATION WHERE 1 = 0",
    "SELECT id, profileID, refcode, sex, criticalLow, criticalHigh FROM CRITICAL_VALUES WHERE 1 = 0",
    "SELECT id, RequestID, resultIDs, toldName, toldContact, toldAt, recordedAt, userName, workstation "
    "FROM CRITICAL_NOTIFICATIONS WHERE 1 = 0",
    "SELECT userName, passwordHash, setAt FROM SIGNATORY_PASSWORDS WHERE 1 = 0",
    "SELECT id, userName, attemptedAt, accepted, workstation FROM SIGNING_ATTEMPTS WHERE 1 = 0",
    "SELECT toldValues FROM CRITICAL_NOTIFICATIONS WHERE 1 = 0",
};

const char kSqlColumnPresent[] = "SELECT COUNT(*) FROM pragma_table_info(?) WHERE lower(name) = lower(?)";

const char kMsgNoCrypto[] = "extensia pgcrypto lipseste (%1): parolele de semnare nu se pot pune si buletinele nu se "
                            "pot valida. Instalati pe server pachetul postgresql-contrib si rulati din nou "
                            "labrosa-dbtool --upgrade cu un rol care poate crea extensia.";

struct AddedColumn {
    const char* table;
    const char* column;
    const char* sqliteType;
    const char* postgresType;
};
const AddedColumn kAddedColumns[] = {
    {"CORRECTION_JOURNAL", "reason", "TEXT", "TEXT"},
    {"CORRECTION_JOURNAL", "correctionMark", "VARCHAR(36)", "VARCHAR(36)"},
    {"BULLETIN_ARCHIVE", "TransDay", "VARCHAR(10)", "VARCHAR(10)"},
    {"BULLETIN_ARCHIVE", "purpose", "VARCHAR(20)", "VARCHAR(20)"},
    {"BULLETIN_VALIDATION", "TransDay", "VARCHAR(10)", "VARCHAR(10)"},
    {"BULLETIN_VALIDATION", "fingerprint", "CHAR(64)", "CHAR(64)"},
    {"BULLETIN_VALIDATION", "signedContent", "TEXT", "TEXT"},
    {"BULLETIN_VALIDATION", "contentRevision", "INTEGER", "BIGINT"},
    {"BULLETIN_VALIDATION", "referenceRevision", "INTEGER", "BIGINT"},
    {"CRITICAL_NOTIFICATIONS", "toldValues", "TEXT", "TEXT"},
};

} // namespace

bool JournalSchema::make(QSqlDatabase& db, bool sqlite, const QStringList& journal, QString* warning, QString* error) {
    for (const QString& sql : journal) {
        if (sqlite || !sql.contains(QLatin1String("EXTENSION IF NOT EXISTS pgcrypto"))) {
            if (!SchemaScript::run(db, sql, error))
                return false;
            continue;
        }
        if (!SchemaScript::run(db, QStringLiteral("SAVEPOINT crypto"), error))
            return false;
        QString reason;
        if (SchemaScript::run(db, sql, &reason)) {
            if (!SchemaScript::run(db, QStringLiteral("RELEASE SAVEPOINT crypto"), error))
                return false;
        } else {
            if (!SchemaScript::run(db, QStringLiteral("ROLLBACK TO SAVEPOINT crypto"), error))
                return false;
            *warning = QString::fromLatin1(kMsgNoCrypto).arg(reason.section(QLatin1Char('\n'), 0, 0));
        }
    }
    return true;
}

bool JournalSchema::addLaterColumns(QSqlDatabase& db, bool sqlite, QString* error) {
    for (const AddedColumn& added : kAddedColumns) {
        const QString table = QLatin1String(added.table), column = QLatin1String(added.column);
        if (!sqlite) {
            if (!SchemaScript::run(db,
                                   QStringLiteral("ALTER TABLE %1 ADD COLUMN IF NOT EXISTS %2 %3")
                                       .arg(table, column, QLatin1String(added.postgresType)),
                                   error))
                return false;
            continue;
        }
        QSqlQuery q(db);
        q.prepare(QString::fromLatin1(kSqlColumnPresent));
        q.addBindValue(table);
        q.addBindValue(column);
        if (!q.exec() || !q.next()) {
            *error = q.lastError().text();
            return false;
        }
        const bool present = q.value(0).toInt() > 0;
        q.finish();
        if (!present &&
            !SchemaScript::run(
                db,
                QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3").arg(table, column, QLatin1String(added.sqliteType)),
                error))
            return false;
    }
    return true;
}

bool JournalSchema::checkColumns(QSqlDatabase& db, QString* error) {
    for (const char* sql : kJournalColumnProbes) {
        QSqlQuery q(db);
        if (!q.exec(QString::fromLatin1(sql))) {
            *error = QStringLiteral("in baza de date exista deja o tabela cu numele jurnalului sau al arhivei, dar cu "
                                    "alte coloane; nu s-a schimbat nimic: %1")
                         .arg(q.lastError().text());
            return false;
        }
    }
    return true;
}
