#pragma once

#include "NativeStatement.h"

#include <QStringList>
#include <QVariantList>

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
class QSqlDatabase;

// A SELECT run on the SQLite library under Qt's QSQLITE driver.
class SqliteStatement : public NativeStatement {
public:
    // The SQLite connection under an open QSQLITE connection; null for any other driver, for a
    // driver running on a SQLite of its own, and when the program was built without SQLite.
    static sqlite3* handleOf(const QSqlDatabase& db);
    // Whether every value is one this class binds as the driver would (NULL, text, whole
    // number, decimal number, yes/no, bytes).
    static bool canBind(const QVariantList& values);

    SqliteStatement() = default;
    ~SqliteStatement() override;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Prepares sql, binds values to its '?' in order and steps to the first row. False, with
    // error() set, when any of it fails.
    bool start(sqlite3* connection, const QString& sql, const QVariantList& values);
    bool next() override;
    void finish() override;

    int columnCount() const override;
    QString columnName(int column) const override;
    // A whole number, a decimal number, a text, bytes, or a null value of text type for NULL.
    QVariant value(int column) const override;
    bool isNull(int column) const override;
    bool integer(int column, qint64* number) const override;
    // UTF-8.
    QAnyStringView text(int column) const override;

private:
    // Rows copied out of SQLite: each row's cells, their texts and bytes one after another.
    struct Cell {
        qint64 integer = 0;
        double real = 0;
        quint32 offset = 0; // of the text or bytes in Batch::bytes
        quint32 length = 0;
        int type = 0; // SQLite's type of the value
    };
    struct Batch {
        std::vector<Cell> cells; // rows x columns
        std::string bytes;
        int rows = 0;
        bool last = false; // the statement ended after these rows
        int code = 0;      // how: SQLITE_DONE, or the failure's code and message
        QString message;
    };
    static constexpr int kFirstBatchRows = 256;
    static constexpr int kBatchRows = 1024;
    static constexpr size_t kBatchesAhead = 16; // read ahead of the caller, at most

    bool fail(const char* description, QSqlError::ErrorType type, int code);
    bool fail(const char* description, QSqlError::ErrorType type, int code, const QString& message);
    void readBatch(Batch* batch, int rows);
    void readAhead();
    const Cell& cell(int column) const;

    sqlite3* m_connection = nullptr;
    sqlite3_stmt* m_statement = nullptr;
    int m_columns = 0;
    QStringList m_names;
    Batch m_batch;  // the rows being taken
    int m_row = -1; // the current one of them
    mutable std::vector<std::array<char, 24>> m_numberTexts;
    // The rows read ahead by the reading thread, and what it and the caller wait for.
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_ready;
    bool m_stopReading = false;
};
