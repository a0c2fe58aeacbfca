#include "JournalProtection.h"

#include "DatabaseConnection.h"
#include "Recordset.h"

#include <QDir>

namespace {
// The tables kept as written; rowsFixed: no row may change either (a signatory is made
// inactive by an UPDATE, but never removed).
struct KeptTable {
    const char* name;
    bool rowsFixed;
};
const KeptTable kKeptTables[] = {
    {"CORRECTION_JOURNAL", true},     {"BULLETIN_ARCHIVE", true}, {"BULLETIN_VALIDATION", true},
    {"CRITICAL_NOTIFICATIONS", true}, {"SIGNATORIES", false},
};
const char* const kJournalTable = "CORRECTION_JOURNAL";

// SQLite: the tables and the triggers that refuse (each raises an abort).
const char* const kSqliteObjects =
    "SELECT upper(type) AS kind, upper(name) AS name, upper(tbl_name) AS tbl, "
    "instr(upper(sql), 'RAISE(ABORT') > 0 AS refuses FROM sqlite_master WHERE type IN ('table', 'trigger')";

// PostgreSQL: per table found the way the program's statements find it, what the connection's
// role may do to it and which changes an enabled trigger of the schema's refuses (tgtype: 2
// before, 8 delete, 16 update, 32 truncate).
const char* const kPostgresRights = R"SQL(
WITH refusing AS (
    SELECT t.tgrelid, t.tgtype FROM pg_trigger t JOIN pg_proc f ON f.oid = t.tgfoid
    WHERE f.proname = 'labrosa_kept_as_written' AND t.tgenabled IN ('O', 'A') AND t.tgtype & 2 <> 0
)
SELECT upper(k.name) AS name, current_user AS rolename,
       (SELECT rolsuper FROM pg_roles WHERE rolname = current_user) AS superuser,
       pg_has_role(c.relowner, 'MEMBER') AS owner,
       has_any_column_privilege(c.oid, 'UPDATE') AS mayupdate,
       has_table_privilege(c.oid, 'DELETE') AS maydelete,
       has_table_privilege(c.oid, 'TRUNCATE') AS maytruncate,
       EXISTS (SELECT 1 FROM refusing r WHERE r.tgrelid = c.oid AND r.tgtype & 16 <> 0) AS refusesupdate,
       EXISTS (SELECT 1 FROM refusing r WHERE r.tgrelid = c.oid AND r.tgtype & 8 <> 0) AS refusesdelete,
       EXISTS (SELECT 1 FROM refusing r WHERE r.tgrelid = c.oid AND r.tgtype & 32 <> 0) AS refusestruncate
FROM (VALUES ('correction_journal'), ('bulletin_archive'), ('bulletin_validation'),
             ('critical_notifications'), ('signatories')) k(name)
JOIN pg_class c ON c.oid = to_regclass(k.name)
)SQL";

const char* const kUnprotected = "jurnalul nu este protejat";
const char* const kAdviceRole = "conectati statiile cu rolul programului, facut cu labrosa-dbtool --upgrade "
                                "--program-role ROL, nu cu proprietarul tabelelor sau cu un superutilizator";
const char* const kAdviceUpgrade = "rulati labrosa-dbtool --upgrade %1, care pune triggerele ce refuza schimbarea "
                                   "si stergerea randurilor";
const char* const kDetailRole = "Conexiunea de acum (rolul %1) poate schimba sau sterge randuri: %2.";
const char* const kDetailTriggers = "Lipsesc triggerele: %1.";
const char* const kUnknown = "nu s-a putut afla daca jurnalul este protejat: %1";

bool flag(Recordset& read, const char* column) {
    QVariant v;
    return read.getFieldValue(QLatin1String(column), &v) && v.toBool();
}

QString text(Recordset& read, const char* column) {
    QVariant v;
    read.getFieldValue(QLatin1String(column), &v);
    return v.toString();
}
} // namespace

JournalProtection JournalProtection::check(DatabaseConnection* database) {
    JournalProtection result;
    if (!database) {
        result.m_error = QStringLiteral("nu este deschisa nicio baza de date");
        return result;
    }
    result.m_server = database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    result.m_file = database->databaseFile();
    if (result.m_server)
        result.checkPostgres(database);
    else
        result.checkSqlite(database);
    return result;
}

