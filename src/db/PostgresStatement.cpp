#include "PostgresStatement.h"

#include <QSqlDatabase>
#include <QSqlDriver>

QByteArray PostgresStatement::numberedPlaceholders(const QString& sql, int* count) {
    // As the driver numbers them: a '?' inside a quoted text or a quoted name stays itself.
    QString numbered;
    numbered.reserve(sql.size() + 16);
    QChar quote;
    *count = 0;
    for (const QChar c : sql) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            numbered += c;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            numbered += c;
        } else if (c == QLatin1Char('?')) {
            numbered += QLatin1Char('$') + QString::number(++*count);
        } else {
            numbered += c;
        }
    }
    return numbered.toUtf8();
}

#ifdef LABROSA_HAVE_LIBPQ
#include <libpq-fe.h>

#include <charconv>
#include <cmath>
#include <vector>

namespace {

// The types whose cells are read as numbers or yes/no (the server's own type numbers).
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;

bool driverUsesOurLibpq() {
    static const bool same =
        driverSharesFunction("sqldrivers/libqsqlpsql", "PQlibVersion", reinterpret_cast<const void*>(&PQlibVersion));
    return same;
}

bool isWholeNumberType(Oid type) {
    return type == kInt2 || type == kInt4 || type == kInt8 || type == kOid;
}

} // namespace

pg_conn* PostgresStatement::sessionOf(const QSqlDatabase& db) {
    const QVariant handle = db.isOpen() && db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0) ||
        !driverUsesOurLibpq())
        return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

pg_conn* PostgresStatement::handleOf(const QSqlDatabase& db) {
    const QVariant handle = db.isOpen() && db.driver() ? db.driver()->handle() : QVariant();
    // Qt names the type by its libpq typedef or by the struct behind it.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0) ||
        !driverUsesOurLibpq())
        return nullptr;
    PGconn* connection = *static_cast<PGconn* const*>(handle.constData());
    // A connection still busy with another statement's rows is left to the driver, which knows
    // how to finish them.
    if (!connection || PQstatus(connection) != CONNECTION_OK || PQisBusy(connection) ||
        PQtransactionStatus(connection) == PQTRANS_ACTIVE ||
        PQclientEncoding(connection) != pg_char_to_encoding("UTF8"))
        return nullptr;
    return connection;
}

bool PostgresStatement::canBind(const QVariantList& values) {
    for (const QVariant& value : values) {
        switch (value.typeId()) {
        case QMetaType::UnknownType:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::Bool:
            break;
        case QMetaType::QString:
            // libpq takes a value up to its first NUL: the rest would silently be lost.
            if (static_cast<const QString*>(value.constData())->contains(QChar(0)))
                return false;
            break;
        case QMetaType::Double:
            if (!std::isfinite(value.toDouble()))
                return false;
            break;
        default:
            return false;
        }
    }
    return true;
}

PostgresStatement::~PostgresStatement() {
    finish();
}

bool PostgresStatement::fail(const char* description, PGresult* result) {
    // The driver's own words, so that a failure reads the same whichever way the rows come.
    QString message = QString::fromUtf8(PQerrorMessage(m_connection));
    QString code;
    if (result) {
        message = QString::fromUtf8(PQresultErrorMessage(result));
        code = QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE));
        message += QStringLiteral("(%1)").arg(code);
    }
    const QSqlError::ErrorType type =
        PQstatus(m_connection) == CONNECTION_OK ? QSqlError::StatementError : QSqlError::ConnectionError;
    m_error = QSqlError(QStringLiteral("QPSQL: ") + QString::fromLatin1(description), message, type, code);
    return false;
}

bool PostgresStatement::start(PGconn* connection, const QString& sql, const QVariantList& values) {
    finish();
    m_error = QSqlError();
    m_connection = connection;
    int count = 0;
    const QByteArray numbered = numberedPlaceholders(sql, &count);
    if (count != values.size()) {
        m_error = QSqlError(QStringLiteral("Parameter count mismatch"), QString(), QSqlError::StatementError);
        return false;
    }
    std::vector<QByteArray> texts(size_t(values.size()));
    std::vector<const char*> pointers(size_t(values.size()), nullptr);
    std::vector<Oid> types(size_t(values.size()), 0); // 0: the server decides, as for a quoted text
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values.at(i);
        if (value.isNull())
            continue;
        QByteArray& text = texts[size_t(i)];
        switch (value.typeId()) {
        case QMetaType::Bool:
            text = value.toBool() ? "true" : "false";
            types[size_t(i)] = kBool;
            break;
        case QMetaType::Int:
            text = QByteArray::number(value.toInt());
            types[size_t(i)] = kInt4;
            break;
        case QMetaType::UInt:
        case QMetaType::LongLong:
            text = QByteArray::number(value.toLongLong());
            types[size_t(i)] = kInt8;
            break;
        case QMetaType::Double:
            text = QByteArray::number(value.toDouble(), 'g', 17);
            types[size_t(i)] = kFloat8;
            break;
        default:
            text = value.toString().toUtf8();
            break;
        }
        pointers[size_t(i)] = text.constData();
    }
    if (!PQsendQueryParams(connection, numbered.constData(), int(values.size()), types.data(), pointers.data(), nullptr,
                           nullptr, 0))
        return fail("Unable to send query", nullptr);
    m_sent = true;
    PQsetSingleRowMode(connection);
    if (next())
        return true;
    return !m_error.isValid();
}

