#pragma once

#include "NativeStatement.h"

#include <QVariantList>

struct sqlite3;
struct sqlite3_stmt;
class QSqlDatabase;

// A SELECT run on the SQLite library under Qt's QSQLITE driver.
class SqliteStatement : public NativeStatement {
public:
    // The SQLite connection under an open QSQLITE connection; null for any other driver, for a
    // driver running on a SQLite of its own, and when the program was built without SQLite.
    static sqlite3* HandleOf(const QSqlDatabase& db);
    // Whether every value is one this class binds as the driver would (NULL, text, whole
    // number, decimal number, yes/no, bytes).
    static bool CanBind(const QVariantList& values);

    SqliteStatement() = default;
    ~SqliteStatement() override;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Prepares sql, binds values to its '?' in order and steps to the first row. False, with
    // error() set, when any of it fails.
    bool Start(sqlite3* connection, const QString& sql, const QVariantList& values);
    bool Next() override;
    void Finish() override;

    int columnCount() const override;
    QString columnName(int column) const override;
    // A whole number, a decimal number, a text, bytes, or a null value of text type for NULL.
    QVariant value(int column) const override;
    bool isNull(int column) const override;
    bool integer(int column, qint64* number) const override;
    // UTF-8.
    QAnyStringView text(int column) const override;

private:
    bool fail(const char* description, QSqlError::ErrorType type, int code);

    sqlite3* m_connection = nullptr;
    sqlite3_stmt* m_statement = nullptr;
};
