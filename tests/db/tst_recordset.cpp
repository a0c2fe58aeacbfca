#include "CAdoDatabase.h"
#include "CAdoRecordset.h"
#include "DbLab.h"
#include "PostgresStatement.h"
#include "SqliteStatement.h"

#include <QtTest>

namespace {

const char kLog[] = "_database_err.log";

int countEntries(const QByteArray& log, const QByteArray& context) {
    return log.count(QByteArray("]->") + context + '\n');
}

} // namespace

Q_DECLARE_METATYPE(CAdoRecordset::Reading)

class TestRecordset : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { DbLab::addBackends(); }

    void openWithoutDatabase();
    void openOnDatabaseWithoutConnection();
    void emptyResult();
    void readsRowsInOrderWithNulls_data();
    void readsRowsInOrderWithNulls();
    void readFailureIsNotTheEnd_data();
    void readFailureIsNotTheEnd();
    void readsLongResults_data();
    void readsLongResults();
    void columnNamesIgnoreCase_data();
    void columnNamesIgnoreCase();
    void misspeltColumnKeepsRow();
    void moveNextPastTheEnd();
    void openTwiceWithoutClose_data();
    void openTwiceWithoutClose();
    void refusedQuery_data();
    void refusedQuery();
    void boundValuesInQueries_data();
    void boundValuesInQueries();
    void viewDeliversOneRowPerValue();
    void viewPicksIntervalBySex();

private:
    DbLab::Backend backend() {
        QFETCH_GLOBAL(int, backend);
        return DbLab::Backend(backend);
    }
};

void TestRecordset::openWithoutDatabase() {
    DbLab db(backend());
    QVERIFY(db.createDemo(5));
    CAdoRecordset rs;
    QCOMPARE(rs.szComError, QString());
    QVERIFY(!rs.Open("SELECT * FROM RESULTS", nullptr));
    QCOMPARE(rs.szProviderError, QStringLiteral("Error: adoDbf not initializated"));
    QVERIFY(rs.IsEOF());
    QVERIFY(!QFile::exists(kLog));

    CAdoDatabase ado;
    ado.SetLogFile(kLog);
    QVERIFY(ado.Open(db.connectionString()));
    QVERIFY(rs.Open("SELECT * FROM RESULTS", &ado));
    QVERIFY(!rs.IsEOF());
    rs.Close();
    // The database given once stays bound.
    QVERIFY(rs.Open("SELECT * FROM RESULTS", nullptr));
    rs.Close();
    QVERIFY(!QFile::exists(kLog));
}

void TestRecordset::openOnDatabaseWithoutConnection() {
    DbLab db(backend());
    CAdoDatabase ado;
    ado.SetLogFile(kLog);
    CAdoRecordset rs;
    QVERIFY(!rs.Open("SELECT 1", &ado));
    QCOMPARE(rs.szProviderError, QStringLiteral("Error:pConnection is NULL"));
    QVERIFY(rs.szComError.startsWith("Error\n\tCode = "));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::Open"), 1);

    // A connection that failed to open: a clear failure, no crash, one more entry.
    QVERIFY(!ado.Open("Provider=SQLite;Data Source=missing.db"));
    QVERIFY(!rs.Open("SELECT 1", &ado));
    QVERIFY(rs.szComError.contains("not open"));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::Open"), 2);
}

void TestRecordset::emptyResult() {
    DbLab db(backend());
    QVERIFY(db.createDemo(5));
    CAdoDatabase ado;
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    QVERIFY(rs.Open("SELECT ID FROM RESULTS WHERE 1 = 0", &ado));
    QVERIFY(rs.IsEOF());
    QVariant v;
    QVERIFY(!rs.GetFieldValue("ID", &v));
    rs.Close();
    QVERIFY(rs.IsEOF());
}

// Both ways of reading: values, and texts (on SQLite straight from the library).
static void addReadings() {
    QTest::addColumn<CAdoRecordset::Reading>("reading");
    QTest::newRow("values") << CAdoRecordset::Reading::Values;
    QTest::newRow("texts") << CAdoRecordset::Reading::Texts;
}

void TestRecordset::readsRowsInOrderWithNulls_data() {
    addReadings();
}

