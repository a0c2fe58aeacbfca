#include "Recordset.h"

#include "DatabaseConnection.h"
#include "PostgresStatement.h"
#include "SqliteStatement.h"

#include <QSqlRecord>

#include <chrono>
#include <future>
#include <thread>

namespace {

QSqlError recordsetError(const QString& text, QSqlError::ErrorType type = QSqlError::StatementError) {
    return QSqlError(text, text, type);
}

} // namespace

Recordset::Recordset() = default;

Recordset::~Recordset() = default;

void Recordset::fail(const char* context, const QSqlError& error) {
    const QString source = m_connection ? m_connection->driverName() : QString();
    m_comError = formatComError(error, source);
    m_databaseText = error.databaseText();
    if (m_connection && m_connection->hasConnection())
        m_providerError = getProviderErrors(error);
    else
        m_providerError.clear();
    if (m_connection) {
        m_connection->noteErrorCode(error.nativeErrorCode());
        m_connection->logError(QString::fromLatin1(context), m_comError, m_providerError);
    }
}

bool Recordset::open(const QString& sql, DatabaseConnection* database, const QVariantList& values, Reading reading) {
    m_readFailed = false;
    m_givenUp = false;
    m_databaseText.clear();
    if (database)
        m_connection = database;
    if (!m_connection) {
        m_providerError = QStringLiteral("Error: adoDbf not initializated");
        return false;
    }
    if (m_open) {
        fail("CAdoRecordset::Open",
             recordsetError(QStringLiteral("The recordset is already open; close it before opening it again")));
        return false;
    }
    if (!m_connection->hasConnection()) {
        m_comError = formatComError(
            recordsetError(QStringLiteral("No database connection has been opened"), QSqlError::ConnectionError),
            QString());
        m_providerError = QStringLiteral("Error:pConnection is NULL");
        m_connection->logError(QStringLiteral("CAdoRecordset::Open"), m_comError, m_providerError);
        return false;
    }

    if (holdsSeveralStatements(sql)) {
        fail("CAdoRecordset::Open", severalStatementsError());
        return false;
    }
    bool reopened = false;
    if (!m_connection->ensureOpen(&reopened)) {
        fail("CAdoRecordset::Open", reopened ? m_connection->connection().lastError() : closedConnectionError());
        return false;
    }
    QSqlError error;
    for (int attempt = reopened ? 1 : 0; attempt < 2; ++attempt) {
        if (reading == Reading::Texts && startNative(sql, values, &error)) {
            if (m_native)
                break;
        } else {
            m_query = std::make_unique<QSqlQuery>(m_connection->connection());
            m_query->setForwardOnly(true);
            bool ok = m_query->prepare(sql);
            if (ok) {
                for (int i = 0; i < values.size(); ++i)
                    m_query->bindValue(i, values.at(i));
                ok = m_query->exec();
            }
            if (ok)
                break;
            error = m_query->lastError();
            m_query.reset();
        }
        if (m_givenUp || attempt > 0 || !m_connection->reconnectAfter(error))
            break;
    }
    if (m_givenUp) {
        // Asked for, not a failure of the database: nothing goes to the error log.
        m_comError = error.text();
        m_providerError.clear();
        return false;
    }
    if (!m_query && !m_native) {
        fail("CAdoRecordset::Open", error);
        return false;
    }

    m_columns.clear();
    ++m_row;
    m_open = true;
    if (m_native) {
        for (int i = 0; i < m_native->columnCount(); ++i)
            m_columns.insert(m_native->columnName(i).toLower(), i);
        m_eof = m_native->atEnd();
        return true;
    }
    const QSqlRecord record = m_query->record();
    for (int i = 0; i < record.count(); ++i)
        m_columns.insert(record.fieldName(i).toLower(), i);
    m_cellTexts.assign(size_t(record.count()), QString());
    m_cellValues.assign(size_t(record.count()), QVariant());
    m_cellValueRow.assign(size_t(record.count()), 0);
    m_eof = !m_query->next();
    if (m_eof && m_query->lastError().isValid()) {
        const QSqlError fetchError = m_query->lastError();
        close();
        fail("CAdoRecordset::Open", fetchError);
        return false;
    }
    return true;
}

namespace {

template <class Statement, class Handle>
void startStatement(Handle* connection, const QString& sql, const QVariantList& values,
                    std::unique_ptr<NativeStatement>* started, QSqlError* error) {
    auto statement = std::make_unique<Statement>();
    if (statement->start(connection, sql, values))
        *started = std::move(statement);
    else
        *error = statement->error();
}

} // namespace

