#include "SqliteStatement.h"

#include <QSqlDatabase>
#include <QSqlDriver>

#ifdef LABROSA_HAVE_SQLITE3
#include <sqlite3.h>

#include <charconv>
#include <system_error>

namespace {

bool driverUsesOurSqlite() {
    static const bool same = driverSharesFunction("sqldrivers/libqsqlite", "sqlite3_libversion",
                                                  reinterpret_cast<const void*>(&sqlite3_libversion));
    return same;
}

} // namespace

sqlite3* SqliteStatement::handleOf(const QSqlDatabase& db) {
    const QVariant handle = db.isOpen() && db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0 || !driverUsesOurSqlite())
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

bool SqliteStatement::canBind(const QVariantList& values) {
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
    finish();
}

bool SqliteStatement::fail(const char* description, QSqlError::ErrorType type, int code) {
    return fail(description, type, code,
                QString::fromUtf16(static_cast<const char16_t*>(sqlite3_errmsg16(m_connection))));
}

bool SqliteStatement::fail(const char* description, QSqlError::ErrorType type, int code, const QString& message) {
    // The driver's own words, so that a failure reads the same whichever way the rows come.
    m_error = QSqlError(QString::fromLatin1(description), message, type, QString::number(code));
    finish();
    return false;
}

bool SqliteStatement::start(sqlite3* connection, const QString& sql, const QVariantList& values) {
    finish();
    m_error = QSqlError();
    m_connection = connection;
    int rc = sqlite3_prepare16_v2(connection, sql.utf16(), int(sql.size() * sizeof(QChar)), &m_statement, nullptr);
    if (rc != SQLITE_OK)
        return fail("Unable to execute statement", QSqlError::StatementError, rc);
    if (sqlite3_bind_parameter_count(m_statement) != values.size()) {
        finish();
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
    m_columns = sqlite3_column_count(m_statement);
    m_names.clear();
    for (int i = 0; i < m_columns; ++i)
        m_names << QString::fromUtf8(sqlite3_column_name(m_statement, i));
    m_numberTexts.assign(size_t(m_columns), {});
    // The first rows are read here; a longer result goes on being read on a thread of its own
    // while the caller takes these, the statement then touched by that thread alone until
    // Finish.
    m_batch = Batch();
    readBatch(&m_batch, kFirstBatchRows);
    m_row = -1;
    // Only a SQLite built for threads lets a connection move between them.
    if (!m_batch.last && sqlite3_threadsafe() != 0) {
        m_stopReading = false;
        try {
            m_reader = std::thread([this] { readAhead(); });
        } catch (const std::system_error&) {
            // No thread to be had: the rows are read here as they are taken.
        }
    }
    if (next())
        return true;
    return !m_error.isValid();
}

void SqliteStatement::readBatch(Batch* batch, int rows) {
    // A short result (the first batch often holds all there is) takes only the room it needs.
    if (rows == kBatchRows)
        batch->cells.reserve(size_t(rows) * size_t(m_columns));
    while (batch->rows < rows) {
        const int rc = sqlite3_step(m_statement);
        if (rc != SQLITE_ROW) {
            batch->last = true;
            // The specific failure is known once the statement is reset.
            batch->code = rc == SQLITE_ERROR ? sqlite3_reset(m_statement) : rc;
            if (rc != SQLITE_DONE)
                batch->message = QString::fromUtf16(static_cast<const char16_t*>(sqlite3_errmsg16(m_connection)));
            return;
        }
        for (int column = 0; column < m_columns; ++column) {
            Cell cell;
            cell.type = sqlite3_column_type(m_statement, column);
            if (cell.type == SQLITE_INTEGER) {
                cell.integer = sqlite3_column_int64(m_statement, column);
            } else if (cell.type != SQLITE_NULL) {
                if (cell.type == SQLITE_FLOAT)
                    cell.real = sqlite3_column_double(m_statement, column);
                // Texts as UTF-8, a decimal number written out as SQLite writes it, bytes as they are.
                const void* bytes = cell.type == SQLITE_BLOB ? sqlite3_column_blob(m_statement, column)
                                                             : sqlite3_column_text(m_statement, column);
                cell.length = quint32(sqlite3_column_bytes(m_statement, column));
                cell.offset = quint32(batch->bytes.size());
                batch->bytes.append(static_cast<const char*>(bytes), cell.length);
            }
            batch->cells.push_back(cell);
        }
        ++batch->rows;
    }
}

void SqliteStatement::readAhead() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopReading || m_ready.size() < kBatchesAhead; });
            if (m_stopReading)
                return;
        }
        Batch batch;
        readBatch(&batch, kBatchRows);
        const bool last = batch.last;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ready.push_back(std::move(batch));
        }
        m_changed.notify_all();
        if (last)
            return;
    }
}