void PostgresStatement::clearRow() {
    if (m_row && m_row != m_shape)
        PQclear(m_row);
    m_row = nullptr;
    m_onRow = false;
}

bool PostgresStatement::next() {
    clearRow();
    if (!m_sent)
        return false;
    PGresult* result = PQgetResult(m_connection);
    if (result && PQresultStatus(result) == PGRES_SINGLE_TUPLE) {
        if (!m_shape)
            m_shape = result;
        m_row = result;
        m_onRow = true;
        return true;
    }
    if (!result) {
        if (!m_shape)
            fail("Unable to get result", nullptr);
    } else if (PQresultStatus(result) != PGRES_TUPLES_OK) {
        fail(m_shape ? "Unable to get result" : "Unable to create query", result);
        PQclear(result);
    } else if (!m_shape) {
        m_shape = result; // an empty result still names its columns
    } else {
        PQclear(result);
    }
    // The end of the rows or a failure: nothing more will come for this statement.
    while (PGresult* rest = PQgetResult(m_connection))
        PQclear(rest);
    m_sent = false;
    return false;
}

void PostgresStatement::finish() {
    clearRow();
    if (m_sent) {
        while (PGresult* rest = PQgetResult(m_connection))
            PQclear(rest);
        m_sent = false;
    }
    if (m_shape)
        PQclear(m_shape);
    m_shape = nullptr;
}

int PostgresStatement::columnCount() const {
    return m_shape ? PQnfields(m_shape) : 0;
}

QString PostgresStatement::columnName(int column) const {
    return QString::fromUtf8(PQfname(m_shape, column));
}

QVariant PostgresStatement::value(int column) const {
    if (isNull(column))
        return QVariant(QMetaType::fromType<QString>());
    const Oid type = PQftype(m_shape, column);
    if (type == kBool)
        return PQgetvalue(m_row, 0, column)[0] == 't';
    if (type == kFloat4 || type == kFloat8 || type == kNumeric)
        return QByteArray(PQgetvalue(m_row, 0, column), PQgetlength(m_row, 0, column)).toDouble();
    qint64 number = 0;
    if (integer(column, &number))
        return qlonglong(number);
    return text(column).toString();
}

bool PostgresStatement::isNull(int column) const {
    return !m_row || PQgetisnull(m_row, 0, column);
}

bool PostgresStatement::integer(int column, qint64* number) const {
    if (isNull(column) || !isWholeNumberType(PQftype(m_shape, column)))
        return false;
    const char* text = PQgetvalue(m_row, 0, column);
    const char* end = text + PQgetlength(m_row, 0, column);
    return std::from_chars(text, end, *number).ptr == end;
}

QAnyStringView PostgresStatement::text(int column) const {
    if (isNull(column))
        return QAnyStringView();
    if (PQftype(m_shape, column) == kBool)
        return PQgetvalue(m_row, 0, column)[0] == 't' ? QLatin1StringView("true") : QLatin1StringView("false");
    return QUtf8StringView(PQgetvalue(m_row, 0, column), PQgetlength(m_row, 0, column));
}

#else

// Without libpq no connection is offered, so nothing below is reached.
pg_conn* PostgresStatement::handleOf(const QSqlDatabase&) {
    return nullptr;
}
pg_conn* PostgresStatement::sessionOf(const QSqlDatabase&) {
    return nullptr;
}
bool PostgresStatement::canBind(const QVariantList&) {
    return false;
}
PostgresStatement::~PostgresStatement() = default;
bool PostgresStatement::fail(const char*, pg_result*) {
    return false;
}
void PostgresStatement::clearRow() {}
bool PostgresStatement::start(pg_conn*, const QString&, const QVariantList&) {
    return false;
}
bool PostgresStatement::next() {
    return false;
}
void PostgresStatement::finish() {}
int PostgresStatement::columnCount() const {
    return 0;
}
QString PostgresStatement::columnName(int) const {
    return QString();
}
QVariant PostgresStatement::value(int) const {
    return QVariant();
}
bool PostgresStatement::isNull(int) const {
    return true;
}
bool PostgresStatement::integer(int, qint64*) const {
    return false;
}
QAnyStringView PostgresStatement::text(int) const {
    return QAnyStringView();
}

#endif
