#pragma once

#include <QString>

struct sqlite3;

// A connection of SQLite's own C API to one file, closed with the object: the backup and the
// restore work on connections that share nothing with Qt SQL's.
class SqliteHandle {
public:
    SqliteHandle() = default;
    ~SqliteHandle() { close(); }
    SqliteHandle(const SqliteHandle&) = delete;
    SqliteHandle& operator=(const SqliteHandle&) = delete;

    // False with SQLite's reason in errorText().
    bool open(const QString& file, bool readOnly);
    // Runs sql, which returns no rows or whose rows are not wanted.
    bool exec(const char* sql);
    // The first column of the first row of sql, as text; false on an error (not on no rows).
    bool queryText(const char* sql, QString* value);
    // Closes the connection; false when SQLite refused.
    bool close();

    sqlite3* handle() const { return m_db; }
    QString errorText() const { return m_error; }
    // SQLite's extended result code of the last failure.
    int errorCode() const { return m_code; }
    // Takes the connection's last error as this object's.
    void takeError();

private:
    sqlite3* m_db = nullptr;
    QString m_error;
    int m_code = 0;
};
