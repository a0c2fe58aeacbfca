#include "SchemaIndexes.h"

#include "SchemaScript.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

const char kSqlTrigramOffered[] = "SELECT 1 FROM pg_available_extensions WHERE name = 'pg_trgm'";

const char kMsgNoTrigram[] = "extensia pg_trgm lipseste (%1): cautarea dupa o parte din nume merge, dar citeste toate "
                             "seturile. Instalati pe server pachetul postgresql-contrib si rulati din nou "
                             "labrosa-dbtool --upgrade cu un rol care poate crea extensia.";

// The statements that need PostgreSQL's pg_trgm extension (the extension itself, its index).
bool needsTrigram(const QString& sql) {
    return sql.contains(QLatin1String("trgm"), Qt::CaseInsensitive);
}

} // namespace

bool SchemaIndexes::make(QSqlDatabase& db, bool sqlite, const QStringList& schema, QString* warning, QString* error) {
    QStringList plain, trigram;
    for (const QString& sql : schema) {
        if (SchemaScript::isStructure(sql))
            continue;
        (!sqlite && needsTrigram(sql) ? trigram : plain) << sql;
    }
    if (!trigram.isEmpty()) {
        QSqlQuery offered(db);
        if (!offered.exec(QString::fromLatin1(kSqlTrigramOffered))) {
            *error = offered.lastError().text();
            return false;
        }
        if (!offered.next()) {
            *warning = QString::fromLatin1(kMsgNoTrigram).arg(QStringLiteral("serverul nu il are"));
        } else {
            // A role that may not create the extension leaves the rest of the work intact.
            if (!SchemaScript::run(db, QStringLiteral("SAVEPOINT trigram"), error))
                return false;
            QString reason;
            if (SchemaScript::runAll(db, trigram, &reason)) {
                if (!SchemaScript::run(db, QStringLiteral("RELEASE SAVEPOINT trigram"), error))
                    return false;
            } else {
                if (!SchemaScript::run(db, QStringLiteral("ROLLBACK TO SAVEPOINT trigram"), error))
                    return false;
                *warning = QString::fromLatin1(kMsgNoTrigram).arg(reason.section(QLatin1Char('\n'), 0, 0));
            }
        }
    }
    // ANALYZE last, so that it sees every index.
    return SchemaScript::runAll(db, plain, error);
}
