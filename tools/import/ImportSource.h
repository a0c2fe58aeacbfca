#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// A column of a source table, with its type as a person reads it. A column the import cannot
// carry (a picture, a binary value) is listed with skipped set; its values always come as NULL.
struct SourceColumn {
    QString name;
    QString typeName;
    bool skipped = false;
};

// Where the import takes its rows from: the laboratory's Jet file, or a generator that feeds
// the same writer. Values come as the writer expects them: qint64 for whole numbers, double
// for floating values, bool for yes/no, QString for texts, exact decimal texts (currency,
// decimal columns) and dates ('YYYY-MM-DD HH:MM:SS'), a null QVariant for NULL.
class ImportSource {
public:
    virtual ~ImportSource() = default;

    virtual QStringList tables() const = 0;
    virtual QVector<SourceColumn> columns(const QString& table) const = 0;
    // Starts reading a table from its first row; *rows is how many rows it holds.
    virtual bool openTable(const QString& table, qint64* rows, QString* error) = 0;
    // The next row of the open table, one value per column. False at the end, and on a
    // failure, which then leaves a text in *error.
    virtual bool nextRow(QVector<QVariant>* values, QString* error) = 0;
};
