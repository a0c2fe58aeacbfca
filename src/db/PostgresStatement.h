#pragma once

#include "NativeStatement.h"

#include <QByteArray>
#include <QVariantList>

struct pg_conn;
struct pg_result;
class QSqlDatabase;

// A SELECT run on libpq under Qt's QPSQL driver, its rows fetched one by one as the server
// sends them, so that a long result is never held whole. Numbers and texts are the server's
// own text (a yes/no cell reads "true" or "false", as the driver gives it).
class PostgresStatement : public NativeStatement {
public:
    // The libpq connection under an open QPSQL connection that is free to run a statement and
    // speaks UTF-8; null otherwise, for any other driver, for a driver running on a libpq of its
    // own, and when the program was built without libpq.
    static pg_conn* handleOf(const QSqlDatabase& db);
    // The libpq connection under an open QPSQL connection whatever it is doing (for a cancel
    // request from another thread); null as for handleOf otherwise.
    static pg_conn* sessionOf(const QSqlDatabase& db);
    // Whether every value is one this class sends as the driver would (NULL, text without a NUL
    // character, whole number, finite decimal number, yes/no).
    static bool canBind(const QVariantList& values);

    PostgresStatement() = default;
    ~PostgresStatement() override;
    PostgresStatement(const PostgresStatement&) = delete;
    PostgresStatement& operator=(const PostgresStatement&) = delete;

    // Sends sql with values in place of its '?' in order and waits for the first row. False,
    // with error() set, when any of it fails.
    bool start(pg_conn* connection, const QString& sql, const QVariantList& values);
    bool next() override;
    // Reads whatever rows are left, so that the connection is free again.
    void finish() override;

    int columnCount() const override;
    QString columnName(int column) const override;
    // A whole number, a decimal number, yes/no, or text; a null value of text type for NULL.
    QVariant value(int column) const override;
    bool isNull(int column) const override;
    bool integer(int column, qint64* number) const override;
    // UTF-8.
    QAnyStringView text(int column) const override;

    // sql with each '?' outside quotes numbered as $1, $2, ... in UTF-8; *count is their number.
    static QByteArray numberedPlaceholders(const QString& sql, int* count);

private:
    bool fail(const char* description, pg_result* result);
    void clearRow();

    pg_conn* m_connection = nullptr;
    pg_result* m_shape = nullptr; // the first result: the columns' names and types
    pg_result* m_row = nullptr;   // the current row (may be m_shape)
    bool m_sent = false;          // results remain to be read
};
