#pragma once

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <memory>
#include <vector>

#include "NativeStatement.h"

class DatabaseConnection;

// One read-only, forward-only SELECT at a time on a DatabaseConnection: Open, read the rows
// with IsEOF / GetFieldValue / MoveNext, Close. Failures set the two texts and are
// logged through the database's error log.
class Recordset {
public:
    Recordset();
    virtual ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // How the cells will be read. Texts: cells taken with GetFieldTextAt, or as values when
    // they are numbers and texts; the rows then come straight from the database library where it
    // can, with no value made per cell, and no other statement may run on the database until
    // they are read or closed.
    enum class Reading { values, Texts };
    // values are bound to the statement's '?' placeholders in order.
    bool open(const QString& sql, DatabaseConnection* database, const QVariantList& values = {},
              Reading reading = Reading::values);
    bool isEOF() const;
    // A statement read as texts whose first rows do not come within a moment (a lock held by
    // another workstation or program) is then waited for through waiter, which keeps the caller's
    // window alive until ready() says the rows came, and returns false when the user gave up: the
    // statement is then cancelled and open() fails with givenUp() set. Nothing else may use the
    // database meanwhile.
    void setWaiter(std::function<bool(const std::function<bool()>& ready)> waiter) { m_waiter = std::move(waiter); }
    bool givenUp() const { return m_givenUp; }
    // A database NULL arrives as a null QVariant (QVariant::isNull()).
    bool getFieldValue(const QString& name, QVariant* value);
    // The position of a column of the open result (-1 when there is none) and a value by that
    // position, for loops over many rows where looking each name up again would cost.
    int fieldIndex(const QString& name) const { return m_open ? columnIndex(name) : -1; }
    bool getFieldValueAt(int index, QVariant* value) {
        if (!m_open || m_eof || index < 0 || index >= m_columns.size())
            return false;
        if (value)
            *value = m_native ? m_native->value(index) : cellValue(index);
        return true;
    }
    // A cell as text, valid until MoveNext: a number written out, empty for NULL (then
    // *isNull is set, when given). Read each cell of a row either this way or as a value.
    bool getFieldTextAt(int index, QAnyStringView* text, bool* isNull = nullptr);
    // A cell holding a whole number, read without making a value; false for anything else
    // (NULL, a text, a decimal number), which GetFieldValueAt reads.
    bool getFieldIntegerAt(int index, qint64* number);
    // False at the end of the rows and when the next row could not be read; readFailed()
    // tells the two apart, so a caller never takes a broken read for the last row.
    bool moveNext();
    bool readFailed() const { return m_readFailed; }
    void close();
    // The last failure for a person: the database's own words first, then the provider line.
    QString errorText() const;

    DatabaseConnection* m_connection = nullptr;
    QString m_comError;
    QString m_providerError;

private:
    void fail(const char* context, const QSqlError& error);
    bool startNative(const QString& sql, const QVariantList& values, QSqlError* error);
    int columnIndex(const QString& name) const;

    std::unique_ptr<QSqlQuery> m_query;
    std::unique_ptr<NativeStatement> m_native; // instead of m_query, when reading texts natively
    // The current row's cells as Qt SQL gave them, each asked of the driver once (a driver
    // may make the value anew on every call), and the texts that had to be made of them.
    const QVariant& cellValue(int index);
    std::vector<QVariant> m_cellValues;
    std::vector<quint64> m_cellValueRow; // the row each value belongs to
    quint64 m_row = 0;                   // counts the rows read, so that older values are known
    std::vector<QString> m_cellTexts;
    QHash<QString, int> m_columns; // lower-case column name -> index
    bool m_open = false;
    bool m_eof = true;
    bool m_readFailed = false;
    bool m_givenUp = false;
    std::function<bool(const std::function<bool()>& ready)> m_waiter;
    QString m_databaseText;
};
