#include "CAdoDatabase.h"
#include "CAdoRecordset.h"
#include "DbLab.h"
#include "SqlDialect.h"

#include <QtTest>

class TestSqlDialect : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { DbLab::addBackends(); }

    void leadingNumber_data();
    void leadingNumber();
    void containsCondition_data();
    void containsCondition();
    void dayBounds_data();
    void dayBounds();
    void dayEndExcludesLaterSeconds();

private:
    DbLab::Backend backend() {
        QFETCH_GLOBAL(int, backend);
        return DbLab::Backend(backend);
    }
};

void TestSqlDialect::leadingNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qlonglong>("expected");
    QTest::newRow("plain") << "1234" << 1234LL;
    QTest::newRow("letters after") << "12abc" << 12LL;
    QTest::newRow("leading blank") << " 7" << 7LL;
    QTest::newRow("negative") << "-3" << -3LL;
    QTest::newRow("plus") << "+5" << 5LL;
    QTest::newRow("leading zeros") << "0012" << 12LL;
    QTest::newRow("decimal") << "3.9" << 3LL;
    QTest::newRow("empty") << "" << 0LL;
    QTest::newRow("letters") << "abc" << 0LL;
    QTest::newRow("sign only") << "-" << 0LL;
    QTest::newRow("quote") << "'5" << 0LL;
}

void TestSqlDialect::leadingNumber() {
    QFETCH(QString, text);
    QFETCH(qlonglong, expected);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.addResult(text, "x", "2026-01-01 00:00:00") > 0);
    CAdoDatabase ado;
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    const QString sql = QStringLiteral("SELECT %1 AS n FROM RESULTS").arg(ado.dialect().leadingNumber("RequestID"));
    QVERIFY2(rs.Open(sql, &ado), qPrintable(rs.szComError));
    QVariant v;
    QVERIFY(rs.GetFieldValue("n", &v));
    QCOMPARE(v.toString().toLongLong(), expected);
    rs.Close();
    // The comparison the search makes: the stored text against a bound whole number.
    QVERIFY(rs.Open(QStringLiteral("SELECT ID FROM RESULTS WHERE %1 = ?").arg(ado.dialect().leadingNumber("RequestID")),
                    &ado, {expected}));
    QVERIFY(!rs.IsEOF());
    rs.Close();
}

void TestSqlDialect::containsCondition_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("middle, other case") << "ESC" << QStringList{"Popescu Ion - Rex"};
    QTest::newRow("start") << "pop" << QStringList{"Popescu Ion - Rex"};
    QTest::newRow("end") << "rex" << QStringList{"Popescu Ion - Rex"};
    QTest::newRow("percent is literal") << "%" << QStringList{"Reducere 50% - Tom"};
    QTest::newRow("underscore is literal") << "_" << QStringList{"lot_3"};
    QTest::newRow("quote") << "O'B" << QStringList{"O'Brien - Max"};
    QTest::newRow("backslash") << "\\" << QStringList{"a\\b"};
    QTest::newRow("Romanian letters, small for capital")
        << QString::fromUtf8("ștefan") << QStringList{QString::fromUtf8("Ștefan Țurcanu")};
    QTest::newRow("Romanian letters, capital for small")
        << QString::fromUtf8("ȚURCANU") << QStringList{QString::fromUtf8("Ștefan Țurcanu")};
    // Typed without the marks of the Romanian letters, or with the other form of ş and ţ.
    QTest::newRow("plain letters for comma-below")
        << "stefan turcanu" << QStringList{QString::fromUtf8("Ștefan Țurcanu")};
    QTest::newRow("cedilla for comma-below")
        << QString::fromUtf8("ŞTEFAN ŢURCANU") << QStringList{QString::fromUtf8("Ștefan Țurcanu")};
    QTest::newRow("plain letters for cedilla, breve, circumflex")
        << "INGERAS CAMPEANU" << QStringList{QString::fromUtf8("Îngeraş Câmpeanu - Mărţişor")};
    QTest::newRow("comma-below for cedilla")
        << QString::fromUtf8("mărțișor") << QStringList{QString::fromUtf8("Îngeraş Câmpeanu - Mărţişor")};
    QTest::newRow("everything with empty") << ""
                                           << QStringList{"Popescu Ion - Rex",
                                                          "Reducere 50% - Tom",
                                                          "lot_3",
                                                          "lotX3",
                                                          "O'Brien - Max",
                                                          "a\\b",
                                                          QString::fromUtf8("Ștefan Țurcanu"),
                                                          QString::fromUtf8("Îngeraş Câmpeanu - Mărţişor")};
    QTest::newRow("nothing") << "zzz" << QStringList{};
}

