// labrosa-dbtool: creates the results database's schema, optionally with demo data.

#include "CAdoDatabase.h"
#include "ConnectionString.h"
#include "DemoData.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

namespace {

const char kUsage[] = "usage: labrosa-dbtool [--empty | --demo] [--seed N] [--results N] [--end-date YYYY-MM-DD]\n"
                      "                      [--months N] [--force] <sqlite file | connection string>\n";

struct Options {
    bool demo = false;
    bool force = false;
    DemoOptions demoOptions;
    QString target;
};

void fail(const QString& message) {
    std::fprintf(stderr, "labrosa-dbtool: %s\n", message.toUtf8().constData());
}

bool parseNumber(const QString& text, qint64 min, qint64 max, qint64* value) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

bool parseArguments(const QStringList& args, Options* options, QString* error) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        auto next = [&](QString* value) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(a);
                return false;
            }
            *value = args.at(++i);
            return true;
        };
        QString value;
        qint64 number = 0;
        if (a == QLatin1String("--empty")) {
            options->demo = false;
        } else if (a == QLatin1String("--demo")) {
            options->demo = true;
        } else if (a == QLatin1String("--force")) {
            options->force = true;
        } else if (a == QLatin1String("--seed")) {
            if (!next(&value) || !parseNumber(value, 0, 4294967295LL, &number)) {
                *error = QStringLiteral("--seed needs a whole number from 0 to 4294967295");
                return false;
            }
            options->demoOptions.seed = std::uint32_t(number);
        } else if (a == QLatin1String("--results")) {
            if (!next(&value) || !parseNumber(value, 0, 100000000, &number)) {
                *error = QStringLiteral("--results needs a whole number from 0 to 100000000");
                return false;
            }
            options->demoOptions.results = int(number);
        } else if (a == QLatin1String("--months")) {
            if (!next(&value) || !parseNumber(value, 1, 1200, &number)) {
                *error = QStringLiteral("--months needs a whole number from 1 to 1200");
                return false;
            }
            options->demoOptions.months = int(number);
        } else if (a == QLatin1String("--end-date")) {
            if (!next(&value))
                return false;
            const QDate d = QDate::fromString(value, QStringLiteral("yyyy-MM-dd"));
            if (!d.isValid()) {
                *error = QStringLiteral("--end-date needs a date as YYYY-MM-DD, not \"%1\"").arg(value);
                return false;
            }
            options->demoOptions.endDate = d;
        } else if (a.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("unknown option %1").arg(a);
            return false;
        } else if (options->target.isEmpty()) {
            options->target = a;
        } else {
            *error = QStringLiteral("only one database may be named");
            return false;
        }
    }
    if (options->target.isEmpty()) {
        *error = QStringLiteral("no database named");
        return false;
    }
    return true;
}

// The schema file's statements: comment lines dropped, split at the semicolons.
QStringList schemaStatements(const QString& resource, QString* error) {
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the built-in schema %1").arg(resource);
        return {};
    }
    QString text;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines)
        if (!line.trimmed().startsWith(QLatin1String("--")))
            text += line + QLatin1Char('\n');
    QStringList statements;
    for (const QString& part : text.split(QLatin1Char(';')))
        if (!part.trimmed().isEmpty())
            statements << part.trimmed();
    return statements;
}

bool run(QSqlDatabase& db, const QString& sql, QString* error) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        *error = QStringLiteral("%1\n  in: %2").arg(q.lastError().text(), sql.left(200));
        return false;
    }
    return true;
}

