#pragma once

#include <QSqlDatabase>
#include <QString>

class QSqlQuery;

// PostgreSQL: what the role the program works with may do, object by object: exactly what the
// program's own statements use, nothing more. In the journal's tables it may only add and read
// rows; validations and signing passwords it reaches only through the server's functions.
class ProgramRoleRights {
public:
    // Whether name may stand for the role: a plain identifier, since it is written into GRANT
    // statements, where no value can be bound.
    static bool isPlainName(const QString& name);
    // Takes every other right of role in the schema, then gives it what the program needs; false
    // (inside the caller's transaction, so nothing stays changed) when the role is missing or
    // could still change or remove rows of the journal's tables another way.
    static bool grant(QSqlDatabase& db, const QString& role, QString* error);

private:
    static bool grantSigning(QSqlDatabase& db, const QString& role, const QString& quoted, QString* error);
    static bool refuseRemainingRights(QSqlQuery& still, const QString& role, int count, QString* error);
};