// Whether the rows can come straight from the database library under the driver: then
// m_native holds the started statement, or *error says why it could not start.
bool Recordset::startNative(const QString& sql, const QVariantList& values, QSqlError* error) {
    const QSqlDatabase db = m_connection->connection();
    std::function<void()> start;
    if (sqlite3* connection = SqliteStatement::canBind(values) ? SqliteStatement::handleOf(db) : nullptr)
        start = [&, connection] { startStatement<SqliteStatement>(connection, sql, values, &m_native, error); };
    else if (pg_conn* connection = PostgresStatement::canBind(values) ? PostgresStatement::handleOf(db) : nullptr)
        start = [&, connection] { startStatement<PostgresStatement>(connection, sql, values, &m_native, error); };
    else
        return false;
    if (!m_waiter) {
        start();
        return true;
    }
    // The statement starts on a thread of its own, so that a wait for its first rows can be shown
    // and given up; most give them before the waiter is needed.
    std::packaged_task<void()> task(start);
    std::future<void> started = task.get_future();
    std::thread worker(std::move(task));
    constexpr auto kQuietWait = std::chrono::milliseconds(100);
    if (started.wait_for(kQuietWait) != std::future_status::ready &&
        !m_waiter([&started] { return started.wait_for(std::chrono::seconds(0)) == std::future_status::ready; })) {
        m_givenUp = true;
        m_connection->requestCancel();
    }
    worker.join();
    if (m_givenUp) {
        m_connection->clearCancel();
        m_native.reset();
        if (!error->isValid())
            *error = QSqlError(QStringLiteral("Cautarea a fost oprita"), QString(), QSqlError::StatementError);
    }
    return true;
}

bool Recordset::getFieldTextAt(int index, QAnyStringView* text, bool* isNull) {
    if (!m_open || m_eof || index < 0 || index >= m_columns.size())
        return false;
    if (m_native) {
        if (isNull)
            *isNull = m_native->isNull(index);
        *text = m_native->text(index);
        return true;
    }
    const QVariant& value = cellValue(index);
    if (isNull)
        *isNull = value.isNull();
    if (value.isNull()) {
        *text = QAnyStringView();
    } else if (value.typeId() == QMetaType::QString) {
        *text = *static_cast<const QString*>(value.constData());
    } else {
        QString& kept = m_cellTexts[size_t(index)];
        kept = value.toString();
        *text = kept;
    }
    return true;
}

const QVariant& Recordset::cellValue(int index) {
    if (m_cellValueRow[size_t(index)] != m_row) {
        m_cellValues[size_t(index)] = m_query->value(index);
        m_cellValueRow[size_t(index)] = m_row;
    }
    return m_cellValues[size_t(index)];
}

bool Recordset::getFieldIntegerAt(int index, qint64* number) {
    if (!m_open || m_eof || index < 0 || index >= m_columns.size())
        return false;
    if (m_native)
        return m_native->integer(index, number);
    const QVariant& value = cellValue(index);
    if (value.isNull())
        return false;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        *number = value.toLongLong();
        return true;
    default:
        return false;
    }
}

bool Recordset::isEOF() const {
    return !m_open || m_eof;
}

int Recordset::columnIndex(const QString& name) const {
    const QString key = name.trimmed().toLower();
    auto it = m_columns.constFind(key);
    if (it != m_columns.constEnd())
        return it.value();
    // "table.column" finds the column of that name.
    const int dot = key.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) {
        it = m_columns.constFind(key.mid(dot + 1));
        if (it != m_columns.constEnd())
            return it.value();
    }
    return -1;
}

bool Recordset::getFieldValue(const QString& name, QVariant* value) {
    if (!m_open || m_eof) {
        fail("CAdoRecordset::GetFieldValue", recordsetError(QStringLiteral("There is no current row")));
        return false;
    }
    const int index = columnIndex(name);
    if (index < 0) {
        fail("CAdoRecordset::GetFieldValue",
             recordsetError(QStringLiteral("The result has no column named \"%1\"").arg(name)));
        return false;
    }
    if (value)
        *value = m_native ? m_native->value(index) : cellValue(index);
    return true;
}

bool Recordset::moveNext() {
    if (!m_open || m_eof) {
        fail("CAdoRecordset::MoveNext", recordsetError(QStringLiteral("There is no current row to move from")));
        return false;
    }
    ++m_row;
    m_eof = m_native ? !m_native->next() : !m_query->next();
    if (!m_eof)
        return true;
    // The end of the rows, or a row that could not be read.
    const QSqlError error = m_native ? m_native->error() : m_query->lastError();
    if (error.isValid()) {
        m_readFailed = true;
        fail("CAdoRecordset::MoveNext", error);
    }
    return false;
}

QString Recordset::errorText() const {
    return combinedErrorText(m_databaseText, m_providerError);
}

void Recordset::close() {
    if (m_query) {
        m_query->finish();
        m_query.reset();
    }
    m_native.reset();
    m_cellTexts.clear();
    m_cellValues.clear();
    m_cellValueRow.clear();
    m_columns.clear();
    m_open = false;
    m_eof = true;
}