void TestRecordset::readsRowsInOrderWithNulls() {
    QFETCH(CAdoRecordset::Reading, reading);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.addResult("12", "Tănase Ioana - Rex", "2026-03-06 09:05:03", 0, "M", "Proba hemolizata", 1) > 0);
    QVERIFY(db.addResult("13", QVariant(), "2026-03-07 10:00:00") > 0);
    CAdoDatabase ado;
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    // Debian's Qt runs on the system's SQLite and libpq, so the rows come straight from the library.
    QVERIFY(db.backend() == DbLab::Backend::SQLite ? SqliteStatement::HandleOf(ado.connection()) != nullptr
                                                   : PostgresStatement::HandleOf(ado.connection()) != nullptr);
    QVERIFY(rs.Open("SELECT ID, RequestID, PacientName, Age, SEX, comment, profileID FROM RESULTS ORDER BY ID", &ado,
                    {}, reading));
    QVariant v;
    QVERIFY(rs.GetFieldValue("RequestID", &v));
    QCOMPARE(v.toString(), QStringLiteral("12"));
    QVERIFY(rs.GetFieldValue("Age", &v));
    QVERIFY(!v.isNull());
    QCOMPARE(v.toInt(), 0); // an age of 0 is a value, not a NULL
    QVERIFY(rs.GetFieldValue("comment", &v));
    QCOMPARE(v.toString(), QStringLiteral("Proba hemolizata"));
    // As texts, whichever way the rows come: letters beyond ASCII and numbers written out.
    QAnyStringView text;
    bool isNull = true;
    QVERIFY(rs.GetFieldTextAt(rs.FieldIndex("PacientName"), &text, &isNull));
    QCOMPARE(text.toString(), QStringLiteral("Tănase Ioana - Rex"));
    QVERIFY(!isNull);
    QVERIFY(rs.GetFieldTextAt(rs.FieldIndex("profileID"), &text, &isNull));
    QCOMPARE(text.toString(), QStringLiteral("1"));
    qint64 number = -1;
    QVERIFY(rs.GetFieldIntegerAt(rs.FieldIndex("Age"), &number));
    QCOMPARE(number, 0);
    QVERIFY(!rs.GetFieldIntegerAt(rs.FieldIndex("SEX"), &number));
    QVERIFY(rs.MoveNext());
    for (const char* column : {"PacientName", "Age", "SEX", "comment", "profileID"}) {
        QVERIFY(rs.GetFieldValue(column, &v));
        QVERIFY2(v.isNull(), column);
        QVERIFY(rs.GetFieldTextAt(rs.FieldIndex(column), &text, &isNull));
        QVERIFY2(isNull && text.isEmpty(), column);
        QVERIFY2(!rs.GetFieldIntegerAt(rs.FieldIndex(column), &number), column);
    }
    QVERIFY(!rs.MoveNext());
    QVERIFY(!rs.ReadFailed());
    QVERIFY(rs.IsEOF());
    rs.Close();
}

void TestRecordset::readFailureIsNotTheEnd_data() {
    addReadings();
}

// A row that cannot be read ends the rows as a failure, logged, never as their end.
void TestRecordset::readFailureIsNotTheEnd() {
    QFETCH(CAdoRecordset::Reading, reading);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    for (const char* id : {"1", "2", "3"})
        QVERIFY(db.addResult(id, "Rex", "2026-03-06 09:05:03") > 0);
    CAdoDatabase ado;
    ado.SetLogFile(kLog);
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    // The second row's value is out of range: SQLite finds it on that row, a server while
    // running the statement.
    const bool opened =
        rs.Open("SELECT CASE WHEN RequestID = '2' THEN abs(-9223372036854775807 - 1) ELSE 0 END AS n FROM RESULTS "
                "ORDER BY RequestID",
                &ado, {}, reading);
    if (opened) {
        QVERIFY(!rs.IsEOF());
        QVERIFY(!rs.MoveNext());
        QVERIFY(rs.ReadFailed());
        QVERIFY(rs.IsEOF());
        QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::MoveNext"), 1);
        rs.Close();
    } else {
        QVERIFY(db.backend() != DbLab::Backend::SQLite);
    }
    QVERIFY2(rs.ErrorText().contains("overflow") || rs.ErrorText().contains("out of range"),
             qPrintable(rs.ErrorText()));
}

void TestRecordset::readsLongResults_data() {
    QTest::addColumn<QString>("ending");
    QTest::newRow("read whole") << "whole";
    QTest::newRow("failing late") << "failing";
    QTest::newRow("closed early") << "closed";
}

