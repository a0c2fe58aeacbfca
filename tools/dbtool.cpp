// labrosa-dbtool: creates the results database's schema, optionally with demo data, and adds
// the correction journal and bulletin archive to a database made before they existed.

#include "BackupCommand.h"
#include "ConnectionString.h"
#include "CriticalLimitCommand.h"
#include "DatabaseConnection.h"
#include "DatabaseProblems.h"
#include "DeltaLimitCommand.h"
#include "DemoData.h"
#include "MdbImport.h"
#include "SignatoryCommand.h"
#include "SqliteIntegrityCheck.h"
#include "ValidationAuditCommand.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTextStream>
#include <QUrl>

#include <cstdio>
#include <functional>

namespace {

const char kUsage[] =
    "usage: labrosa-dbtool [--empty | --demo] [--seed N] [--results N] [--end-date YYYY-MM-DD]\n"
    "                      [--months N] [--force] [--program-role ROLE] <sqlite file | connection string>\n"
    "       labrosa-dbtool --upgrade [--program-role ROLE] <sqlite file | connection string>\n"
    "       labrosa-dbtool --import-mdb FILE.mdb [--map MAPARE] [--replace] <sqlite file | connection string>\n"
    "       labrosa-dbtool --signatory add LOGIN \"NUME\" \"TITLU\" | remove LOGIN | password LOGIN | list\n"
    "                      <sqlite file | connection string>\n"
    "       labrosa-dbtool --delta-limit set MACHINEID REFCODE MAXIM PROCENT | clear MACHINEID REFCODE | list\n"
    "                      <sqlite file | connection string>\n"
    "       labrosa-dbtool --critical-limit set PROFIL COD SEX MIN MAX | clear PROFIL COD SEX | list\n"
    "                      <sqlite file | connection string>\n"
    "       labrosa-dbtool --validations request CERERE | days DE_LA PANA_LA <sqlite file | connection string>\n"
    "       labrosa-dbtool --backup DOSAR <sqlite file | connection string>\n"
    "       labrosa-dbtool --restore DOSAR_COPIE <sqlite file>\n"
    "\n"
    "  --empty, --demo       creeaza baza de date (goala sau cu date demonstrative), cu jurnalul\n"
    "                        corecturilor si arhiva buletinelor\n"
    "  --upgrade             adauga jurnalul corecturilor, arhiva buletinelor, tabelele receptorului\n"
    "                        de la analizoare si indexurile cautarii unei baze de date existente,\n"
    "                        fara sa schimbe datele; se poate rula din nou fara grija\n"
    "  --force               inlocuieste o baza de date existenta (tot ce contine se pierde)\n"
    "  --program-role ROLE   PostgreSQL: rolul cu care lucreaza programul primeste doar drepturile\n"
    "                        lui (orice alt drept dat inainte ii este luat); in jurnal si in arhiva\n"
    "                        poate doar adauga si citi randuri\n"
    "  --import-mdb FILE.mdb aduce rezultatele dintr-o baza de date Access (Jet 3 sau 4) intr-o baza de\n"
    "                        date existenta, totul sau nimic; --map da maparea tabelelor si coloanelor,\n"
    "                        --replace inlocuieste randurile care exista deja\n"
    "  --signatory           semnatarii laboratorului, care pot valida buletine: add adauga (sau reactiveaza)\n"
    "                        un semnatar, remove il face inactiv (randul si validarile lui raman), list ii arata;\n"
    "                        password ii pune parola de semnare, citita de la intrarea standard (fara ecou\n"
    "                        la terminal, de doua ori)\n"
    "  --delta-limit         cea mai mare schimbare plauzibila a unui parametru intre doua seturi ale\n"
    "                        aceluiasi pacient: set o da (MAXIM in unitatea parametrului, PROCENT din\n"
    "                        valoarea anterioara, - cand lipseste), clear o sterge, list le arata\n"
    "  --critical-limit      limitele critice ale unui parametru (COD) pentru un profil si un sex (\"\": oricare;\n"
    "                        cel al sexului setului are intaietate): set le pune (MIN sau MAX \"\": fara),\n"
    "                        clear le sterge, list le arata\n"
    "  --validations         fiecare validare a unei cereri (sau a buletinelor zilelor de transfer date,\n"
    "                        AAAA-LL-ZZ) si daca datele de azi sunt inca cele semnate; iese cu 3 cand\n"
    "                        ultima validare a unui buletin nu mai corespunde\n"
    "  --backup DOSAR        face o copie verificata a bazei de date in DOSAR (care trebuie sa existe), cu\n"
    "                        descrierea ei (manifest.json), Labrosa.ini si buletin_files; pastreaza copiile\n"
    "                        ultimelor 7 zile, 4 saptamani si 12 luni (PostgreSQL: pg_dump -Fc)\n"
    "  --restore DOSAR_COPIE verifica din nou copia si o pune in locul bazei de date SQLite; baza de date\n"
    "                        de dinainte ramane langa ea, redenumita (programul trebuie sa fie inchis)\n"
    "  -h, --help            arata aceste indicatii\n"
    "  --version             arata versiunea programului\n";

enum class Mode { Empty, Demo, Upgrade };

struct Options {
    Mode mode = Mode::Empty;
    bool force = false;
    bool demoOptionGiven = false;
    DemoOptions demoOptions;
    QString programRole; // folded to lower case, as PostgreSQL folds an unquoted name
    QString target;
};

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

// Reading every column proves that a table of that name is the program's own and not
// something else that CREATE TABLE IF NOT EXISTS would have left standing.
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

void fail(const QString& message) {
    std::fprintf(stderr, "labrosa-dbtool: %s\n", message.toUtf8().constData());
}

// A command of its own (signatories, limits): its arguments read, refused with the usage.
template <typename Command>
int runCommand(const QStringList& args, bool (*parse)(const QStringList&, Command*, QString*),
               int (*run)(const Command&)) {
    Command command;
    QString error;
    if (!parse(args, &command, &error)) {
        fail(error);
        std::fputs(kUsage, stderr);
        return 2;
    }
    return run(command);
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
    bool modeGiven = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        auto next = [&](QString* value) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 cere o valoare").arg(a);
                return false;
            }
            *value = args.at(++i);
            return true;
        };
        QString value;
        qint64 number = 0;
        auto setMode = [&](Mode mode) {
            if (modeGiven && (mode == Mode::Upgrade) != (options->mode == Mode::Upgrade)) {
                *error = QStringLiteral("--upgrade nu se poate folosi impreuna cu --empty sau --demo");
                return false;
            }
            options->mode = mode;
            modeGiven = true;
            return true;
        };
        if (a == QLatin1String("--empty")) {
            if (!setMode(Mode::Empty))
                return false;
        } else if (a == QLatin1String("--demo")) {
            if (!setMode(Mode::Demo))
                return false;
        } else if (a == QLatin1String("--upgrade")) {
            if (!setMode(Mode::Upgrade))
                return false;
        } else if (a == QLatin1String("--force")) {
            options->force = true;
        } else if (a == QLatin1String("--program-role")) {
            // Only a plain identifier: it is written into GRANT statements, where no value can be bound.
            static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]{0,62}$"));
            if (!next(&value) || !plain.match(value).hasMatch()) {
                *error = QStringLiteral("--program-role cere numele unui rol: litere, cifre si _, cel mult 63, fara "
                                        "cifra la inceput (nu \"%1\")")
                             .arg(value);
                return false;
            }
            options->programRole = value.toLower();
        } else if (a == QLatin1String("--seed")) {
            if (!next(&value) || !parseNumber(value, 0, 4294967295LL, &number)) {
                *error = QStringLiteral("--seed cere un numar intreg intre 0 si 4294967295");
                return false;
            }
            options->demoOptions.seed = std::uint32_t(number);
            options->demoOptionGiven = true;
        } else if (a == QLatin1String("--results")) {
            if (!next(&value) || !parseNumber(value, 0, 100000000, &number)) {
                *error = QStringLiteral("--results cere un numar intreg intre 0 si 100000000");
                return false;
            }
            options->demoOptions.results = int(number);
            options->demoOptionGiven = true;
        } else if (a == QLatin1String("--months")) {
            if (!next(&value) || !parseNumber(value, 1, 1200, &number)) {
                *error = QStringLiteral("--months cere un numar intreg intre 1 si 1200");
                return false;
            }
            options->demoOptions.months = int(number);
            options->demoOptionGiven = true;
        } else if (a == QLatin1String("--end-date")) {
            if (!next(&value))
                return false;
            const QDate d = QDate::fromString(value, QStringLiteral("yyyy-MM-dd"));
            if (!d.isValid()) {
                *error = QStringLiteral("--end-date cere o data AAAA-LL-ZZ, nu \"%1\"").arg(value);
                return false;
            }
            options->demoOptions.endDate = d;
            options->demoOptionGiven = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("optiune necunoscuta: %1").arg(a);
            return false;
        } else if (options->target.isEmpty()) {
            options->target = a;
        } else {
            *error = QStringLiteral("se poate numi o singura baza de date");
            return false;
        }
    }
    if (options->target.isEmpty()) {
        *error = QStringLiteral("nu s-a numit nicio baza de date");
        return false;
    }
    if (options->mode == Mode::Upgrade && (options->force || options->demoOptionGiven)) {
        *error = QStringLiteral("--upgrade doar adauga tabelele care lipsesc; nu se foloseste cu --force, --seed, "
                                "--results, --end-date sau --months");
        return false;
    }
    return true;
}

