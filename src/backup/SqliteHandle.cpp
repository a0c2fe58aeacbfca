#include "SqliteHandle.h"

#include <QFile>

#include <sqlite3.h>

namespace {
constexpr int kBusyTimeoutMs = 10000;
}

bool SqliteHandle::open(const QString& file, bool readOnly) {
    close();
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        takeError();
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    return true;
}

bool SqliteHandle::exec(const char* sql) {
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        takeError();
        return false;
    }
    return true;
}

bool SqliteHandle::queryText(const char* sql, QString* value) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        takeError();
        return false;
    }
    const int rc = sqlite3_step(statement);
    value->clear();
    if (rc == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(statement, 0);
        if (text)
            *value = QString::fromUtf8(reinterpret_cast<const char*>(text));
    }
    const bool ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
    if (!ok)
        takeError();
    sqlite3_finalize(statement);
    return ok;
}

bool SqliteHandle::close() {
    if (!m_db)
        return true;
    if (sqlite3_close(m_db) != SQLITE_OK) {
        takeError();
        return false;
    }
    m_db = nullptr;
    return true;
}

void SqliteHandle::takeError() {
    m_code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
    m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(m_code));
}
