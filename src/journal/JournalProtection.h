#pragma once

#include <QString>
#include <QStringList>

class DatabaseConnection;

// Whether the program's own connection could change or remove what is kept as written: the
// correction journal, the bulletin archive, the validations and the critical-value
// notifications (none of their rows may change), and the signatories (none may be removed).
//
// On SQLite the tables' triggers refuse; the check looks that each is there. On PostgreSQL
// the connection's role must neither own the tables, be a superuser, nor hold UPDATE, DELETE
// or TRUNCATE on them, and the refusing triggers must be there and enabled. A question that
// failed leaves the answer unknown, never "protected".
class JournalProtection {
public:
    enum class State { Protected, Unprotected, NoJournal, Unknown };

    static JournalProtection check(DatabaseConnection* database);

    State state() const { return m_state; }
    // What leaves the journal open, one item per table: what the role may do to it
    // ("CORRECTION_JOURNAL (proprietar, UPDATE)", first "superutilizator" when it is one) and
    // which changes no trigger refuses ("BULLETIN_ARCHIVE (DELETE)").
    const QStringList& roleGaps() const { return m_roleGaps; }
    const QStringList& triggerGaps() const { return m_triggerGaps; }
    // Why the check could not answer (Unknown).
    QString errorText() const { return m_error; }
    // For a person, starting with "jurnalul nu este protejat" and what to do about it; for
    // the status bar the first sentence (shortWarning), for the log and a tool tip all of it.
    // Empty when there is nothing to say (Protected, NoJournal).
    QString warning() const;
    QString shortWarning() const;

private:
    void checkSqlite(DatabaseConnection* database);
    void checkPostgres(DatabaseConnection* database);

    State m_state = State::Unknown;
    bool m_server = false;
    QString m_file; // the SQLite file, for the command that mends it
    QString m_role; // the connection's PostgreSQL role
    QStringList m_roleGaps;
    QStringList m_triggerGaps;
    QString m_error;
};