bool SqliteStatement::next() {
    if (!m_statement)
        return false;
    m_onRow = false;
    while (++m_row >= m_batch.rows) {
        if (m_batch.last) {
            if (m_batch.code == SQLITE_DONE)
                return false;
            return fail("Unable to fetch row", QSqlError::ConnectionError, m_batch.code, m_batch.message);
        }
        if (!m_reader.joinable()) {
            Batch next;
            readBatch(&next, kBatchRows);
            m_batch = std::move(next);
            m_row = -1;
            continue;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty(); });
        m_batch = std::move(m_ready.front());
        m_ready.pop_front();
        lock.unlock();
        m_changed.notify_all();
        m_row = -1;
    }
    m_onRow = true;
    return true;
}

void SqliteStatement::finish() {
    if (m_reader.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopReading = true;
        }
        m_changed.notify_all();
        m_reader.join();
    }
    m_ready.clear();
    m_batch = Batch();
    if (m_statement)
        sqlite3_finalize(m_statement);
    m_statement = nullptr;
    m_onRow = false;
}

int SqliteStatement::columnCount() const {
    return m_statement ? m_columns : 0;
}

QString SqliteStatement::columnName(int column) const {
    return m_names.value(column);
}

const SqliteStatement::Cell& SqliteStatement::cell(int column) const {
    static const Cell kNoValue{0, 0, 0, 0, SQLITE_NULL};
    if (!m_onRow || column < 0 || column >= m_columns)
        return kNoValue;
    return m_batch.cells[size_t(m_row) * size_t(m_columns) + size_t(column)];
}

QVariant SqliteStatement::value(int column) const {
    const Cell& c = cell(column);
    switch (c.type) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(c.integer));
    case SQLITE_FLOAT:
        return QVariant(c.real);
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    case SQLITE_BLOB:
        return QByteArray(m_batch.bytes.data() + c.offset, qsizetype(c.length));
    default:
        return QString::fromUtf8(m_batch.bytes.data() + c.offset, qsizetype(c.length));
    }
}

bool SqliteStatement::isNull(int column) const {
    return cell(column).type == SQLITE_NULL;
}

bool SqliteStatement::integer(int column, qint64* number) const {
    const Cell& c = cell(column);
    if (c.type != SQLITE_INTEGER)
        return false;
    *number = c.integer;
    return true;
}

QAnyStringView SqliteStatement::text(int column) const {
    const Cell& c = cell(column);
    if (c.type == SQLITE_NULL)
        return QUtf8StringView();
    if (c.type == SQLITE_INTEGER) {
        // Written out once asked for, into room of the column's own.
        auto& digits = m_numberTexts[size_t(column)];
        const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), c.integer).ptr;
        return QUtf8StringView(digits.data(), end - digits.data());
    }
    return QUtf8StringView(m_batch.bytes.data() + c.offset, qsizetype(c.length));
}

#else

// Without the SQLite library no connection is offered, so nothing below is reached.
sqlite3* SqliteStatement::handleOf(const QSqlDatabase&) {
    return nullptr;
}
bool SqliteStatement::canBind(const QVariantList&) {
    return false;
}
SqliteStatement::~SqliteStatement() = default;
bool SqliteStatement::fail(const char*, QSqlError::ErrorType, int) {
    return false;
}
bool SqliteStatement::start(sqlite3*, const QString&, const QVariantList&) {
    return false;
}
bool SqliteStatement::next() {
    return false;
}
void SqliteStatement::finish() {}
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
