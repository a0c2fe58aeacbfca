#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>

// The statements of the schema files built into the program (the tables, the journal), and
// running them: one by one, or all in one transaction.
class SchemaScript {
public:
    // The resource of the tables' file (journal false) or of the journal's, for a backend.
    static QString resource(bool sqlite, bool journal);
    // The file's statements: comment lines dropped, split where a line ends with a semicolon (a
    // trigger's body keeps its inner semicolons, which stand inside a line). Empty with *error
    // set when the file cannot be read or holds nothing.
    static QStringList statements(const QString& resource, QString* error);
    // A table or a view, made before any row; the rest of the tables' file follows the rows.
    static bool isStructure(const QString& sql);

    static bool run(QSqlDatabase& db, const QString& sql, QString* error);
    static bool runAll(QSqlDatabase& db, const QStringList& statements, QString* error);
    // Runs the steps in one transaction: all of them take effect or none.
    static bool inTransaction(QSqlDatabase& db, bool sqlite, const std::function<bool(QString*)>& steps,
                              QString* error);
};