bool fill(QSqlDatabase& db, const QString& schemaResource, const Options& options, DemoSummary* summary, QString* error,
          const QStringList& before = {}, const QStringList& after = {}) {
    QStringList statements = schemaStatements(schemaResource, error);
    if (statements.isEmpty())
        return false;
    statements = before + statements;
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    for (const QString& sql : statements) {
        if (!run(db, sql, error)) {
            db.rollback();
            return false;
        }
    }
    if (options.demo && !FillDemoData(db, options.demoOptions, summary, error)) {
        db.rollback();
        return false;
    }
    for (const QString& sql : after) {
        if (!run(db, sql, error)) {
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        *error = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

void removeSqliteFiles(const QString& file) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(file + QLatin1String(suffix));
}

int createSqlite(const QString& file, const Options& options, DemoSummary* summary) {
    const QFileInfo info(file);
    if (info.exists()) {
        if (!info.isFile()) {
            fail(QStringLiteral("%1 is not a file").arg(file));
            return 1;
        }
        if (info.size() > 0 && !options.force) {
            fail(QStringLiteral("%1 already exists and holds data; use --force to replace it").arg(file));
            return 1;
        }
    }
    removeSqliteFiles(file);

    QString error;
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbtool"));
        db.setDatabaseName(file);
        if (!db.open()) {
            error = QStringLiteral("cannot create %1: %2").arg(file, db.lastError().text());
        } else {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next() ||
                q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
                error = QStringLiteral("cannot switch %1 to WAL journal mode: %2").arg(file, q.lastError().text());
            } else {
                q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
                q.finish();
                ok = fill(db, QStringLiteral(":/schema/sqlite.sql"), options, summary, &error);
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("dbtool"));
    if (!ok) {
        // Leave nothing half made behind.
        removeSqliteFiles(file);
        fail(error);
        return 1;
    }
    return 0;
}

// The description line of the database layer's error text, for a one-line message.
QString describe(const CAdoDatabase& ado) {
    for (const QString& line : ado.szComError.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("\tDescription = ")))
            return line.mid(15).trimmed();
    return ado.szComError.simplified();
}

// Objects outside the program's tables and view that depend on them (a view, a foreign key
// or a column default of another table, a function of a row type, ...) and that a DROP
// with CASCADE would take along, each described as the database names it. The tables' own
// parts (indexes, triggers, constraints, owned sequences, row types) go with the tables.
const char kForeignDependentsSql[] = R"SQL(
WITH own AS (
    SELECT c.oid FROM pg_class c
    WHERE c.relnamespace = (SELECT n.oid FROM pg_namespace n WHERE n.nspname = current_schema())
      AND c.relname IN ('vet_profiles', 'results', 'analysers', 'parameters', 'result_values',
                        'vet_profile_normal_values', 'vresults2_vet')
), parts AS (
    SELECT 'pg_class'::regclass::oid AS classid, oid AS objid FROM own
    UNION
    SELECT d.classid, d.objid FROM pg_depend d
    WHERE d.refclassid = 'pg_class'::regclass AND d.refobjid IN (SELECT oid FROM own) AND d.deptype IN ('a', 'i')
    UNION
    SELECT 'pg_type'::regclass::oid, t.typarray FROM pg_type t
    WHERE t.typrelid IN (SELECT oid FROM own) AND t.typarray <> 0
), dependents AS (
    SELECT DISTINCT d.classid, d.objid, d.objsubid FROM pg_depend d
    JOIN parts p ON p.classid = d.refclassid AND p.objid = d.refobjid
    WHERE d.deptype = 'n'
      AND NOT EXISTS (SELECT 1 FROM parts q WHERE q.classid = d.classid AND q.objid = d.objid)
)
SELECT DISTINCT CASE WHEN d.classid = 'pg_rewrite'::regclass
                     THEN pg_describe_object('pg_class'::regclass, r.ev_class, 0)
                     ELSE pg_describe_object(d.classid, d.objid, d.objsubid) END AS description
FROM dependents d
LEFT JOIN pg_rewrite r ON d.classid = 'pg_rewrite'::regclass AND r.oid = d.objid
ORDER BY 1
)SQL";

const char kMsgOthersDepend[] = "nu s-a sters nimic: in baza de date \"%1\" exista obiecte care nu sunt ale "
                                "programului si depind de tabelele lui: %2. Mutati-le sau stergeti-le intai.";

