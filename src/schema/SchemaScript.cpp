#include "SchemaScript.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

QString SchemaScript::resource(bool sqlite, bool journal) {
    if (journal)
        return sqlite ? QStringLiteral(":/schema/journal-sqlite.sql")
                      : QStringLiteral(":/schema/journal-postgresql.sql");
    return sqlite ? QStringLiteral(":/schema/sqlite.sql") : QStringLiteral(":/schema/postgresql.sql");
}

QStringList SchemaScript::statements(const QString& resource, QString* error) {
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("nu se poate citi schema inclusa %1").arg(resource);
        return {};
    }
    QStringList statements;
    QString current;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1String("--")))
            continue;
        current += line + QLatin1Char('\n');
        if (trimmed.endsWith(QLatin1Char(';'))) {
            current = current.trimmed();
            current.chop(1);
            if (!current.trimmed().isEmpty())
                statements << current.trimmed();
            current.clear();
        }
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    if (statements.isEmpty())
        *error = QStringLiteral("schema inclusa %1 este goala").arg(resource);
    return statements;
}

// The tables and the view of the schema file, made before any row; the rest (indexes, the
// name search's shadow table and triggers, statistics) is made after the rows, which is much
// faster than keeping it up to date row by row, and is applied again by an upgrade.
bool SchemaScript::isStructure(const QString& sql) {
    return sql.startsWith(QLatin1String("CREATE TABLE"), Qt::CaseInsensitive) ||
           sql.startsWith(QLatin1String("CREATE VIEW"), Qt::CaseInsensitive);
}

bool SchemaScript::run(QSqlDatabase& db, const QString& sql, QString* error) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        *error = QStringLiteral("%1\n  in: %2").arg(q.lastError().text(), sql.left(200));
        return false;
    }
    return true;
}

bool SchemaScript::runAll(QSqlDatabase& db, const QStringList& statements, QString* error) {
    for (const QString& sql : statements)
        if (!run(db, sql, error))
            return false;
    return true;
}

// SQLite takes the write lock at once, since a plain BEGIN that reads first fails when another
// workstation writes.
bool SchemaScript::inTransaction(QSqlDatabase& db, bool sqlite, const std::function<bool(QString*)>& steps,
                                 QString* error) {
    auto rollback = [&] {
        if (sqlite)
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        else
            db.rollback();
    };
    const bool begun = sqlite ? run(db, QStringLiteral("BEGIN IMMEDIATE"), error) : db.transaction();
    if (!begun) {
        if (!sqlite)
            *error = db.lastError().text();
        return false;
    }
    if (!steps(error)) {
        rollback();
        return false;
    }
    const bool committed = sqlite ? run(db, QStringLiteral("COMMIT"), error) : db.commit();
    if (!committed) {
        if (!sqlite)
            *error = db.lastError().text();
        rollback();
        return false;
    }
    return true;
}
