#include "CAdoRecordset.h"

#include "CAdoDatabase.h"
#include "PostgresStatement.h"
#include "SqliteStatement.h"

#include <QSqlRecord>

namespace {

QSqlError recordsetError(const QString& text, QSqlError::ErrorType type = QSqlError::StatementError) {
    return QSqlError(text, text, type);
}

} // namespace

CAdoRecordset::CAdoRecordset() = default;

CAdoRecordset::~CAdoRecordset() = default;

void CAdoRecordset::fail(const char* context, const QSqlError& error) {
    const QString source = adoDbf ? adoDbf->driverName() : QString();
    szComError = FormatComError(error, source);
    m_databaseText = error.databaseText();
    if (adoDbf && adoDbf->hasConnection())
        szProviderError = GetProviderErrors(error);
    else
        szProviderError.clear();
    if (adoDbf) {
        adoDbf->NoteErrorCode(error.nativeErrorCode());
        adoDbf->LogError(QString::fromLatin1(context), szComError, szProviderError);
    }
}

bool CAdoRecordset::Open(const QString& sql, CAdoDatabase* database, const QVariantList& values, Reading reading) {
    m_readFailed = false;
    m_databaseText.clear();
    if (database)
        adoDbf = database;
    if (!adoDbf) {
        szProviderError = QStringLiteral("Error: adoDbf not initializated");
        return false;
    }
    if (m_open) {
        fail("CAdoRecordset::Open",
             recordsetError(QStringLiteral("The recordset is already open; close it before opening it again")));
        return false;
    }
    if (!adoDbf->hasConnection()) {
        szComError = FormatComError(
            recordsetError(QStringLiteral("No database connection has been opened"), QSqlError::ConnectionError),
            QString());
        szProviderError = QStringLiteral("Error:pConnection is NULL");
        adoDbf->LogError(QStringLiteral("CAdoRecordset::Open"), szComError, szProviderError);
        return false;
    }

    if (HoldsSeveralStatements(sql)) {
        fail("CAdoRecordset::Open", severalStatementsError());
        return false;
    }
    bool reopened = false;
    if (!adoDbf->EnsureOpen(&reopened)) {
        fail("CAdoRecordset::Open", reopened ? adoDbf->connection().lastError() : closedConnectionError());
        return false;
    }
    QSqlError error;
    for (int attempt = reopened ? 1 : 0; attempt < 2; ++attempt) {
        if (reading == Reading::Texts && startNative(sql, values, &error)) {
            if (m_native)
                break;
        } else {
            m_query = std::make_unique<QSqlQuery>(adoDbf->connection());
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
        if (attempt > 0 || !adoDbf->ReconnectAfter(error))
            break;
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
        m_eof = m_native->AtEnd();
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
        Close();
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
    if (statement->Start(connection, sql, values))
        *started = std::move(statement);
    else
        *error = statement->error();
}

} // namespace

// Whether the rows can come straight from the database library under the driver: then
// m_native holds the started statement, or *error says why it could not start.
bool CAdoRecordset::startNative(const QString& sql, const QVariantList& values, QSqlError* error) {
    const QSqlDatabase db = adoDbf->connection();
    if (sqlite3* connection = SqliteStatement::CanBind(values) ? SqliteStatement::HandleOf(db) : nullptr) {
        startStatement<SqliteStatement>(connection, sql, values, &m_native, error);
        return true;
    }
    if (pg_conn* connection = PostgresStatement::CanBind(values) ? PostgresStatement::HandleOf(db) : nullptr) {
        startStatement<PostgresStatement>(connection, sql, values, &m_native, error);
        return true;
    }
    return false;
}

bool CAdoRecordset::GetFieldTextAt(int index, QAnyStringView* text, bool* isNull) {
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

const QVariant& CAdoRecordset::cellValue(int index) {
    if (m_cellValueRow[size_t(index)] != m_row) {
        m_cellValues[size_t(index)] = m_query->value(index);
        m_cellValueRow[size_t(index)] = m_row;
    }
    return m_cellValues[size_t(index)];
}

bool CAdoRecordset::GetFieldIntegerAt(int index, qint64* number) {
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

bool CAdoRecordset::IsEOF() const {
    return !m_open || m_eof;
}

int CAdoRecordset::columnIndex(const QString& name) const {
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

bool CAdoRecordset::GetFieldValue(const QString& name, QVariant* value) {
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

bool CAdoRecordset::MoveNext() {
    if (!m_open || m_eof) {
        fail("CAdoRecordset::MoveNext", recordsetError(QStringLiteral("There is no current row to move from")));
        return false;
    }
    ++m_row;
    m_eof = m_native ? !m_native->Next() : !m_query->next();
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

QString CAdoRecordset::ErrorText() const {
    return CombinedErrorText(m_databaseText, szProviderError);
}

void CAdoRecordset::Close() {
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
