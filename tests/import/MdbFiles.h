#pragma once

// Copies of the Jet test files kept in tests/import/data in a temporary folder, so that no
// test can change the originals, and a way to read a whole table of one.

#include "MdbReader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class MdbFiles {
public:
    // LABROSA_MDB_TESTDATA in the environment names another folder of the same files.
    static QString sourceDir() {
        const QString dir = qEnvironmentVariable("LABROSA_MDB_TESTDATA");
        return dir.isEmpty() ? QStringLiteral(LABROSA_MDB_TESTDATA) : dir;
    }
    // Empty when every file the tests read is there; otherwise which are missing, for the
    // failure that stops the tests (a missing file must not let them pass unread).
    static QString missing() {
        QStringList names;
        for (const char* name : {"nwind.mdb", "DateTestDatabase.mdb"})
            if (!QFileInfo(sourceDir() + QLatin1Char('/') + QLatin1String(name)).isFile())
                names << QLatin1String(name);
        return names.isEmpty() ? QString()
                               : QStringLiteral("%1 missing from %2").arg(names.join(QLatin1String(", ")), sourceDir());
    }

    // A writable copy of one of the test files, under a name of the caller's choice; empty
    // when it cannot be made.
    QString copy(const QString& name, const QString& as = QString()) {
        const QString target = m_dir.filePath(as.isEmpty() ? name : as);
        QFile::remove(target);
        if (!QFile::copy(sourceDir() + QLatin1Char('/') + name, target))
            return QString();
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        return target;
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    static QByteArray checksum(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return QByteArray();
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
    }

    // Every row of a table, values by column name.
    static QList<QHash<QString, QVariant>> readTable(MdbReader& reader, const QString& table, QString* error) {
        QList<QHash<QString, QVariant>> rows;
        qint64 count = 0;
        if (!reader.openTable(table, &count, error))
            return rows;
        const QVector<SourceColumn> columns = reader.columns(table);
        QVector<QVariant> values;
        while (reader.nextRow(&values, error)) {
            QHash<QString, QVariant> row;
            for (int i = 0; i < columns.size(); ++i)
                row.insert(columns.at(i).name, values.at(i));
            rows << row;
        }
        return rows;
    }

private:
    QTemporaryDir m_dir;
};

// nwind's orders as result sets: the order number as request and record identifier, the
// ship name as patient, the order and shipping dates.
inline constexpr char kOrdersMapping[] = R"(# nwind Orders as result sets
table RESULTS <- Orders
ID <- OrderID          # the record identifier
RequestID <- OrderID
PacientName <- ShipName
TransDate <- OrderDate
ProcDate <- ShippedDate
Age <- EmployeeID
VSH <- Freight
comment <- ShipAddress
SEX <- 'F'
)";

// The rest of nwind as a laboratory's other tables: suppliers as profiles, shippers as
// analysers, products as parameters and as the intervals of the profile numbered by their
// category, order lines as the sets' values. Suppliers 9 to 29 get no intervals.
inline constexpr char kLabTables[] = R"(profileID <- EmployeeID
table VET_PROFILES <- Suppliers
id <- SupplierID
profileName <- CompanyName
table ANALYSERS <- Shippers
MachineID <- ShipperID
AnalyseName <- CompanyName
table PARAMETERS <- Products
MachineID <- 1
refcode <- ProductID
refName <- ProductName
table RESULT_VALUES <- [Order Details]
resultID <- OrderID
MachineID <- 1
refcode <- ProductID
stringvalue <- UnitPrice
table VET_PROFILE_NORMAL_VALUES <- Products
profileID <- CategoryID
refcode <- ProductID
minValue <- ReorderLevel
maxValue <- UnitsInStock
)";
