#include "SqliteStatement.h"

#include <QSqlDatabase>
#include <QSqlDriver>

#ifdef LABROSA_HAVE_SQLITE3
#include <sqlite3.h>

namespace {

bool DriverUsesOurSqlite() {
    static const bool same = DriverSharesFunction("sqldrivers/libqsqlite", "sqlite3_libversion",
                                                  reinterpret_cast<const void*>(&sqlite3_libversion));
    return same;
}

} // namespace

sqlite3* SqliteStatement::HandleOf(const QSqlDatabase& db) {
    const QVariant handle = db.isOpen() && db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0 || !DriverUsesOurSqlite())
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

bool SqliteStatement::CanBind(const QVariantList& values) {
    for (const QVariant& value : values) {
        switch (value.typeId()) {
        case QMetaType::UnknownType:
        case QMetaType::QString:
        case QMetaType::QByteArray:
        case QMetaType::Int:
        case QMetaType::Bool:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::Double:
            break;
        default:
            return false;
        }
    }
    return true;
}

SqliteStatement::~SqliteStatement() {
    Finish();
}

bool SqliteStatement::fail(const char* description, QSqlError::ErrorType type, int code) {
    // The driver's own words, so that a failure reads the same whichever way the rows come.
    m_error = QSqlError(QString::fromLatin1(description),
                        QString::fromUtf16(static_cast<const char16_t*>(sqlite3_errmsg16(m_connection))), type,
                        QString::number(code));
    Finish();
    return false;
}

bool SqliteStatement::Start(sqlite3* connection, const QString& sql, const QVariantList& values) {
    Finish();
    m_error = QSqlError();
    m_connection = connection;
    int rc = sqlite3_prepare16_v2(connection, sql.utf16(), int(sql.size() * sizeof(QChar)), &m_statement, nullptr);
    if (rc != SQLITE_OK)
        return fail("Unable to execute statement", QSqlError::StatementError, rc);
    if (sqlite3_bind_parameter_count(m_statement) != values.size()) {
        Finish();
        m_error = QSqlError(QStringLiteral("Parameter count mismatch"), QString(), QSqlError::StatementError);
        return false;
    }
    for (int i = 0; i < values.size() && rc == SQLITE_OK; ++i) {
        const QVariant& value = values.at(i);
        switch (value.typeId()) {
        case QMetaType::QString: {
            const QString text = value.toString();
            rc = text.isNull() ? sqlite3_bind_null(m_statement, i + 1)
                               : sqlite3_bind_text16(m_statement, i + 1, text.utf16(), int(text.size() * sizeof(QChar)),
                                                     SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = bytes.isNull()
                     ? sqlite3_bind_null(m_statement, i + 1)
                     : sqlite3_bind_blob(m_statement, i + 1, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::Int:
        case QMetaType::Bool:
            rc = sqlite3_bind_int(m_statement, i + 1, value.toInt());
            break;
        case QMetaType::UInt:
        case QMetaType::LongLong:
            rc = sqlite3_bind_int64(m_statement, i + 1, value.toLongLong());
            break;
        case QMetaType::Double:
            rc = sqlite3_bind_double(m_statement, i + 1, value.toDouble());
            break;
        default:
            rc = sqlite3_bind_null(m_statement, i + 1);
            break;
        }
    }
    if (rc != SQLITE_OK)
        return fail("Unable to bind parameters", QSqlError::StatementError, rc);
    if (Next())
        return true;
    return !m_error.isValid();
}

bool SqliteStatement::Next() {
    if (!m_statement)
        return false;
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW) {
        m_onRow = true;
        return true;
    }
    m_onRow = false;
    if (rc == SQLITE_DONE)
        return false;
    // The specific failure is known once the statement is reset.
    const int code = rc == SQLITE_ERROR ? sqlite3_reset(m_statement) : rc;
    return fail("Unable to fetch row", QSqlError::ConnectionError, code);
}

void SqliteStatement::Finish() {
    if (m_statement)
        sqlite3_finalize(m_statement);
    m_statement = nullptr;
    m_onRow = false;
}

int SqliteStatement::columnCount() const {
    return m_statement ? sqlite3_column_count(m_statement) : 0;
}

QString SqliteStatement::columnName(int column) const {
    return QString::fromUtf8(sqlite3_column_name(m_statement, column));
}

QVariant SqliteStatement::value(int column) const {
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(m_statement, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_statement, column));
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(m_statement, column)),
                          sqlite3_column_bytes(m_statement, column));
    default:
        return QString(static_cast<const QChar*>(sqlite3_column_text16(m_statement, column)),
                       sqlite3_column_bytes16(m_statement, column) / qsizetype(sizeof(QChar)));
    }
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

bool SqliteStatement::integer(int column, qint64* number) const {
    if (sqlite3_column_type(m_statement, column) != SQLITE_INTEGER)
        return false;
    *number = sqlite3_column_int64(m_statement, column);
    return true;
}

QAnyStringView SqliteStatement::text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return QUtf8StringView(text, text ? sqlite3_column_bytes(m_statement, column) : 0);
}

#else

// Without the SQLite library no connection is offered, so nothing below is reached.
sqlite3* SqliteStatement::HandleOf(const QSqlDatabase&) {
    return nullptr;
}
bool SqliteStatement::CanBind(const QVariantList&) {
    return false;
}
SqliteStatement::~SqliteStatement() = default;
bool SqliteStatement::fail(const char*, QSqlError::ErrorType, int) {
    return false;
}
bool SqliteStatement::Start(sqlite3*, const QString&, const QVariantList&) {
    return false;
}
bool SqliteStatement::Next() {
    return false;
}
void SqliteStatement::Finish() {}
int SqliteStatement::columnCount() const {
    return 0;
}
QString SqliteStatement::columnName(int) const {
    return QString();
}
QVariant SqliteStatement::value(int) const {
    return QVariant();
}
bool SqliteStatement::isNull(int) const {
    return true;
}
bool SqliteStatement::integer(int, qint64*) const {
    return false;
}
QAnyStringView SqliteStatement::text(int) const {
    return QAnyStringView();
}

#endif
