#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The tables that the program only adds to (the correction journal, the bulletin archive, the
// validations, the notifications) and the receiver's, as the journal's file makes them, with the
// columns added to them since they first shipped.
class JournalSchema {
public:
    // Runs the journal's statements; pgcrypto, which a role may not be allowed to create, is
    // tried apart so that the rest is still made, and *warning says what then does not work.
    static bool make(QSqlDatabase& db, bool sqlite, const QStringList& journal, QString* warning, QString* error);
    // A journal made before one of the added columns gets it; older rows keep NULL.
    static bool addLaterColumns(QSqlDatabase& db, bool sqlite, QString* error);
    // Reading every column proves that a table of the journal's name is the program's own and not
    // something else that CREATE TABLE IF NOT EXISTS would have left standing.
    static bool checkColumns(QSqlDatabase& db, QString* error);
};
