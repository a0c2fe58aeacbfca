#pragma once

#include "ImportSource.h"

#include <QByteArray>
#include <QHash>

#include <vector>

struct S_MdbTableDef;

// Reads the tables of an Access (Jet 3 or Jet 4) file through libmdb. The file is opened
// read-only. libmdb trusts the file: on a damaged one it may read garbage, stop early or
// end the process, so the header and size are checked first, every table's rows are
// counted against what the table says it holds, and probe() reads the whole file once in a
// child process before it is opened here.
class MdbReader : public ImportSource {
public:
    MdbReader() = default;
    ~MdbReader() override;
    MdbReader(const MdbReader&) = delete;
    MdbReader& operator=(const MdbReader&) = delete;

    // Refuses, with a message, a file that is missing, locked by Access, not a Jet 3 or 4
    // database, or cut short; otherwise opens it and reads its list of tables.
    bool open(const QString& path, QString* error);
    // "Jet 3" or "Jet 4".
    QString formatName() const;
    // Opens the file and reads every row of every table in a child process, so that a file
    // that makes the reader fail, crash or end the process there is reported here, naming
    // the table, before this process opens it.
    static bool probe(const QString& path, QString* error);

    QStringList tables() const override;
    QVector<SourceColumn> columns(const QString& table) const override;
    bool openTable(const QString& table, qint64* rows, QString* error) override;
    bool nextRow(QVector<QVariant>* values, QString* error) override;

    // A Jet date (days since 1899-12-30, the fraction being the time of day, also for days
    // before it) as 'YYYY-MM-DD HH:MM:SS'; false outside the years 100 to 9999.
    static bool dateText(double days, QString* text);
    // A currency value (a whole number of ten-thousandths) as an exact decimal text.
    static QString currencyText(qint64 tenThousandths);

private:
    struct Table {
        QString name;
        S_MdbTableDef* def = nullptr;
        QVector<SourceColumn> columns;
    };
    void close();
    QString text(const unsigned char* bytes, size_t length) const;
    bool memo(int start, int size, QString* value, QString* error) const;
    bool value(int column, bool isNull, int start, int size, QVariant* value, QString* error) const;

    void* m_mdb = nullptr; // MdbHandle
    QString m_path;
    int m_pageSize = 0;
    qint64 m_pages = 0;
    bool m_jet4 = false;
    std::vector<Table> m_tables;
    Table* m_current = nullptr;
    qint64 m_read = 0;
    qint64 m_expected = 0;
};
