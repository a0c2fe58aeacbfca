#include "DatabaseConnection.h"
#include "DbLab.h"
#include "Recordset.h"
#include "SearchIndexes.h"
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
    DatabaseConnection ado;
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    const QString sql = QStringLiteral("SELECT %1 AS n FROM RESULTS").arg(ado.dialect().leadingNumber("RequestID"));
    QVERIFY2(rs.open(sql, &ado), qPrintable(rs.m_comError));
    QVariant v;
    QVERIFY(rs.getFieldValue("n", &v));
    QCOMPARE(v.toString().toLongLong(), expected);
    rs.close();
    // The comparison the search makes: the stored text against a bound whole number.
    QVERIFY(rs.open(QStringLiteral("SELECT ID FROM RESULTS WHERE %1 = ?").arg(ado.dialect().leadingNumber("RequestID")),
                    &ado, {expected}));
    QVERIFY(!rs.isEOF());
    rs.close();
}

void TestSqlDialect::containsCondition_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("found");
    // Statements another program runs first, on a connection of its own without the
    // program's SQL functions (as the analysers' transfer program writes RESULTS).
    QTest::addColumn<QStringList>("otherProgram");
    QTest::newRow("middle, other case") << "ESC" << QStringList{"Popescu Ion - Rex"} << QStringList();
    QTest::newRow("start") << "pop" << QStringList{"Popescu Ion - Rex"} << QStringList();
    QTest::newRow("end") << "rex" << QStringList{"Popescu Ion - Rex"} << QStringList();
    QTest::newRow("percent is literal") << "%" << QStringList{"Reducere 50% - Tom"} << QStringList();
    QTest::newRow("underscore is literal") << "_" << QStringList{"lot_3"} << QStringList();
    QTest::newRow("quote") << "O'B" << QStringList{"O'Brien - Max"} << QStringList();
    QTest::newRow("backslash") << "\\" << QStringList{"a\\b"} << QStringList();
    QTest::newRow("Romanian letters, small for capital")
        << QString::fromUtf8("ștefan") << QStringList{QString::fromUtf8("Ștefan Țurcanu")} << QStringList();
    QTest::newRow("Romanian letters, capital for small")
        << QString::fromUtf8("ȚURCANU") << QStringList{QString::fromUtf8("Ștefan Țurcanu")} << QStringList();
    // Typed without the marks of the Romanian letters, or with the other form of ş and ţ.
    QTest::newRow("plain letters for comma-below")
        << "stefan turcanu" << QStringList{QString::fromUtf8("Ștefan Țurcanu")} << QStringList();
    QTest::newRow("cedilla for comma-below")
        << QString::fromUtf8("ŞTEFAN ŢURCANU") << QStringList{QString::fromUtf8("Ștefan Țurcanu")} << QStringList();
    QTest::newRow("plain letters for cedilla, breve, circumflex")
        << "INGERAS CAMPEANU" << QStringList{QString::fromUtf8("Îngeraş Câmpeanu - Mărţişor")} << QStringList();
    QTest::newRow("comma-below for cedilla")
        << QString::fromUtf8("mărțișor") << QStringList{QString::fromUtf8("Îngeraş Câmpeanu - Mărţişor")}
        << QStringList();
    QTest::newRow("everything with empty") << ""
                                           << QStringList{"Popescu Ion - Rex",
                                                          "Reducere 50% - Tom",
                                                          "lot_3",
                                                          "lotX3",
                                                          "O'Brien - Max",
                                                          "a\\b",
                                                          QString::fromUtf8("Ștefan Țurcanu"),
                                                          QString::fromUtf8("Îngeraş Câmpeanu - Mărţişor")}
                                           << QStringList();
    QTest::newRow("nothing") << "zzz" << QStringList{} << QStringList();
    const QString rename =
        QString::fromUtf8("UPDATE RESULTS SET PacientName = 'Mureșan Ana - Țupi' WHERE PacientName = 'lotX3'");
    QTest::newRow("renamed by another program")
        << "muresan ana" << QStringList{QString::fromUtf8("Mureșan Ana - Țupi")} << QStringList{rename};
    QTest::newRow("added by another program")
        << "BALAN" << QStringList{QString::fromUtf8("Bălan Irina - Miți")}
        << QStringList{QString::fromUtf8("INSERT INTO RESULTS (ID, RequestID, PacientName, TransDate) "
                                         "VALUES (100, '2', 'Bălan Irina - Miți', '2026-01-01 00:00:00')")};
    QTest::newRow("removed by another program")
        << "popescu" << QStringList{} << QStringList{"DELETE FROM RESULTS WHERE PacientName = 'Popescu Ion - Rex'"};
    // SQLite's REPLACE removes the older row of that ID without firing a delete trigger.
    const QString replace = "REPLACE INTO RESULTS (ID, RequestID, PacientName, TransDate) "
                            "VALUES (1, '1', 'Barbu Dan - Zeus', '2026-01-01 00:00:00')";
    QTest::newRow("replaced by another program")
        << "barbu dan" << QStringList{"Barbu Dan - Zeus"} << QStringList{replace};
    QTest::newRow("double quote") << "\"cel m" << QStringList{"Rex \"cel mare\""}
                                  << QStringList{"INSERT INTO RESULTS (ID, RequestID, PacientName, TransDate) "
                                                 "VALUES (101, '3', 'Rex \"cel mare\"', '2026-01-01 00:00:00')"};
}

