#include "MdbFiles.h"

#include <QTest>

#include <cmath>
#include <limits>

// The Jet reader against values read by hand from the shared test files (mdb-export,
// mdb-count, and the raw day counts of the dates found in the file's bytes).
class TestMdbReader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const QString missing = MdbFiles::missing();
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
    }

    void tables_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("password");
        QTest::addColumn<QString>("table");
        QTest::addColumn<qint64>("rows");
        QTest::addColumn<QString>("format");
        QTest::newRow("Jet 3 orders") << "nwind.mdb" << false << "Orders" << qint64(830) << "Jet 3";
        QTest::newRow("Jet 3 order lines") << "nwind.mdb" << false << "Order Details" << qint64(2155) << "Jet 3";
        QTest::newRow("Jet 3 customers") << "nwind.mdb" << false << "Customers" << qint64(91) << "Jet 3";
        QTest::newRow("table name with a non-ASCII letter")
            << "nwind.mdb" << false << QString::fromUtf8("Umsätze") << qint64(830) << "Jet 3";
        QTest::newRow("Jet 4 dates") << "DateTestDatabase.mdb" << false << "DateTest" << qint64(6) << "Jet 4";
        // A database password is only a masked copy in the header: the file reads the same.
        QTest::newRow("Jet 3 with a password") << "nwind.mdb" << true << "Orders" << qint64(830) << "Jet 3";
        QTest::newRow("Jet 4 with a password") << "DateTestDatabase.mdb" << true << "DateTest" << qint64(6) << "Jet 4";
    }
    void tables() {
        QFETCH(QString, file);
        QFETCH(bool, password);
        QFETCH(QString, table);
        QFETCH(qint64, rows);
        QFETCH(QString, format);
        MdbFiles files;
        const QString path = files.copy(file);
        QVERIFY(!path.isEmpty());
        if (password) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek(0x42));
            QVERIFY(f.write(QByteArray("Secret-Lab-2026-Pass").repeated(2)) == 40);
        }
        MdbReader reader;
        QString error;
        QVERIFY2(reader.open(path, &error), qPrintable(error));
        QCOMPARE(reader.formatName(), format);
        QVERIFY(reader.tables().contains(table));
        QCOMPARE(MdbFiles::readTable(reader, table, &error).size(), rows);
        QCOMPARE(error, QString());
    }

    void values_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("key");
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("expected");
        const QString nwind = QStringLiteral("nwind.mdb");
        const QString dates = QStringLiteral("DateTestDatabase.mdb");
        QTest::newRow("date") << nwind << "Orders"
                              << "OrderID" << qint64(10248) << "OrderDate" << QVariant("1994-08-04 00:00:00");
        QTest::newRow("missing date is NULL") << nwind << "Orders"
                                              << "OrderID" << qint64(11077) << "ShippedDate" << QVariant();
        QTest::newRow("missing text is NULL") << nwind << "Orders"
                                              << "OrderID" << qint64(10248) << "ShipRegion" << QVariant();
        QTest::newRow("currency exact") << nwind << "Orders"
                                        << "OrderID" << qint64(10248) << "Freight" << QVariant("32.3800");
        QTest::newRow("long integer") << nwind << "Orders"
                                      << "OrderID" << qint64(10248) << "EmployeeID" << QVariant(qint64(5));
        QTest::newRow("code page text") << nwind << "Orders"
                                        << "OrderID" << qint64(10330) << "ShipAddress"
                                        << QVariant(
                                               QString::fromUtf8("Carrera 52 con Ave. Bolívar #65-98 Llano Largo"));
        QTest::newRow("integer") << nwind << "Products"
                                 << "ProductID" << qint64(1) << "UnitsInStock" << QVariant(qint64(39));
        QTest::newRow("yes") << nwind << "Products"
                             << "ProductID" << qint64(5) << "Discontinued" << QVariant(true);
        QTest::newRow("no") << nwind << "Products"
                            << "ProductID" << qint64(1) << "Discontinued" << QVariant(false);
        QTest::newRow("text with a line break")
            << nwind << "Employees"
            << "EmployeeID" << qint64(1) << "Address" << QVariant("507 - 20th Ave. E.\r\nApt. 2A");
        QTest::newRow("memo whole")
            << nwind << "Employees"
            << "EmployeeID" << qint64(1) << "Notes"
            << QVariant("Education includes a BA in psychology from Colorado State University in 1970.  She also "
                        "completed \"The Art of the Cold Call.\"  Nancy is a member of Toastmasters International.");
        QTest::newRow("picture skipped") << nwind << "Employees"
                                         << "EmployeeID" << qint64(1) << "Photo" << QVariant();
        QTest::newRow("year 9999") << dates << "DateTest"
                                   << "IDCol" << qint64(2) << "DateTimeCol" << QVariant("9999-01-01 00:00:00");
        QTest::newRow("before 1900") << dates << "DateTest"
                                     << "IDCol" << qint64(3) << "DateTimeCol" << QVariant("1898-01-01 00:00:00");
        QTest::newRow("before 1000") << dates << "DateTest"
                                     << "IDCol" << qint64(4) << "DateCol" << QVariant("0633-01-01 00:00:00");
        QTest::newRow("Jet 4 memo with a line break")
            << dates << "DateTest"
            << "IDCol" << qint64(6) << "LongTextCol" << QVariant("New line\r\nin field");
        QTest::newRow("Jet 4 text") << dates << "DateTest"
                                    << "IDCol" << qint64(6) << "ShortTextCol" << QVariant("No new line");
    }
    void values() {
        QFETCH(QString, file);
        QFETCH(QString, table);
        QFETCH(QString, key);
        QFETCH(qint64, id);
        QFETCH(QString, column);
        QFETCH(QVariant, expected);
        MdbFiles files;
        MdbReader reader;
        QString error;
        QVERIFY2(reader.open(files.copy(file), &error), qPrintable(error));
        const auto rows = MdbFiles::readTable(reader, table, &error);
        QCOMPARE(error, QString());
        int found = 0;
        for (const auto& row : rows) {
            if (row.value(key).toLongLong() != id)
                continue;
            ++found;
            const QVariant actual = row.value(column);
            QCOMPARE(actual.isNull(), expected.isNull());
            if (!expected.isNull()) {
                QCOMPARE(actual.typeId(), expected.typeId());
                QCOMPARE(actual, expected);
            }
        }
        QCOMPARE(found, 1);
    }

    void dates_data() {
        QTest::addColumn<double>("days");
        QTest::addColumn<QString>("expected"); // empty: refused
        QTest::newRow("the epoch") << 0.0 << "1899-12-30 00:00:00";
        QTest::newRow("time counts up before the epoch") << -1.25 << "1899-12-29 06:00:00";
        QTest::newRow("noon") << 2.5 << "1900-01-01 12:00:00";
        QTest::newRow("last second of 9999") << 2958465.0 + 86399.0 / 86400.0 << "9999-12-31 23:59:59";
        QTest::newRow("first day of year 100") << -657434.0 << "0100-01-01 00:00:00";
        QTest::newRow("rounds to the next day") << 44532.0 + 86399.9 / 86400.0 << "2021-12-03 00:00:00";
        QTest::newRow("year 10000") << 2958466.0 << "";
        QTest::newRow("year 99") << -657435.0 << "";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "";
    }
    void dates() {
        QFETCH(double, days);
        QFETCH(QString, expected);
        QString text;
        QCOMPARE(MdbReader::dateText(days, &text), !expected.isEmpty());
        QCOMPARE(text, expected);
    }
};

QTEST_GUILESS_MAIN(TestMdbReader)
#include "tst_mdbreader.moc"