// The tables go into the database the connection string names; with --force the program's
// tables and view are dropped first, anything else in the database is left alone: when
// something of the laboratory's own depends on them, nothing is dropped at all.
int createPostgres(const QString& connectionString, const Options& options, DemoSummary* summary) {
    CAdoDatabase ado;
    if (!ado.Open(connectionString)) {
        fail(QStringLiteral("cannot connect to PostgreSQL: %1").arg(describe(ado)));
        return 1;
    }
    QSqlDatabase db = ado.connection();
    QSqlQuery probe(db);
    if (!probe.exec(
            QStringLiteral("SELECT COUNT(*) FROM pg_tables WHERE schemaname = current_schema() AND tablename IN "
                           "('vet_profiles', 'results', 'analysers', 'parameters', 'result_values', "
                           "'vet_profile_normal_values')")) ||
        !probe.next()) {
        fail(QStringLiteral("cannot read the database's tables: %1").arg(probe.lastError().text()));
        return 1;
    }
    const bool exists = probe.value(0).toInt() > 0;
    probe.finish();
    if (exists && !options.force) {
        fail(QStringLiteral("database \"%1\" already holds the results tables; use --force to replace them")
                 .arg(ado.szDatabase));
        return 1;
    }
    QSqlQuery dependents(db);
    if (!dependents.exec(QString::fromLatin1(kForeignDependentsSql))) {
        fail(QStringLiteral("cannot read what depends on the results tables: %1").arg(dependents.lastError().text()));
        return 1;
    }
    QStringList names;
    while (dependents.next())
        names << dependents.value(0).toString();
    dependents.finish();
    if (!names.isEmpty()) {
        fail(QString::fromLatin1(kMsgOthersDepend).arg(ado.szDatabase, names.join(QLatin1String("; "))));
        return 1;
    }
    // No CASCADE: should anything else depend on these after all, the database refuses and
    // the transaction leaves everything as it was.
    const QStringList before = {
        QStringLiteral("SET LOCAL client_min_messages = warning"),
        QStringLiteral("DROP VIEW IF EXISTS vResults2_vet"),
        QStringLiteral("DROP TABLE IF EXISTS result_values, vet_profile_normal_values, parameters, analysers, results, "
                       "vet_profiles"),
    };
    QStringList after;
    for (const char* table : {"results", "result_values", "vet_profile_normal_values"})
        after << QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', 'id'), GREATEST(COALESCE(MAX(id), 0), 1), "
                                "MAX(id) IS NOT NULL) FROM %1")
                     .arg(QLatin1String(table));
    QString error;
    if (!fill(db, QStringLiteral(":/schema/postgresql.sql"), options, summary, &error, before, after)) {
        fail(error);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    Options options;
    QString error;
    const QStringList args = app.arguments();
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!parseArguments(args, &options, &error)) {
        fail(error);
        std::fputs(kUsage, stderr);
        return 2;
    }

    QElapsedTimer timer;
    timer.start();
    DemoSummary summary;
    QString described = options.target;
    int rc = 1;
    if (options.target.contains(QLatin1Char('='))) {
        const ConnectionString cs = ConnectionString::parse(options.target);
        if (cs.isSQLite()) {
            described = cs.sqliteFile();
            if (described.isEmpty()) {
                fail(QStringLiteral("the connection string names no Data Source"));
                return 1;
            }
            rc = createSqlite(described, options, &summary);
        } else if (cs.isPostgreSQL()) {
            described = QStringLiteral("PostgreSQL database %1 on %2")
                            .arg(cs.value(QStringLiteral("database")), cs.value(QStringLiteral("server")));
            rc = createPostgres(options.target, options, &summary);
        } else {
            fail(QStringLiteral("unsupported provider \"%1\" (use SQLite or PostgreSQL)").arg(cs.provider()));
            return 1;
        }
    } else {
        rc = createSqlite(options.target, options, &summary);
    }
    if (rc != 0)
        return rc;

    std::printf(
        "labrosa-dbtool: created %s (%s): %d profiles, %d analysers, %d parameters, %d reference intervals, "
        "%lld result sets, %lld values in %.1f s\n",
        described.toUtf8().constData(),
        options.demo ? QStringLiteral("demo, seed %1").arg(options.demoOptions.seed).toUtf8().constData() : "empty",
        summary.profiles, summary.analysers, summary.parameters, summary.intervals,
        static_cast<long long>(summary.results), static_cast<long long>(summary.values), timer.elapsed() / 1000.0);
    return 0;
}