// Many rows as texts, which SQLite reads ahead of the caller: every row once, in order, with its
// values; a failure late in the rows still comes after the rows before it; closing early leaves
// the connection free.
void TestRecordset::readsLongResults() {
    QFETCH(QString, ending);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    CAdoDatabase ado;
    ado.SetLogFile(kLog);
    QVERIFY(ado.Open(db.connectionString()));
    const int rows = 20000;
    const int failingRow = ending == "failing" ? 15000 : 0;
    // A failure of that one row: SQLite's integer overflow, a server's division by zero.
    const QString failure = db.backend() == DbLab::Backend::SQLite ? "abs(-9223372036854775807 - 1)" : "1 / (i - i)";
    CAdoRecordset rs;
    QVERIFY(rs.Open(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                   "SELECT i, 'rând ' || i AS t, NULL AS z, CASE WHEN i = %2 THEN %3 ELSE i * 2 END "
                                   "AS d FROM n")
                        .arg(rows)
                        .arg(failingRow)
                        .arg(failure),
                    &ado, {}, CAdoRecordset::Reading::Texts));
    int read = 0;
    while (!rs.IsEOF()) {
        ++read;
        qint64 number = 0;
        QVERIFY(rs.GetFieldIntegerAt(0, &number));
        QCOMPARE(number, qint64(read));
        QAnyStringView text;
        bool isNull = false;
        QVERIFY(rs.GetFieldTextAt(1, &text, &isNull));
        QCOMPARE(text.toString(), QStringLiteral("rând %1").arg(read));
        QVERIFY(rs.GetFieldTextAt(2, &text, &isNull) && isNull);
        QVERIFY(rs.GetFieldIntegerAt(3, &number));
        QCOMPARE(number, qint64(read) * 2);
        if (ending == "closed" && read == 3000)
            break;
        rs.MoveNext();
    }
    if (ending == "whole") {
        QCOMPARE(read, rows);
        QVERIFY(!rs.ReadFailed());
    } else if (ending == "failing") {
        QCOMPARE(read, failingRow - 1);
        QVERIFY(rs.ReadFailed());
        QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::MoveNext"), 1);
    }
    rs.Close();
    QVERIFY2(ado.Execute("INSERT INTO VET_PROFILES (id, profileName) VALUES (?, ?)", {1, "after"}),
             qPrintable(ado.szComError));
}

void TestRecordset::columnNamesIgnoreCase_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("as declared") << "RequestID";
    QTest::newRow("lower") << "requestid";
    QTest::newRow("upper") << "REQUESTID";
    QTest::newRow("qualified") << "results.RequestID";
}

void TestRecordset::columnNamesIgnoreCase() {
    QFETCH(QString, name);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.addResult("77", "x", "2026-01-01 00:00:00") > 0);
    CAdoDatabase ado;
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    QVERIFY(rs.Open("SELECT * FROM RESULTS", &ado));
    QVariant v;
    QVERIFY(rs.GetFieldValue(name, &v));
    QCOMPARE(v.toString(), QStringLiteral("77"));
}

void TestRecordset::misspeltColumnKeepsRow() {
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.addResult("1", "a", "2026-01-01 00:00:00") > 0);
    QVERIFY(db.addResult("2", "b", "2026-01-02 00:00:00") > 0);
    CAdoDatabase ado;
    ado.SetLogFile(kLog);
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    QVERIFY(rs.Open("SELECT RequestID, PacientName FROM RESULTS ORDER BY ID", &ado));
    QVariant v = "untouched";
    QVERIFY(!rs.GetFieldValue("PacientNmae", &v));
    QVERIFY(rs.szComError.contains("PacientNmae"));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::GetFieldValue"), 1);
    QVERIFY(rs.GetFieldValue("PacientName", &v));
    QCOMPARE(v.toString(), QStringLiteral("a"));
    QVERIFY(rs.MoveNext());
    QVERIFY(rs.GetFieldValue("RequestID", &v));
    QCOMPARE(v.toString(), QStringLiteral("2"));
    rs.Close();
}

void TestRecordset::moveNextPastTheEnd() {
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.addResult("1", "a", "2026-01-01 00:00:00") > 0);
    CAdoDatabase ado;
    ado.SetLogFile(kLog);
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    QVERIFY(rs.Open("SELECT ID FROM RESULTS", &ado));
    QVERIFY(!rs.IsEOF());
    QVERIFY(!rs.MoveNext()); // the last row passed: false, no failure
    QVERIFY(rs.IsEOF());
    QVERIFY(!QFile::exists(kLog));
    QVERIFY(!rs.MoveNext()); // nothing left to move from: a logged failure
    QVERIFY(rs.IsEOF());
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::MoveNext"), 1);
    rs.Close();
}