void TestSqlDialect::containsCondition() {
    QFETCH(QString, typed);
    QFETCH(QStringList, found);
    QFETCH(QStringList, otherProgram);
    DbLab db(backend());
    if (db.isPg() && !otherProgram.isEmpty() && otherProgram.first().startsWith("REPLACE"))
        QSKIP("REPLACE is SQLite's own");
    QVERIFY(db.createEmpty());
    for (const char* name : {"Popescu Ion - Rex", "Reducere 50% - Tom", "lot_3", "lotX3", "O'Brien - Max", "a\\b",
                             "Ștefan Țurcanu", "Îngeraş Câmpeanu - Mărţişor"})
        QVERIFY(db.addResult("1", QString::fromUtf8(name), "2026-01-01 00:00:00") > 0);
    QVERIFY(db.addResult("1", QVariant(), "2026-01-01 00:00:00") > 0);
    for (const QString& sql : otherProgram)
        QVERIFY(db.exec(sql));
    // The search's condition on the database as the tool makes it, then on the same database
    // without the search's indexes, as one made before them: the same names either way.
    for (const bool indexed : {true, false}) {
        if (!indexed) {
            const QStringList drop =
                db.isPg()
                    ? QStringList{"DROP INDEX IF EXISTS IX_RESULTS_PacientName_trgm"}
                    : QStringList{"DROP TRIGGER RESULTS_NAME_SEARCH_insert", "DROP TRIGGER RESULTS_NAME_SEARCH_update",
                                  "DROP TRIGGER RESULTS_NAME_SEARCH_delete", "DROP TABLE RESULTS_NAME_SEARCH"};
            for (const QString& sql : drop)
                QVERIFY(db.exec(sql));
        }
        DatabaseConnection ado;
        QVERIFY(ado.open(db.connectionString()));
        SqlDialect dialect = ado.dialect();
        const bool shadow = SearchIndexes::of(&ado).nameShadow;
        QCOMPARE(shadow, indexed && !db.isPg());
        dialect.setNameShadow(shadow);
        QVariantList values;
        const QString sql = QStringLiteral("SELECT PacientName FROM RESULTS WHERE %1 ORDER BY ID")
                                .arg(dialect.patientNameCondition(typed, QString(), QString(), &values));
        Recordset rs;
        QVERIFY2(rs.open(sql, &ado, values), qPrintable(rs.m_comError));
        QStringList names;
        for (; !rs.isEOF(); rs.moveNext()) {
            QVariant v;
            QVERIFY(rs.getFieldValue("PacientName", &v));
            names << v.toString();
        }
        rs.close();
        QCOMPARE(names, found);
    }
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
    DatabaseConnection ado;
    QVERIFY(ado.open(db.connectionString()));
    const SqlDialect& d = ado.dialect();
    Recordset rs;
    const QString sql = QStringLiteral("SELECT PacientName FROM RESULTS WHERE TransDate >= %1 AND TransDate <= %1 "
                                       "ORDER BY TransDate")
                            .arg(d.dateParameter());
    QVERIFY(rs.open(sql, &ado, {SqlDialect::dayStart("2026/3/6"), SqlDialect::dayEnd("2026/3/6")}));
    QStringList names;
    for (; !rs.isEOF(); rs.moveNext()) {
        QVariant v;
        QVERIFY(rs.getFieldValue("PacientName", &v));
        names << v.toString();
    }
    rs.close();
    QCOMPARE(names, QStringList({"2026-03-06 00:00:00", "2026-03-06 23:59:00"}));
}

QTEST_GUILESS_MAIN(TestSqlDialect)
#include "tst_sqldialect.moc"
