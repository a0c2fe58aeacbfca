#include "SchemaCreator.h"

#include "DatabaseConnection.h"
#include "DatabaseProblems.h"
#include "JournalSchema.h"
#include "ProgramRoleRights.h"
#include "SchemaIndexes.h"
#include "SchemaScript.h"

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const char kSqlProgramTablesPresent[] =
    "SELECT COUNT(*) FROM pg_tables WHERE schemaname = current_schema() AND tablename IN "
    "('vet_profiles', 'results', 'analysers', 'parameters', 'result_values', "
    "'vet_profile_normal_values', 'correction_journal', 'bulletin_archive', 'signatories', "
    "'bulletin_validation', 'critical_notifications', 'critical_values', "
    "'signatory_passwords', 'signing_attempts', 'received_messages', 'received_sets', "
    "'unmatched_results', 'receiver_status', 'parameter_aliases')";

// Objects outside the program's tables and view that depend on them (a view, a foreign key
// or a column default of another table, a function of a row type, ...) and that a DROP
// with CASCADE would take along, each described as the database names it. The tables' own
// parts (indexes, triggers, constraints, owned sequences, row types) go with the tables.
const char kSqlForeignDependents[] = R"SQL(
WITH own AS (
    SELECT c.oid FROM pg_class c
    WHERE c.relnamespace = (SELECT n.oid FROM pg_namespace n WHERE n.nspname = current_schema())
      AND c.relname IN ('vet_profiles', 'results', 'analysers', 'parameters', 'result_values',
                        'vet_profile_normal_values', 'vresults2_vet', 'correction_journal', 'bulletin_archive',
                        'signatories', 'bulletin_validation', 'critical_notifications', 'critical_values',
                        'signatory_passwords', 'signing_attempts')
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

// No CASCADE: should anything else depend on these after all, the database refuses and the
// transaction leaves everything as it was.
const char kSqlDropProgramView[] = "DROP VIEW IF EXISTS vResults2_vet";
const char kSqlDropProgramTables[] =
    "DROP TABLE IF EXISTS result_values, vet_profile_normal_values, parameters, analysers, results, "
    "vet_profiles, correction_journal, bulletin_archive, signatories, bulletin_validation, "
    "parameter_delta_limits, critical_notifications, critical_values, content_revisions, "
    "signatory_passwords, signing_attempts, unmatched_results, received_sets, received_messages, "
    "receiver_status, parameter_aliases";
// After rows with ids of their own, the next id drawn follows them.
const char kSqlAdvanceIdSequence[] = "SELECT setval(pg_get_serial_sequence('%1', 'id'), "
                                     "GREATEST(COALESCE(MAX(id), 0), 1), MAX(id) IS NOT NULL) FROM %1";

const char kMsgOthersDepend[] = "nu s-a sters nimic: in baza de date \"%1\" exista obiecte care nu sunt ale "
                                "programului si depind de tabelele lui: %2. Mutati-le sau stergeti-le intai.";

QAtomicInt g_connectionCounter;

void removeSqliteFiles(const QString& file) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(file + QLatin1String(suffix));
}

} // namespace

SchemaCreator::SchemaCreator(const Options& options) : m_options(options) {}