void TestRecordset::openTwiceWithoutClose_data() {
    addReadings();
}

void TestRecordset::openTwiceWithoutClose() {
    QFETCH(CAdoRecordset::Reading, reading);
    DbLab db(backend());
    QVERIFY(db.createDemo(3));
    CAdoDatabase ado;
    ado.SetLogFile(kLog);
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    QVERIFY(rs.Open("SELECT ID FROM RESULTS ORDER BY ID", &ado, {}, reading));
    QVERIFY(!rs.Open("SELECT ID FROM RESULTS", &ado, {}, reading));
    QVERIFY(!rs.szProviderError.isEmpty());
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::Open"), 1);
    // The first query is still usable.
    QVariant v;
    QVERIFY(rs.GetFieldValue("ID", &v));
    QCOMPARE(v.toInt(), 1);
    // Closed with rows unread, it leaves the connection free for the next statements.
    rs.Close();
    QVERIFY(rs.Open("SELECT ID FROM RESULTS ORDER BY ID DESC", &ado, {}, reading));
    QVERIFY(rs.GetFieldValue("ID", &v));
    QCOMPARE(v.toInt(), db.scalar("SELECT MAX(ID) FROM RESULTS").toInt());
    rs.Close();
    QVERIFY2(ado.Execute("UPDATE RESULTS SET comment = ? WHERE ID = ?", {"read", 1}), qPrintable(ado.szComError));
}

void TestRecordset::refusedQuery_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<CAdoRecordset::Reading>("reading");
    QTest::newRow("syntax") << "SELEC ID FROM RESULTS" << CAdoRecordset::Reading::Values;
    QTest::newRow("missing table") << "SELECT * FROM NO_SUCH_TABLE" << CAdoRecordset::Reading::Values;
    QTest::newRow("missing column") << "SELECT nope FROM RESULTS" << CAdoRecordset::Reading::Values;
    QTest::newRow("syntax, read as texts") << "SELEC ID FROM RESULTS" << CAdoRecordset::Reading::Texts;
    QTest::newRow("missing column, read as texts") << "SELECT nope FROM RESULTS" << CAdoRecordset::Reading::Texts;
    QTest::newRow("too few values, read as texts")
        << "SELECT ID FROM RESULTS WHERE ID = ? OR ID = ?" << CAdoRecordset::Reading::Texts;
}

void TestRecordset::refusedQuery() {
    QFETCH(QString, sql);
    QFETCH(CAdoRecordset::Reading, reading);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    CAdoDatabase ado;
    ado.SetLogFile(kLog);
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    QVERIFY(!rs.Open(sql, &ado, {1}, reading));
    QVERIFY(rs.IsEOF());
    QVERIFY(rs.szComError.startsWith("Error\n\tCode = "));
    QVERIFY(rs.szComError.contains("\tSource = " + db.driver() + "\n"));
    QVERIFY(rs.szProviderError.startsWith("\t Error number: "));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::Open"), 1);
    // A failed query leaves nothing open.
    QVERIFY(rs.Open("SELECT ID FROM RESULTS", &ado));
    rs.Close();
}

void TestRecordset::boundValuesInQueries_data() {
    addReadings();
}

void TestRecordset::boundValuesInQueries() {
    QFETCH(CAdoRecordset::Reading, reading);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.addResult("1", "O'Brien - Rex", "2026-01-01 00:00:00") > 0);
    const int second = db.addResult("2", "Other", "2026-01-01 00:00:00");
    QVERIFY(second > 0);
    CAdoDatabase ado;
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    QVERIFY(rs.Open("SELECT RequestID FROM RESULTS WHERE PacientName = ?", &ado, {"O'Brien - Rex"}, reading));
    QVariant v;
    QVERIFY(rs.GetFieldValue("RequestID", &v));
    QCOMPARE(v.toString(), QStringLiteral("1"));
    QVERIFY(!rs.MoveNext());
    rs.Close();
    QVERIFY(rs.Open("SELECT RequestID FROM RESULTS WHERE PacientName = ?", &ado, {"x' OR '1'='1"}, reading));
    QVERIFY(rs.IsEOF());
    rs.Close();
    // A question mark inside quotes is text, not a place for a value.
    QVERIFY(rs.Open("SELECT RequestID FROM RESULTS WHERE PacientName <> '?' AND ID = ?", &ado, {qlonglong(second)},
                    reading));
    QVERIFY(rs.GetFieldValue("RequestID", &v));
    QCOMPARE(v.toString(), QStringLiteral("2"));
    rs.Close();
    // Numbers, yes/no and NULL are bound as themselves.
    QVERIFY(rs.Open("SELECT RequestID FROM RESULTS WHERE ID = ? AND ? AND CAST(? AS VARCHAR(10)) IS NULL", &ado,
                    {qlonglong(second), true, QVariant()}, reading));
    QVERIFY(rs.GetFieldValue("RequestID", &v));
    QCOMPARE(v.toString(), QStringLiteral("2"));
    rs.Close();
}

