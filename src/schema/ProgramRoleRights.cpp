#include "ProgramRoleRights.h"

#include "SchemaScript.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace {

const char kMsgRoleMissing[] = "rolul \"%1\" nu exista; creati-l intai (CREATE ROLE %1 LOGIN PASSWORD '...')";
const char kMsgRoleTooStrong[] = "rolul \"%1\" ar putea inca schimba sau sterge randuri din %2: este proprietarul "
                                 "tabelelor, superutilizator sau primeste dreptul prin alt rol ori prin PUBLIC. "
                                 "Programul are nevoie de un rol al lui, fara alte drepturi; nu s-a schimbat nimic.";

// The role loses every other right in the schema first, so that a right given earlier, by hand
// or by an older version of the program, does not outlive an upgrade.
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
    // Kept with labrosa-dbtool only: the program reads them.
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

const char kSqlRoleExists[] = "SELECT 1 FROM pg_roles WHERE rolname = ?";
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

// What the role could still do to the signing passwords, the attempts and the validations.
const char kSqlSigningStillOpen[] =
    "SELECT t.name || ' (' || p.name || ')' FROM (VALUES ('signatory_passwords'), ('signing_attempts'), "
    "('bulletin_validation')) t(name) CROSS JOIN (VALUES ('SELECT'), ('INSERT'), ('UPDATE'), ('DELETE'), "
    "('TRUNCATE')) p(name) WHERE (has_table_privilege(CAST(? AS name), t.name, p.name) AND (t.name <> "
    "'bulletin_validation' OR p.name = 'INSERT')) OR pg_has_role(CAST(? AS name), (SELECT relowner FROM pg_class "
    "WHERE oid = CAST(t.name AS regclass)), 'MEMBER') ORDER BY 1";

} // namespace

bool ProgramRoleRights::isPlainName(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]{0,62}$"));
    return plain.match(name).hasMatch();
}

// Runs a prepared question of what the role could still do (the role's name bound count
// times); false with the rights named when it could still do anything.
bool ProgramRoleRights::refuseRemainingRights(QSqlQuery& still, const QString& role, int count, QString* error) {
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
bool ProgramRoleRights::grantSigning(QSqlDatabase& db, const QString& role, const QString& quoted, QString* error) {
    const QStringList grants = {
        QStringLiteral("REVOKE INSERT ON bulletin_validation FROM %1").arg(quoted),
        QStringLiteral("REVOKE ALL ON signatory_passwords, signing_attempts FROM %1").arg(quoted),
        QStringLiteral("GRANT EXECUTE ON FUNCTION labrosa_check_signing_password(VARCHAR, TEXT, VARCHAR), "
                       "labrosa_set_signing_password(VARCHAR, TEXT, TEXT, VARCHAR), "
                       "labrosa_validate_bulletin(VARCHAR, TEXT, VARCHAR, VARCHAR, VARCHAR, TEXT, CHAR, CHAR, TEXT, "
                       "BIGINT, BIGINT, TIMESTAMP, VARCHAR, VARCHAR) TO %1")
            .arg(quoted),
    };
    if (!SchemaScript::runAll(db, grants, error))
        return false;
    QSqlQuery still(db);
    still.prepare(QString::fromLatin1(kSqlSigningStillOpen));
    return refuseRemainingRights(still, role, 2, error);
}

// The role name was checked to be a plain identifier, so quoting it is enough.
bool ProgramRoleRights::grant(QSqlDatabase& db, const QString& role, QString* error) {
    QSqlQuery exists(db);
    exists.prepare(QString::fromLatin1(kSqlRoleExists));
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
    if (!SchemaScript::runAll(db, grants, error) || !grantSigning(db, role, quoted, error))
        return false;

    QSqlQuery still(db);
    still.prepare(QString::fromLatin1(kSqlStillTooStrong));
    return refuseRemainingRights(still, role, 3, error);
}