void TestSqlDialect::containsCondition() {
    QFETCH(QString, typed);
    QFETCH(QStringList, found);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    for (const char* name : {"Popescu Ion - Rex", "Reducere 50% - Tom", "lot_3", "lotX3", "O'Brien - Max", "a\\b",
                             "Ștefan Țurcanu", "Îngeraş Câmpeanu - Mărţişor"})
        QVERIFY(db.addResult("1", QString::fromUtf8(name), "2026-01-01 00:00:00") > 0);
    QVERIFY(db.addResult("1", QVariant(), "2026-01-01 00:00:00") > 0);
    CAdoDatabase ado;
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    const QString sql = QStringLiteral("SELECT PacientName FROM RESULTS WHERE %1 ORDER BY ID")
                            .arg(ado.dialect().containsCondition("PacientName"));
    QVERIFY2(rs.Open(sql, &ado, {SqlDialect::containsPattern(typed)}), qPrintable(rs.szComError));
    QStringList names;
    for (; !rs.IsEOF(); rs.MoveNext()) {
        QVariant v;
        QVERIFY(rs.GetFieldValue("PacientName", &v));
        names << v.toString();
    }
    rs.Close();
    QCOMPARE(names, found);
}

void TestSqlDialect::dayBounds_data() {
    QTest::addColumn<QString>("day");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::newRow("short") << "2006/3/6"
                           << "2006-03-06 00:00:00"
                           << "2006-03-06 23:59:00";
    QTest::newRow("padded") << "2006/03/06"
                            << "2006-03-06 00:00:00"
                            << "2006-03-06 23:59:00";
    QTest::newRow("blanks") << " 2026/ 12/ 31"
                            << "2026-12-31 00:00:00"
                            << "2026-12-31 23:59:00";
    QTest::newRow("leap day") << "2024/2/29"
                              << "2024-02-29 00:00:00"
                              << "2024-02-29 23:59:00";
    QTest::newRow("no such day") << "2026/2/30"
                                 << ""
                                 << "";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("letters") << "2026/x/1"
                             << ""
                             << "";
    QTest::newRow("two parts") << "2026/1"
                               << ""
                               << "";
}

void TestSqlDialect::dayBounds() {
    QFETCH(QString, day);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QCOMPARE(SqlDialect::dayStart(day), start);
    QCOMPARE(SqlDialect::dayEnd(day), end);
}

void TestSqlDialect::dayEndExcludesLaterSeconds() {
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    for (const char* when : {"2026-03-05 23:59:59", "2026-03-06 00:00:00", "2026-03-06 23:59:00", "2026-03-06 23:59:30",
                             "2026-03-07 00:00:00"})
        QVERIFY(db.addResult("1", QString::fromLatin1(when), QString::fromLatin1(when)) > 0);
    CAdoDatabase ado;
    QVERIFY(ado.Open(db.connectionString()));
    const SqlDialect& d = ado.dialect();
    CAdoRecordset rs;
    const QString sql = QStringLiteral("SELECT PacientName FROM RESULTS WHERE TransDate >= %1 AND TransDate <= %1 "
                                       "ORDER BY TransDate")
                            .arg(d.dateParameter());
    QVERIFY(rs.Open(sql, &ado, {SqlDialect::dayStart("2026/3/6"), SqlDialect::dayEnd("2026/3/6")}));
    QStringList names;
    for (; !rs.IsEOF(); rs.MoveNext()) {
        QVariant v;
        QVERIFY(rs.GetFieldValue("PacientName", &v));
        names << v.toString();
    }
    rs.Close();
    QCOMPARE(names, QStringList({"2026-03-06 00:00:00", "2026-03-06 23:59:00"}));
}

QTEST_GUILESS_MAIN(TestSqlDialect)
#include "tst_sqldialect.moc"
