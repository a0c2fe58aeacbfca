#include "DatabaseConnection.h"
#include "DbLab.h"
#include "DeltaLimits.h"
#include "PatientHistory.h"

#include <QtTest>

class TestPatientHistory : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { DbLab::addBackends(); }
    void samePatient_data();
    void samePatient();
    void newestSetsAndPreviousValues();
    void deltaBeyondLimit_data();
    void deltaBeyondLimit();
};

void TestPatientHistory::samePatient_data() {
    QTest::addColumn<QString>("ownSex");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("sex");
    QTest::addColumn<QVariant>("profile");
    QTest::addColumn<QString>("date");
    QTest::addColumn<bool>("same");
    const QString day = QStringLiteral("2026-03-01 09:00:00");
    QTest::newRow("case, marks and blanks") << "M"
                                            << "  STEFANESCU   ana -  bobita "
                                            << "M" << QVariant(2) << day << true;
    QTest::newRow("capital marks, cedilla forms")
        << "M" << QString::fromUtf8("ŞTEFĂNESCU ANA - BOBIŢĂ") << "m" << QVariant(2) << day << true;
    QTest::newRow("other set without sex")
        << "M" << QString::fromUtf8("Ștefănescu Ana - Bobiță") << "" << QVariant(2) << day << true;
    QTest::newRow("own set without sex") << "" << QString::fromUtf8("Ștefănescu Ana - Bobiță") << "F" << QVariant(2)
                                         << day << true;
    QTest::newRow("another sex") << "M" << QString::fromUtf8("Ștefănescu Ana - Bobiță") << "F" << QVariant(2) << day
                                 << false;
    QTest::newRow("another profile") << "M" << QString::fromUtf8("Ștefănescu Ana - Bobiță") << "M" << QVariant(3) << day
                                     << false;
    QTest::newRow("no profile") << "M" << QString::fromUtf8("Ștefănescu Ana - Bobiță") << "M" << QVariant() << day
                                << false;
    QTest::newRow("blanks taken out") << "M"
                                      << "StefanescuAna - Bobita"
                                      << "M" << QVariant(2) << day << false;
    QTest::newRow("another name") << "M"
                                  << "Stefanescu Ana - Bobi"
                                  << "M" << QVariant(2) << day << false;
    QTest::newRow("later set") << "M" << QString::fromUtf8("Ștefănescu Ana - Bobiță") << "M" << QVariant(2)
                               << "2026-05-01 09:00:00" << false;
}

// Beside the set asked about, one other set, which is the same patient's or not.
void TestPatientHistory::samePatient() {
    QFETCH(QString, ownSex);
    QFETCH(QString, name);
    QFETCH(QString, sex);
    QFETCH(QVariant, profile);
    QFETCH(QString, date);
    QFETCH(bool, same);
    DbLab db(DbLab::current());
    QVERIFY(db.createEmpty());
    const int other = db.addResult("7", name, date, {}, sex.isEmpty() ? QVariant() : QVariant(sex), {}, profile);
    const int own = db.addResult("8", QString::fromUtf8("Ștefănescu Ana - Bobiță"), "2026-04-01 08:30:00", {},
                                 ownSex.isEmpty() ? QVariant() : QVariant(ownSex), {}, 2);
    QVERIFY(db.exec("INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES (?, 1, 'HGB', "
                    "'12.5')",
                    {other}));
    DatabaseConnection connection;
    QVERIFY(connection.open(db.connectionString()));
    PatientHistory history(&connection);
    const std::vector<HistorySet> sets = history.setsOf(own);
    QVERIFY2(history.errorText().isEmpty(), qPrintable(history.errorText()));
    QCOMPARE(sets.size(), same ? 2u : 1u);
    QCOMPARE(sets.front().resultId, qint64(own));
    if (same) {
        QCOMPARE(sets.back().resultId, qint64(other));
        QCOMPARE(sets.back().values.size(), 1u);
        QCOMPARE(sets.back().values.front().value, QStringLiteral("12.5"));
    }
}

