#pragma once

#include <QAnyStringView>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVariantList>

struct sqlite3;
struct sqlite3_stmt;
class QSqlDatabase;

// A SELECT run straight on the SQLite library under Qt's driver, on the driver's own
// connection, so that its cells are read where SQLite keeps them: no value and no string is
// made per cell unless one is asked for. For reading many rows at once; values, errors and
// texts come out as the driver would give them.
class SqliteStatement {
public:
    // The SQLite connection under an open QSQLITE connection; null for any other driver, for a
    // driver running on a SQLite of its own, and when the program was built without SQLite.
    static sqlite3* HandleOf(const QSqlDatabase& db);
    // Whether every value is one this class binds as the driver would (NULL, text, whole
    // number, decimal number, yes/no, bytes).
    static bool CanBind(const QVariantList& values);

    SqliteStatement() = default;
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Prepares sql, binds values to its '?' in order and steps to the first row. False, with
    // error() set, when any of it fails.
    bool Start(sqlite3* connection, const QString& sql, const QVariantList& values);
    bool AtEnd() const { return !m_statement || !m_onRow; }
    // Steps to the next row: false at the end and on a failure, which leaves error() valid.
    bool Next();
    const QSqlError& error() const { return m_error; }
    void Finish();

    int columnCount() const;
    QString columnName(int column) const;
    // The cell as Qt's driver gives it: a whole number, a decimal number, a text, bytes, or
    // a null value of text type for NULL.
    QVariant value(int column) const;
    bool isNull(int column) const;
    // Whether the cell holds a whole number, and that number in *number.
    bool integer(int column, qint64* number) const;
    // The cell as UTF-8 text (a number written out); valid until Next or Finish.
    QAnyStringView text(int column) const;

private:
    bool fail(const char* description, QSqlError::ErrorType type, int code);

    sqlite3* m_connection = nullptr;
    sqlite3_stmt* m_statement = nullptr;
    bool m_onRow = false;
    QSqlError m_error;
};
