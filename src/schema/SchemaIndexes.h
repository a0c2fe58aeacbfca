#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The indexes of the tables' file and what else follows the rows: the name search's shadow
// table and its triggers, the statistics; on PostgreSQL the trigram index of the name search.
class SchemaIndexes {
public:
    // Runs everything of schema (the tables' file) but its tables and view. Without pg_trgm on
    // the server the rest is still made and the reason is put in *warning: the name search then
    // reads every set.
    static bool make(QSqlDatabase& db, bool sqlite, const QStringList& schema, QString* warning, QString* error);
};
