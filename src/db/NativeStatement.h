#pragma once

#include <QAnyStringView>
#include <QSqlError>
#include <QString>
#include <QVariant>

// A SELECT run straight on the database library under Qt's driver, on the driver's own
// connection, so that its cells are read where the library keeps them: no value and no string
// is made per cell unless one is asked for. For reading many rows at once; values, errors and
// texts come out as the driver would give them. No other statement may run on the connection
// until the rows are read or Finish is called.
class NativeStatement {
public:
    virtual ~NativeStatement() = default;

    bool atEnd() const { return !m_onRow; }
    // Steps to the next row: false at the end and on a failure, which leaves error() valid.
    virtual bool next() = 0;
    const QSqlError& error() const { return m_error; }
    virtual void finish() = 0;

    virtual int columnCount() const = 0;
    virtual QString columnName(int column) const = 0;
    // The cell as Qt's driver gives it; a null value of text type for NULL.
    virtual QVariant value(int column) const = 0;
    virtual bool isNull(int column) const = 0;
    // Whether the cell holds a whole number, and that number in *number.
    virtual bool integer(int column, qint64* number) const = 0;
    // The cell as text (a number written out); valid until Next or Finish.
    virtual QAnyStringView text(int column) const = 0;

protected:
    bool m_onRow = false;
    QSqlError m_error;
};

// Whether the Qt SQL driver loaded from a file whose path contains driverFile runs on the very
// library this program links to: whether its lookup of symbol finds ours. A driver built with a
// copy of its own hands out connections of that copy, which this program must never touch.
bool driverSharesFunction(const char* driverFile, const char* symbol, const void* ours);