void JournalProtection::checkSqlite(DatabaseConnection* database) {
    Recordset read;
    if (!read.open(QString::fromLatin1(kSqliteObjects), database)) {
        m_error = read.errorText();
        return;
    }
    QStringList tables, refusing;
    while (!read.isEOF()) {
        const QString name = text(read, "name");
        if (text(read, "kind") == QLatin1String("TABLE"))
            tables << name;
        else if (flag(read, "refuses"))
            refusing << text(read, "tbl") + QLatin1Char(' ') + name;
        read.moveNext();
    }
    const bool failed = read.readFailed();
    if (failed)
        m_error = read.errorText();
    read.close();
    if (failed)
        return;
    if (!tables.contains(QLatin1String(kJournalTable))) {
        m_state = State::NoJournal;
        return;
    }
    for (const KeptTable& table : kKeptTables) {
        const QString name = QLatin1String(table.name);
        if (!tables.contains(name))
            continue;
        QStringList missing;
        QStringList changes{QStringLiteral("DELETE")};
        if (table.rowsFixed)
            changes.prepend(QStringLiteral("UPDATE"));
        for (const QString& change : changes)
            if (!refusing.contains(QStringLiteral("%1 %1_NO_%2").arg(name, change)))
                missing << change;
        if (!missing.isEmpty())
            m_triggerGaps << QStringLiteral("%1 (%2)").arg(name, missing.join(QLatin1String(", ")));
    }
    m_state = m_triggerGaps.isEmpty() ? State::Protected : State::Unprotected;
}

void JournalProtection::checkPostgres(DatabaseConnection* database) {
    Recordset read;
    if (!read.open(QString::fromLatin1(kPostgresRights), database)) {
        m_error = read.errorText();
        return;
    }
    bool journal = false;
    bool superuser = false;
    QStringList rights, triggers;
    while (!read.isEOF()) {
        const QString name = text(read, "name");
        journal = journal || name == QLatin1String(kJournalTable);
        bool rowsFixed = true;
        for (const KeptTable& table : kKeptTables)
            if (name == QLatin1String(table.name))
                rowsFixed = table.rowsFixed;
        superuser = superuser || flag(read, "superuser");
        QStringList may, missing;
        if (flag(read, "owner"))
            may << QStringLiteral("proprietar");
        if (rowsFixed && flag(read, "mayupdate"))
            may << QStringLiteral("UPDATE");
        if (flag(read, "maydelete"))
            may << QStringLiteral("DELETE");
        if (flag(read, "maytruncate"))
            may << QStringLiteral("TRUNCATE");
        if (rowsFixed && !flag(read, "refusesupdate"))
            missing << QStringLiteral("UPDATE");
        if (!flag(read, "refusesdelete"))
            missing << QStringLiteral("DELETE");
        if (!flag(read, "refusestruncate"))
            missing << QStringLiteral("TRUNCATE");
        if (!may.isEmpty())
            rights << QStringLiteral("%1 (%2)").arg(name, may.join(QLatin1String(", ")));
        if (!missing.isEmpty())
            triggers << QStringLiteral("%1 (%2)").arg(name, missing.join(QLatin1String(", ")));
        m_role = text(read, "rolename");
        read.moveNext();
    }
    const bool failed = read.readFailed();
    if (failed)
        m_error = read.errorText();
    read.close();
    if (failed)
        return;
    if (!journal) {
        m_state = State::NoJournal;
        return;
    }
    if (superuser)
        rights.prepend(QStringLiteral("superutilizator"));
    m_roleGaps = rights;
    m_triggerGaps = triggers;
    m_state = rights.isEmpty() && triggers.isEmpty() ? State::Protected : State::Unprotected;
}

QString JournalProtection::shortWarning() const {
    if (m_state == State::Unknown)
        return QString::fromLatin1(kUnknown).arg(m_error.simplified());
    if (m_state != State::Unprotected)
        return QString();
    QStringList advice;
    if (!m_roleGaps.isEmpty())
        advice << QLatin1String(kAdviceRole);
    if (!m_triggerGaps.isEmpty())
        advice << QString::fromLatin1(kAdviceUpgrade)
                      .arg(m_server ? QStringLiteral("cu proprietarul tabelelor")
                                    : QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(m_file)));
    return QLatin1String(kUnprotected) + QStringLiteral(": ") + advice.join(QStringLiteral(", apoi "));
}

QString JournalProtection::warning() const {
    QString text = shortWarning();
    if (m_state != State::Unprotected)
        return text;
    text += QLatin1Char('.');
    if (!m_roleGaps.isEmpty())
        text += QLatin1Char(' ') + QString::fromLatin1(kDetailRole).arg(m_role, m_roleGaps.join(QLatin1String("; ")));
    if (!m_triggerGaps.isEmpty())
        text += QLatin1Char(' ') + QString::fromLatin1(kDetailTriggers).arg(m_triggerGaps.join(QLatin1String("; ")));
    return text;
}