void TestRecordset::viewDeliversOneRowPerValue() {
    DbLab db(backend());
    QVERIFY(db.createDemo(60));
    CAdoDatabase ado;
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    QVERIFY(rs.Open("SELECT * FROM vResults2_vet WHERE 1 = 0", &ado));
    rs.Close();
    QSqlQuery q(db.admin());
    QVERIFY(q.exec("SELECT * FROM vResults2_vet WHERE 1 = 0"));
    QStringList names;
    for (int i = 0; i < q.record().count(); ++i)
        names << q.record().fieldName(i).toLower();
    QCOMPARE(names, QStringList({"results_id", "requestid", "pacientname", "transdate", "procdate", "age", "sex",
                                 "comment", "profileid", "vsh", "machineid", "refcode", "stringvalue", "analysename",
                                 "refname", "um", "order", "minvalue", "maxvalue"}));
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM vResults2_vet").toInt(),
             db.scalar("SELECT COUNT(*) FROM RESULT_VALUES").toInt());
}

void TestRecordset::viewPicksIntervalBySex() {
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.exec("INSERT INTO VET_PROFILES (id, profileName) VALUES (1, 'Caine')"));
    QVERIFY(db.exec("INSERT INTO ANALYSERS (MachineID, AnalyseName) VALUES (2, 'Biochimie')"));
    QVERIFY(db.exec("INSERT INTO PARAMETERS (MachineID, refcode, refName, um, \"order\") VALUES (2, 'GLU', 'Glucoza', "
                    "'mg/dl', 1)"));
    // Both an any-sex and a male interval for one code: the male one wins for a male, no doubling.
    QVERIFY(db.exec("INSERT INTO VET_PROFILE_NORMAL_VALUES (profileID, refcode, sex, minValue, maxValue) VALUES "
                    "(1, 'GLU', NULL, '60', '100')"));
    QVERIFY(db.exec("INSERT INTO VET_PROFILE_NORMAL_VALUES (profileID, refcode, sex, minValue, maxValue) VALUES "
                    "(1, 'GLU', 'M', '70', '110')"));
    const int male = db.addResult("1", "a", "2026-01-01 08:00:00", 3, "M", {}, 1);
    const int unknown = db.addResult("2", "b", "2026-01-01 08:00:00", 3, {}, {}, 1);
    const int noProfile = db.addResult("3", "c", "2026-01-01 08:00:00", 3, "F", {}, {});
    for (int id : {male, unknown, noProfile})
        QVERIFY(db.exec("INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES (?, 2, 'GLU', "
                        "'90')",
                        {id}));

    CAdoDatabase ado;
    QVERIFY(ado.Open(db.connectionString()));
    CAdoRecordset rs;
    QVERIFY(rs.Open("SELECT results_id, minValue, maxValue, refName, um FROM vResults2_vet ORDER BY results_id", &ado));
    QStringList seen;
    while (!rs.IsEOF()) {
        QVariant id, lo, hi, name;
        QVERIFY(rs.GetFieldValue("results_id", &id));
        QVERIFY(rs.GetFieldValue("minValue", &lo));
        QVERIFY(rs.GetFieldValue("maxValue", &hi));
        QVERIFY(rs.GetFieldValue("refName", &name));
        QCOMPARE(name.toString(), QStringLiteral("Glucoza"));
        seen << QStringLiteral("%1:%2-%3")
                    .arg(id.toInt())
                    .arg(lo.isNull() ? "null" : lo.toString(), hi.isNull() ? "null" : hi.toString());
        rs.MoveNext();
    }
    rs.Close();
    QCOMPARE(seen, QStringList({QString("%1:70-110").arg(male), QString("%1:60-100").arg(unknown),
                                QString("%1:null-null").arg(noProfile)}));
}

QTEST_GUILESS_MAIN(TestRecordset)
#include "tst_recordset.moc"