// The schema file's statements: comment lines dropped, split where a line ends with a
// semicolon (a trigger's body keeps its inner semicolons, which stand inside a line).
QStringList schemaStatements(const QString& resource, QString* error) {
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

bool run(QSqlDatabase& db, const QString& sql, QString* error) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        *error = QStringLiteral("%1\n  in: %2").arg(q.lastError().text(), sql.left(200));
        return false;
    }
    return true;
}

bool runAll(QSqlDatabase& db, const QStringList& statements, QString* error) {
    for (const QString& sql : statements)
        if (!run(db, sql, error))
            return false;
    return true;
}

QString schemaResource(bool sqlite, bool journal) {
    if (journal)
        return sqlite ? QStringLiteral(":/schema/journal-sqlite.sql")
                      : QStringLiteral(":/schema/journal-postgresql.sql");
    return sqlite ? QStringLiteral(":/schema/sqlite.sql") : QStringLiteral(":/schema/postgresql.sql");
}

// Runs the steps in one transaction: all of them take effect or none. SQLite takes the write
// lock at once, since a plain BEGIN that reads first fails when another workstation writes.
bool inTransaction(QSqlDatabase& db, bool sqlite, const std::function<bool(QString*)>& steps, QString* error) {
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

// Tables and views of the database's own schema, in lower case.
bool objectNames(QSqlDatabase& db, bool sqlite, QStringList* names, QString* error) {
    QSqlQuery q(db);
    const QString sql =
        sqlite ? QStringLiteral("SELECT lower(name) FROM sqlite_master WHERE type IN ('table', 'view')")
               : QStringLiteral("SELECT relname FROM pg_class WHERE relkind IN ('r', 'p', 'v') AND relnamespace = "
                                "(SELECT oid FROM pg_namespace WHERE nspname = current_schema())");
    if (!q.exec(sql)) {
        *error = QStringLiteral("nu se pot citi tabelele bazei de date: %1").arg(q.lastError().text());
        return false;
    }
    while (q.next())
        *names << q.value(0).toString();
    return true;
}

bool checkJournalColumns(QSqlDatabase& db, QString* error) {
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

const char kMsgRoleMissing[] = "rolul \"%1\" nu exista; creati-l intai (CREATE ROLE %1 LOGIN PASSWORD '...')";
const char kMsgRoleTooStrong[] = "rolul \"%1\" ar putea inca schimba sau sterge randuri din %2: este proprietarul "
                                 "tabelelor, superutilizator sau primeste dreptul prin alt rol ori prin PUBLIC. "
                                 "Programul are nevoie de un rol al lui, fara alte drepturi; nu s-a schimbat nimic.";

// What the program's role may do, object by object: exactly what the program's own statements
// use, nothing more. The role loses every other right in the schema first, so that a right
// given earlier, by hand or by an older version of this tool, does not outlive an --upgrade.
struct ProgramRight {
    const char* object; // a table or view, as PostgreSQL names it
    const char* rights; // as GRANT writes them
    bool idSequence;    // the role also draws the ids of the rows it adds
};

const ProgramRight kProgramRights[] = {
    // Corrections and comments change RESULTS in place; a received result the technician places
    // by hand (Rezultate nepotrivite) may start a set and adds its value. No set is ever removed.
    {"results", "SELECT, INSERT, UPDATE", true},
    {"vet_profiles", "SELECT", false},
    {"analysers", "SELECT", false},
    {"parameters", "SELECT", false},
    {"result_values", "SELECT, INSERT", true},
    {"vet_profile_normal_values", "SELECT", false},
    {"vresults2_vet", "SELECT", false},
    // The journal, the archive, the validations and the notifications are only added to.
    {"correction_journal", "SELECT, INSERT", true},
    {"bulletin_archive", "SELECT, INSERT", true},
    // Validations are written only through the signing function, which checks the password.
    {"bulletin_validation", "SELECT", false},
    {"critical_notifications", "SELECT, INSERT", true},
    // Kept with this tool only: the program reads them.
    {"signatories", "SELECT", false},
    {"critical_values", "SELECT", false},
    {"parameter_delta_limits", "SELECT", false},
    // Raised by the database's own triggers (functions of the owner); the program reads them.
    {"content_revisions", "SELECT", false},
    // Written by labrosa-receiver under its own role; the program shows them, and placing an
    // unmatched result links its set, marks it placed and may remember the analyser's code.
    {"received_messages", "SELECT", false},
    {"received_sets", "SELECT, UPDATE", false},
    {"unmatched_results", "SELECT, UPDATE", false},
    {"receiver_status", "SELECT", false},
    {"parameter_aliases", "SELECT, INSERT, UPDATE", false},
};

const char kSqlCurrentSchema[] = "SELECT quote_ident(current_schema())";
const char kSqlIdSequence[] = "SELECT pg_get_serial_sequence(?, 'id')";

// What the role could still do to the journal's tables after the grants: rights through other
// roles or PUBLIC (has_table_privilege sees them), ownership and superuser.
const char kSqlStillTooStrong[] = R"SQL(
SELECT t.name || ' (' || p.name || ')'
FROM (VALUES ('correction_journal'), ('bulletin_archive'), ('bulletin_validation'), ('signatories'),
             ('critical_notifications'), ('critical_values'), ('content_revisions')) t(name)
CROSS JOIN (VALUES ('INSERT'), ('UPDATE'), ('DELETE'), ('TRUNCATE')) p(name)
WHERE (has_table_privilege(CAST(? AS name), t.name, p.name)
       AND (p.name <> 'INSERT' OR t.name IN ('signatories', 'critical_values', 'content_revisions')))
   OR pg_has_role(CAST(? AS name), (SELECT relowner FROM pg_class WHERE oid = CAST(t.name AS regclass)), 'MEMBER')
   OR (SELECT rolsuper FROM pg_roles WHERE rolname = CAST(? AS name))
ORDER BY 1
)SQL";

// Runs a prepared question of what the role could still do (the role's name bound count
// times); false with the rights named when it could still do anything.
bool refuseRemainingRights(QSqlQuery& still, const QString& role, int count, QString* error) {
    for (int i = 0; i < count; ++i)
        still.addBindValue(role);
    if (!still.exec()) {
        *error = still.lastError().text();
        return false;
    }
    QStringList open;
    while (still.next())
        open << still.value(0).toString();
    if (!open.isEmpty()) {
        *error = QString::fromLatin1(kMsgRoleTooStrong).arg(role, open.join(QLatin1String(", ")));
        return false;
    }
    return true;
}

// Signing: the program's role writes a validation, checks and sets a signing password only
// through the server's functions, which check the password; it has no right on the passwords
// and attempts, nor may it insert a validation itself. Refused when it keeps such a right
// another way (ownership, another role, PUBLIC).
bool grantSigning(QSqlDatabase& db, const QString& role, const QString& quoted, QString* error) {
    const QStringList grants = {
        QStringLiteral("REVOKE INSERT ON bulletin_validation FROM %1").arg(quoted),
        QStringLiteral("REVOKE ALL ON signatory_passwords, signing_attempts FROM %1").arg(quoted),
        QStringLiteral("GRANT EXECUTE ON FUNCTION labrosa_check_signing_password(VARCHAR, TEXT, VARCHAR), "
                       "labrosa_set_signing_password(VARCHAR, TEXT, TEXT, VARCHAR), "
                       "labrosa_validate_bulletin(VARCHAR, TEXT, VARCHAR, VARCHAR, VARCHAR, TEXT, CHAR, CHAR, TEXT, "
                       "BIGINT, BIGINT, TIMESTAMP, VARCHAR, VARCHAR) TO %1")
            .arg(quoted),
    };
    if (!runAll(db, grants, error))
        return false;
    QSqlQuery still(db);
    still.prepare(QStringLiteral(
        "SELECT t.name || ' (' || p.name || ')' FROM (VALUES ('signatory_passwords'), ('signing_attempts'), "
        "('bulletin_validation')) t(name) CROSS JOIN (VALUES ('SELECT'), ('INSERT'), ('UPDATE'), ('DELETE'), "
        "('TRUNCATE')) p(name) WHERE (has_table_privilege(CAST(? AS name), t.name, p.name) AND (t.name <> "
        "'bulletin_validation' OR p.name = 'INSERT')) OR pg_has_role(CAST(? AS name), (SELECT relowner FROM pg_class "
        "WHERE oid = CAST(t.name AS regclass)), 'MEMBER') ORDER BY 1"));
    return refuseRemainingRights(still, role, 2, error);
}

// Gives the program's role what the program needs and no more (kProgramRights). The role
// name was checked to be a plain identifier, so quoting it is enough.
bool grantProgramRole(QSqlDatabase& db, const QString& role, QString* error) {
    QSqlQuery exists(db);
    exists.prepare(QStringLiteral("SELECT 1 FROM pg_roles WHERE rolname = ?"));
    exists.addBindValue(role);
    if (!exists.exec()) {
        *error = exists.lastError().text();
        return false;
    }
    if (!exists.next()) {
        *error = QString::fromLatin1(kMsgRoleMissing).arg(role);
        return false;
    }
    exists.finish();
    const QString quoted = QLatin1Char('"') + role + QLatin1Char('"');

    QSqlQuery schema(db);
    if (!schema.exec(QString::fromLatin1(kSqlCurrentSchema)) || !schema.next() || schema.value(0).isNull()) {
        *error = QStringLiteral("nu se poate afla schema tabelelor: %1").arg(schema.lastError().text());
        return false;
    }
    const QString schemaName = schema.value(0).toString();
    schema.finish();

    QStringList grants = {
        QStringLiteral("REVOKE ALL ON ALL TABLES IN SCHEMA %1 FROM %2").arg(schemaName, quoted),
        QStringLiteral("REVOKE ALL ON ALL SEQUENCES IN SCHEMA %1 FROM %2").arg(schemaName, quoted),
    };
    for (const ProgramRight& right : kProgramRights) {
        const QString object = QLatin1String(right.object);
        grants << QStringLiteral("GRANT %1 ON %2 TO %3").arg(QLatin1String(right.rights), object, quoted);
        if (!right.idSequence)
            continue;
        QSqlQuery sequence(db);
        sequence.prepare(QString::fromLatin1(kSqlIdSequence));
        sequence.addBindValue(object);
        if (!sequence.exec() || !sequence.next() || sequence.value(0).isNull()) {
            *error = QStringLiteral("nu se gaseste secventa tabelei %1: %2").arg(object, sequence.lastError().text());
            return false;
        }
        // The name comes quoted as needed from the database itself.
        grants << QStringLiteral("GRANT USAGE ON SEQUENCE %1 TO %2").arg(sequence.value(0).toString(), quoted);
    }
    if (!runAll(db, grants, error))
        return false;
    if (!grantSigning(db, role, quoted, error))
        return false;

    QSqlQuery still(db);
    still.prepare(QString::fromLatin1(kSqlStillTooStrong));
    return refuseRemainingRights(still, role, 3, error);
}

// The tables and the view of the schema file, made before any row; the rest (indexes, the
// name search's shadow table and triggers, statistics) is made after the rows, which is much
// faster than keeping it up to date row by row, and is applied again by --upgrade.
bool isStructure(const QString& sql) {
    return sql.startsWith(QLatin1String("CREATE TABLE"), Qt::CaseInsensitive) ||
           sql.startsWith(QLatin1String("CREATE VIEW"), Qt::CaseInsensitive);
}

// The statements that need PostgreSQL's pg_trgm extension (the extension itself, its index).
bool needsTrigram(const QString& sql) {
    return sql.contains(QLatin1String("trgm"), Qt::CaseInsensitive);
}

const char kMsgNoCrypto[] = "extensia pgcrypto lipseste (%1): parolele de semnare nu se pot pune si buletinele nu se "
                            "pot valida. Instalati pe server pachetul postgresql-contrib si rulati din nou "
                            "labrosa-dbtool --upgrade cu un rol care poate crea extensia.";

// Runs the journal's statements; pgcrypto, which a role may not be allowed to create, is tried
// apart so that the rest is still made, and *warning says what then does not work.
bool runJournal(QSqlDatabase& db, bool sqlite, const QStringList& journal, QString* warning, QString* error) {
    for (const QString& sql : journal) {
        if (sqlite || !sql.contains(QLatin1String("EXTENSION IF NOT EXISTS pgcrypto"))) {
            if (!run(db, sql, error))
                return false;
            continue;
        }
        if (!run(db, QStringLiteral("SAVEPOINT crypto"), error))
            return false;
        QString reason;
        if (run(db, sql, &reason)) {
            if (!run(db, QStringLiteral("RELEASE SAVEPOINT crypto"), error))
                return false;
        } else {
            if (!run(db, QStringLiteral("ROLLBACK TO SAVEPOINT crypto"), error))
                return false;
            *warning = QString::fromLatin1(kMsgNoCrypto).arg(reason.section(QLatin1Char('\n'), 0, 0));
        }
    }
    return true;
}

const char kMsgNoTrigram[] = "extensia pg_trgm lipseste (%1): cautarea dupa o parte din nume merge, dar citeste toate "
                             "seturile. Instalati pe server pachetul postgresql-contrib si rulati din nou "
                             "labrosa-dbtool --upgrade cu un rol care poate crea extensia.";

// Columns added to the journal's tables after they first shipped; older rows keep NULL.
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

// A journal made before one of the added columns gets it.
bool addLaterColumns(QSqlDatabase& db, bool sqlite, QString* error) {
    for (const AddedColumn& added : kAddedColumns) {
        const QString table = QLatin1String(added.table), column = QLatin1String(added.column);
        if (!sqlite) {
            if (!run(db,
                     QStringLiteral("ALTER TABLE %1 ADD COLUMN IF NOT EXISTS %2 %3")
                         .arg(table, column, QLatin1String(added.postgresType)),
                     error))
                return false;
            continue;
        }
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT COUNT(*) FROM pragma_table_info(?) WHERE lower(name) = lower(?)"));
        q.addBindValue(table);
        q.addBindValue(column);
        if (!q.exec() || !q.next()) {
            *error = q.lastError().text();
            return false;
        }
        const bool present = q.value(0).toInt() > 0;
        q.finish();
        if (!present &&
            !run(db,
                 QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3").arg(table, column, QLatin1String(added.sqliteType)),
                 error))
            return false;
    }
    return true;
}

// Makes the indexes and what else follows the rows. Without pg_trgm on the server the rest is
// still made and the reason is put in *warning: the name search then reads every set.
bool makeIndexes(QSqlDatabase& db, bool sqlite, const QStringList& schema, QString* warning, QString* error) {
    QStringList plain, trigram;
    for (const QString& sql : schema) {
        if (isStructure(sql))
            continue;
        (!sqlite && needsTrigram(sql) ? trigram : plain) << sql;
    }
    if (!trigram.isEmpty()) {
        QSqlQuery offered(db);
        if (!offered.exec(QStringLiteral("SELECT 1 FROM pg_available_extensions WHERE name = 'pg_trgm'"))) {
            *error = offered.lastError().text();
            return false;
        }
        if (!offered.next()) {
            *warning = QString::fromLatin1(kMsgNoTrigram).arg(QStringLiteral("serverul nu il are"));
        } else {
            // A role that may not create the extension leaves the rest of the work intact.
            if (!run(db, QStringLiteral("SAVEPOINT trigram"), error))
                return false;
            QString reason;
            if (runAll(db, trigram, &reason)) {
                if (!run(db, QStringLiteral("RELEASE SAVEPOINT trigram"), error))
                    return false;
            } else {
                if (!run(db, QStringLiteral("ROLLBACK TO SAVEPOINT trigram"), error))
                    return false;
                *warning = QString::fromLatin1(kMsgNoTrigram).arg(reason.section(QLatin1Char('\n'), 0, 0));
            }
        }
    }
    // ANALYZE last, so that it sees every index.
    return runAll(db, plain, error);
}

void printWarning(const QString& warning) {
    if (!warning.isEmpty())
        std::fprintf(stderr, "labrosa-dbtool: %s\n", warning.toUtf8().constData());
}

bool fill(QSqlDatabase& db, bool sqlite, const Options& options, DemoSummary* summary, QString* error,
          const QStringList& before = {}, const QStringList& after = {}) {
    const QStringList schema = schemaStatements(schemaResource(sqlite, false), error);
    const QStringList journal =
        schema.isEmpty() ? QStringList() : schemaStatements(schemaResource(sqlite, true), error);
    if (schema.isEmpty() || journal.isEmpty())
        return false;
    QStringList structure;
    for (const QString& sql : schema)
        if (isStructure(sql))
            structure << sql;
    QString warning, cryptoWarning;
    const bool ok = inTransaction(
        db, sqlite,
        [&](QString* e) {
            return runAll(db, before + structure, e) && runJournal(db, sqlite, journal, &cryptoWarning, e) &&
                   (options.mode != Mode::Demo || fillDemoData(db, options.demoOptions, summary, e)) &&
                   runAll(db, after, e) && makeIndexes(db, sqlite, schema, &warning, e) &&
                   (options.programRole.isEmpty() || grantProgramRole(db, options.programRole, e));
        },
        error);
    if (ok) {
        printWarning(cryptoWarning);
        printWarning(warning);
    }
    return ok;
}

// Adds the journal, the archive and the search's indexes (the name search's shadow filled
// afresh) to a database of the program's; a database without the program's tables is refused
// untouched. *added tells whether a journal table was missing, *receiverAdded whether one of the
// receiver's was.
bool upgrade(QSqlDatabase& db, bool sqlite, const Options& options, const QString& name, bool* added,
             bool* receiverAdded, QString* error) {
    QStringList journal = schemaStatements(schemaResource(sqlite, true), error);
    if (journal.isEmpty())
        return false;
    const QStringList schema = schemaStatements(schemaResource(sqlite, false), error);
    if (schema.isEmpty())
        return false;
    QString warning, cryptoWarning;
    if (!sqlite)
        journal.prepend(QStringLiteral("SET LOCAL client_min_messages = warning"));
    const bool ok = inTransaction(
        db, sqlite,
        [&](QString* e) {
            QStringList present;
            if (!objectNames(db, sqlite, &present, e))
                return false;
            QStringList missing;
            for (const char* table : kProgramTables)
                if (!present.contains(QLatin1String(table)))
                    missing << QLatin1String(table);
            if (!present.contains(QLatin1String(kProgramView)))
                missing << QLatin1String(kProgramView);
            if (!missing.isEmpty()) {
                *e = QStringLiteral("%1 nu este o baza de date Labrosa (lipsesc %2); nu s-a schimbat nimic. O baza de "
                                    "date noua se face cu --empty sau --demo.")
                         .arg(name, missing.join(QLatin1String(", ")));
                return false;
            }
            *added = false;
            for (const char* table : kJournalTables)
                if (!present.contains(QLatin1String(table)))
                    *added = true;
            *receiverAdded = false;
            for (const char* table : kReceiverTables)
                if (!present.contains(QLatin1String(table)))
                    *receiverAdded = true;
            return runJournal(db, sqlite, journal, &cryptoWarning, e) && addLaterColumns(db, sqlite, e) &&
                   checkJournalColumns(db, e) && makeIndexes(db, sqlite, schema, &warning, e) &&
                   (options.programRole.isEmpty() || grantProgramRole(db, options.programRole, e));
        },
        error);
    if (ok) {
        printWarning(cryptoWarning);
        printWarning(warning);
    }
    return ok;
}

void reportUpgrade(const QString& name, bool added, bool receiverAdded, const QString& role) {
    QString text = added ? QStringLiteral("%1: jurnalul corecturilor si arhiva buletinelor au fost adaugate").arg(name)
                         : QStringLiteral("%1: jurnalul corecturilor si arhiva buletinelor erau deja acolo").arg(name);
    text += receiverAdded ? QStringLiteral("; tabelele receptorului de la analizoare au fost adaugate")
                          : QStringLiteral("; tabelele receptorului de la analizoare erau deja acolo");
    text += QStringLiteral("; indexurile cautarii sunt la zi");
    if (!role.isEmpty())
        text += QStringLiteral("; rolul %1 poate doar adauga si citi randuri in ele").arg(role);
    std::printf("labrosa-dbtool: %s\n", text.toUtf8().constData());
}

int upgradeSqlite(const QString& file, const Options& options) {
    const QFileInfo info(file);
    if (!info.exists()) {
        fail(QStringLiteral("%1 nu exista; o baza de date noua se face cu --empty sau --demo").arg(file));
        return 1;
    }
    if (!info.isFile()) {
        fail(QStringLiteral("%1 nu este un fisier").arg(file));
        return 1;
    }
    QString error;
    bool ok = false;
    bool added = false, receiverAdded = false;
    // Made before the open, which applies a -wal or -journal lying beside the file.
    SqliteIntegrityCheck check(info.absoluteFilePath());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbtool"));
        // mode=rw: an existing file only, never a new empty one.
        db.setDatabaseName(QStringLiteral("file://") +
                           QString::fromLatin1(QUrl::toPercentEncoding(info.absoluteFilePath(), "/:")) +
                           QStringLiteral("?mode=rw"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
        QString reason;
        // The first read opens the file for good (and rolls back a journal left beside it).
        auto firstRead = [&db, &reason] {
            QSqlQuery probe(db);
            if (probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                return true;
            reason = probe.lastError().text();
            return false;
        };
        if (!db.open()) {
            reason = db.lastError().text();
            error = QStringLiteral("nu se poate deschide %1: %2").arg(file, reason);
        } else if (!firstRead()) {
            error = QStringLiteral("nu se poate citi %1: %2").arg(file, reason);
        } else if (!check.run()) {
            // A damaged file is not written, not even by the checkpoint of its -wal on close.
            SqliteIntegrityCheck::keepWalOnClose(db);
            error = damagedDatabaseText(check);
        } else {
            ok = upgrade(db, true, options, file, &added, &receiverAdded, &error);
            reason = error;
        }
        if (!ok && !reason.isEmpty()) {
            const QString fullDisk = fullDiskText(file, reason.simplified());
            if (!fullDisk.isEmpty())
                error = fullDisk;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("dbtool"));
    if (!ok) {
        fail(error);
        return 1;
    }
    reportUpgrade(file, added, receiverAdded, QString());
    return 0;
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
                ok = fill(db, true, options, summary, &error);
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
QString describe(const DatabaseConnection& ado) {
    for (const QString& line : ado.m_comError.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("\tDescription = ")))
            return line.mid(15).trimmed();
    return ado.m_comError.simplified();
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

const char kMsgOthersDepend[] = "nu s-a sters nimic: in baza de date \"%1\" exista obiecte care nu sunt ale "
                                "programului si depind de tabelele lui: %2. Mutati-le sau stergeti-le intai.";

// The tables go into the database the connection string names; with --force the program's
// tables and view, the journal and the archive included, are dropped first, anything else in the database is left
// alone: when something of the laboratory's own depends on them, nothing is dropped at all.
int createPostgres(const QString& connectionString, const Options& options, DemoSummary* summary) {
    DatabaseConnection ado;
    if (!ado.open(connectionString)) {
        fail(QStringLiteral("cannot connect to PostgreSQL: %1").arg(describe(ado)));
        return 1;
    }
    QSqlDatabase db = ado.connection();
    QSqlQuery probe(db);
    if (!probe.exec(
            QStringLiteral("SELECT COUNT(*) FROM pg_tables WHERE schemaname = current_schema() AND tablename IN "
                           "('vet_profiles', 'results', 'analysers', 'parameters', 'result_values', "
                           "'vet_profile_normal_values', 'correction_journal', 'bulletin_archive', 'signatories', "
                           "'bulletin_validation', 'critical_notifications', 'critical_values', "
                           "'signatory_passwords', 'signing_attempts', 'received_messages', 'received_sets', "
                           "'unmatched_results', 'receiver_status', 'parameter_aliases')")) ||
        !probe.next()) {
        fail(QStringLiteral("cannot read the database's tables: %1").arg(probe.lastError().text()));
        return 1;
    }
    const bool exists = probe.value(0).toInt() > 0;
    probe.finish();
    if (exists && !options.force) {
        fail(QStringLiteral("database \"%1\" already holds the results tables; use --force to replace them")
                 .arg(ado.m_databaseName));
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
        fail(QString::fromLatin1(kMsgOthersDepend).arg(ado.m_databaseName, names.join(QLatin1String("; "))));
        return 1;
    }
    // No CASCADE: should anything else depend on these after all, the database refuses and
    // the transaction leaves everything as it was.
    const QStringList before = {
        QStringLiteral("SET LOCAL client_min_messages = warning"),
        QStringLiteral("DROP VIEW IF EXISTS vResults2_vet"),
        QStringLiteral("DROP TABLE IF EXISTS result_values, vet_profile_normal_values, parameters, analysers, results, "
                       "vet_profiles, correction_journal, bulletin_archive, signatories, bulletin_validation, "
                       "parameter_delta_limits, critical_notifications, critical_values, content_revisions, "
                       "signatory_passwords, signing_attempts, unmatched_results, received_sets, received_messages, "
                       "receiver_status, parameter_aliases"),
    };
    QStringList after;
    for (const char* table : {"results", "result_values", "vet_profile_normal_values"})
        after << QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', 'id'), GREATEST(COALESCE(MAX(id), 0), 1), "
                                "MAX(id) IS NOT NULL) FROM %1")
                     .arg(QLatin1String(table));
    QString error;
    if (!fill(db, false, options, summary, &error, before, after)) {
        fail(error);
        return 1;
    }
    return 0;
}

int upgradePostgres(const QString& connectionString, const Options& options, const QString& name) {
    DatabaseConnection ado;
    if (!ado.open(connectionString)) {
        fail(QStringLiteral("cannot connect to PostgreSQL: %1").arg(describe(ado)));
        return 1;
    }
    QSqlDatabase db = ado.connection();
    QString error;
    bool added = false, receiverAdded = false;
    if (!upgrade(db, false, options, name, &added, &receiverAdded, &error)) {
        fail(error);
        return 1;
    }
    reportUpgrade(name, added, receiverAdded, options.programRole);
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
    if (args.contains(QLatin1String("--version"))) {
        std::printf("labrosa-dbtool %s\n", LABROSA_VERSION);
        return 0;
    }
    if (args.contains(QLatin1String("--signatory")))
        return runCommand(args, parseSignatoryArguments, runSignatoryCommand);
    if (args.contains(QLatin1String("--delta-limit")))
        return runCommand(args, parseDeltaLimitArguments, runDeltaLimitCommand);
    if (args.contains(QLatin1String("--critical-limit")))
        return runCommand(args, parseCriticalLimitArguments, runCriticalLimitCommand);
    if (args.contains(QLatin1String("--backup")) || args.contains(QLatin1String("--restore")))
        return runCommand(args, parseBackupArguments, runBackupCommand);
    if (args.contains(QLatin1String("--validations")))
        return runCommand(args, parseValidationAuditArguments, runValidationAuditCommand);
    if (args.contains(QLatin1String("--import-mdb"))) {
        MdbImportRequest import;
        if (!parseMdbImportArguments(args, &import, &error)) {
            fail(error);
            std::fputs(kUsage, stderr);
            return 2;
        }
        return runMdbImport(import);
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
    bool postgres = false;
    if (options.target.contains(QLatin1Char('='))) {
        const ConnectionString cs = ConnectionString::parse(options.target);
        if (cs.isSQLite()) {
            described = cs.sqliteFile();
            if (described.isEmpty()) {
                fail(QStringLiteral("the connection string names no Data Source"));
                return 1;
            }
        } else if (cs.isPostgreSQL()) {
            postgres = true;
            described = QStringLiteral("PostgreSQL database %1 on %2")
                            .arg(cs.value(QStringLiteral("database")), cs.value(QStringLiteral("server")));
        } else {
            fail(QStringLiteral("unsupported provider \"%1\" (use SQLite or PostgreSQL)").arg(cs.provider()));
            return 1;
        }
    }
    if (!postgres && !options.programRole.isEmpty()) {
        fail(QStringLiteral("--program-role se foloseste doar cu PostgreSQL; in SQLite jurnalul si arhiva "
                            "refuza singure orice schimbare sau stergere"));
        return 2;
    }
    if (options.mode == Mode::Upgrade)
        return postgres ? upgradePostgres(options.target, options, described) : upgradeSqlite(described, options);
    rc = postgres ? createPostgres(options.target, options, &summary) : createSqlite(described, options, &summary);
    if (rc != 0)
        return rc;

    std::printf(
        "labrosa-dbtool: created %s (%s): %d profiles, %d analysers, %d parameters, %d reference intervals, "
        "%lld result sets, %lld values in %.1f s\n",
        described.toUtf8().constData(),
        options.mode == Mode::Demo ? QStringLiteral("demo, seed %1").arg(options.demoOptions.seed).toUtf8().constData()
                                   : "empty",
        summary.profiles, summary.analysers, summary.parameters, summary.intervals,
        static_cast<long long>(summary.results), static_cast<long long>(summary.values), timer.elapsed() / 1000.0);
    return 0;
}