// Eleven earlier sets: the ten newest are kept, newest first; a request's previous values come
// from the newest earlier set holding each parameter, never from the request's own sets.
void TestPatientHistory::newestSetsAndPreviousValues() {
    DbLab db(DbLab::current());
    QVERIFY(db.createEmpty());
    const QString name = QStringLiteral("Popa Dan - Rex");
    QList<int> ids;
    for (int day = 1; day <= 11; ++day)
        ids << db.addResult(QString::number(day), name,
                            QStringLiteral("2026-01-%1 10:00:00").arg(day, 2, 10, QChar('0')), {}, "M", {}, 1);
    // The request: two sets of one day, each of a different analyser.
    const int first = db.addResult("50", name, "2026-02-01 10:00:00", {}, "M", {}, 1);
    const int second = db.addResult("50", name, "2026-02-01 10:00:00", {}, "M", {}, 1);
    const QString insert =
        QStringLiteral("INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES (?, ?, ?, ?)");
    QVERIFY(db.exec(insert, {ids.at(2), 1, "HGB", "11"}));
    QVERIFY(db.exec(insert, {ids.at(9), 1, "HGB", "13"}));
    QVERIFY(db.exec(insert, {ids.at(4), 2, "GLU", "90"}));
    QVERIFY(db.exec(insert, {first, 1, "HGB", "14"}));
    QVERIFY(db.exec(insert, {second, 2, "GLU", "95"}));
    QVERIFY(db.exec(insert, {second, 2, "ALT", "30"}));

    DatabaseConnection connection;
    QVERIFY(connection.open(db.connectionString()));
    PatientHistory history(&connection);
    const std::vector<HistorySet> sets = history.setsOf(ids.last());
    QCOMPARE(sets.size(), 10u);
    QCOMPARE(sets.front().resultId, qint64(ids.last()));
    QCOMPARE(sets.back().resultId, qint64(ids.at(1)));
    QCOMPARE(sets.front().transferDate, QDateTime(QDate(2026, 1, 11), QTime(10, 0)));

    std::map<std::pair<int, QString>, PreviousValue> previous;
    QVERIFY(history.previousValues({first, second}, &previous));
    QCOMPARE(previous.size(), 2u);
    const PreviousValue& hgb = previous.at({1, QStringLiteral("HGB")});
    QCOMPARE(hgb.value, QStringLiteral("13"));
    QCOMPARE(hgb.resultId, qint64(ids.at(9)));
    QCOMPARE(hgb.transferDate, QDateTime(QDate(2026, 1, 10), QTime(10, 0)));
    QCOMPARE(previous.at({2, QStringLiteral("GLU")}).value, QStringLiteral("90"));

    // A failed question is not an empty history.
    QVERIFY(db.exec("DROP VIEW vResults2_vet"));
    QVERIFY(history.setsOf(ids.last()).empty());
    QVERIFY(!history.errorText().isEmpty());
}

void TestPatientHistory::deltaBeyondLimit_data() {
    QTest::addColumn<QVariant>("maxChange");
    QTest::addColumn<QVariant>("maxPercent");
    QTest::addColumn<QString>("previous");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("limitNamed"); // empty: not beyond its limit
    QTest::newRow("absolute, a fall") << QVariant(1.0) << QVariant() << "10"
                                      << "8.5"
                                      << "limita 1";
    QTest::newRow("absolute, decimal commas") << QVariant(1.0) << QVariant() << "4,4"
                                              << "6,0"
                                              << "limita 1";
    QTest::newRow("on the limit after rounding") << QVariant(0.1) << QVariant() << "1.0"
                                                 << "1.1"
                                                 << "";
    QTest::newRow("percent of the earlier value") << QVariant() << QVariant(20.0) << "100"
                                                  << "121"
                                                  << "limita 20%";
    QTest::newRow("percent, within") << QVariant() << QVariant(20.0) << "100"
                                     << "81"
                                     << "";
    QTest::newRow("earlier 0, percent only") << QVariant() << QVariant(20.0) << "0"
                                             << "5"
                                             << "";
    QTest::newRow("earlier 0, absolute too") << QVariant(2.0) << QVariant(20.0) << "0"
                                             << "5"
                                             << "limita 2";
    QTest::newRow("earlier not a number") << QVariant(1.0) << QVariant() << "<5"
                                          << "9"
                                          << "";
    QTest::newRow("value with a remark") << QVariant(1.0) << QVariant() << "5"
                                         << "9 (hemoliza)"
                                         << "";
}

void TestPatientHistory::deltaBeyondLimit() {
    QFETCH(QVariant, maxChange);
    QFETCH(QVariant, maxPercent);
    QFETCH(QString, previous);
    QFETCH(QString, value);
    QFETCH(QString, limitNamed);
    DeltaLimit limit;
    if (maxChange.isValid())
        limit.maxChange = maxChange.toDouble();
    if (maxPercent.isValid())
        limit.maxChangePercent = maxPercent.toDouble();
    const QString text = DeltaLimits::exceededText(limit, previous, QStringLiteral("1/2/2026 9:00"), value);
    if (limitNamed.isEmpty()) {
        QVERIFY2(text.isEmpty(), qPrintable(text));
        return;
    }
    QVERIFY2(text.contains(limitNamed) &&
                 text.contains(QStringLiteral("anterioara %1 din 1/2/2026 9:00").arg(previous)),
             qPrintable(text));
}

QTEST_GUILESS_MAIN(TestPatientHistory)
#include "tst_patienthistory.moc"