bool SchemaCreator::fill(QSqlDatabase& db, bool sqlite, const QStringList& before, const QStringList& after) {
    m_summary = DemoSummary();
    m_warnings.clear();
    const QStringList schema = SchemaScript::statements(SchemaScript::resource(sqlite, false), &m_error);
    const QStringList journal =
        schema.isEmpty() ? QStringList() : SchemaScript::statements(SchemaScript::resource(sqlite, true), &m_error);
    if (schema.isEmpty() || journal.isEmpty())
        return false;
    QStringList structure;
    for (const QString& sql : schema)
        if (SchemaScript::isStructure(sql))
            structure << sql;
    QString indexWarning, cryptoWarning;
    const bool ok = SchemaScript::inTransaction(
        db, sqlite,
        [&](QString* e) {
            return SchemaScript::runAll(db, before + structure, e) &&
                   JournalSchema::make(db, sqlite, journal, &cryptoWarning, e) &&
                   (!m_options.demo || fillDemoData(db, m_options.demoOptions, &m_summary, e)) &&
                   SchemaScript::runAll(db, after, e) && SchemaIndexes::make(db, sqlite, schema, &indexWarning, e) &&
                   (m_options.programRole.isEmpty() || ProgramRoleRights::grant(db, m_options.programRole, e));
        },
        &m_error);
    for (const QString& warning : {cryptoWarning, indexWarning})
        if (ok && !warning.isEmpty())
            m_warnings << warning;
    return ok;
}

bool SchemaCreator::createSqlite(const QString& file) {
    const QFileInfo info(file);
    if (info.exists()) {
        if (!info.isFile()) {
            m_error = QStringLiteral("%1 is not a file").arg(file);
            return false;
        }
        if (info.size() > 0 && !m_options.force) {
            m_error = QStringLiteral("%1 already exists and holds data; use --force to replace it").arg(file);
            return false;
        }
    }
    removeSqliteFiles(file);

    bool ok = false;
    const QString name = QStringLiteral("labrosa-schema-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1) + 1);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.open()) {
            m_error = QStringLiteral("cannot create %1: %2").arg(file, db.lastError().text());
        } else {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next() ||
                q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
                m_error = QStringLiteral("cannot switch %1 to WAL journal mode: %2").arg(file, q.lastError().text());
            } else {
                q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
                q.finish();
                ok = fill(db, true);
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    // Leave nothing half made behind.
    if (!ok)
        removeSqliteFiles(file);
    return ok;
}

// Names what of the laboratory's own depends on the program's tables; false with the names.
bool SchemaCreator::refuseForeignDependents(QSqlDatabase& db, const QString& databaseName) {
    QSqlQuery dependents(db);
    if (!dependents.exec(QString::fromLatin1(kSqlForeignDependents))) {
        m_error =
            QStringLiteral("cannot read what depends on the results tables: %1").arg(dependents.lastError().text());
        return false;
    }
    QStringList names;
    while (dependents.next())
        names << dependents.value(0).toString();
    if (names.isEmpty())
        return true;
    m_error = QString::fromLatin1(kMsgOthersDepend).arg(databaseName, names.join(QLatin1String("; ")));
    return false;
}

bool SchemaCreator::createPostgres(const QString& connectionString) {
    DatabaseConnection ado;
    if (!ado.open(connectionString)) {
        m_error = QStringLiteral("cannot connect to PostgreSQL: %1").arg(databaseReason(ado));
        return false;
    }
    QSqlDatabase db = ado.connection();
    QSqlQuery probe(db);
    if (!probe.exec(QString::fromLatin1(kSqlProgramTablesPresent)) || !probe.next()) {
        m_error = QStringLiteral("cannot read the database's tables: %1").arg(probe.lastError().text());
        return false;
    }
    const bool exists = probe.value(0).toInt() > 0;
    probe.finish();
    if (exists && !m_options.force) {
        m_error = QStringLiteral("database \"%1\" already holds the results tables; use --force to replace them")
                      .arg(ado.m_databaseName);
        return false;
    }
    if (!refuseForeignDependents(db, ado.m_databaseName))
        return false;
    const QStringList before = {
        QStringLiteral("SET LOCAL client_min_messages = warning"),
        QLatin1String(kSqlDropProgramView),
        QLatin1String(kSqlDropProgramTables),
    };
    QStringList after;
    for (const char* table : {"results", "result_values", "vet_profile_normal_values"})
        after << QString::fromLatin1(kSqlAdvanceIdSequence).arg(QLatin1String(table));
    return fill(db, false, before, after);
}
