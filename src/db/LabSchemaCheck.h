#pragma once

#include <QString>

class DatabaseConnection;

// Whether an open database is a laboratory database: the tables and the view that the
// program reads and writes all answer a query. An empty file (SQLite takes it for an empty
// database) or another program's database fails here, at start-up, instead of at the first
// search. A failed query is logged by the database layer like any other.
struct LabSchemaCheck {
    bool ok = true;
    QString object; // the first table or view that did not answer
    QString reason; // the database's own words for it

    static LabSchemaCheck run(DatabaseConnection* database);
};

// Whether a table exists, asked of the catalogue so that a missing table leaves no error in
// the log: 1 yes, 0 no, -1 when the question itself failed (its reason in *error).
int tableExists(DatabaseConnection* database, const QString& table, QString* error = nullptr);

// Whether a table has a column, likewise: a table made by an older version of the tool lacks
// the columns added since, until labrosa-dbtool --upgrade.
int columnExists(DatabaseConnection* database, const QString& table, const QString& column, QString* error = nullptr);
