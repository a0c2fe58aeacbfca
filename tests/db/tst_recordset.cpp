#include "DatabaseConnection.h"
#include "DbLab.h"
#include "PostgresStatement.h"
#include "Recordset.h"
#include "SqliteStatement.h"

#include <QtTest>

namespace {

const char kLog[] = "_database_err.log";

int countEntries(const QByteArray& log, const QByteArray& context) {
    return log.count(QByteArray("]->") + context + '\n');
}

} // namespace

Q_DECLARE_METATYPE(Recordset::Reading)

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
    Recordset rs;
    QCOMPARE(rs.m_comError, QString());
    QVERIFY(!rs.open("SELECT * FROM RESULTS", nullptr));
    QCOMPARE(rs.m_providerError, QStringLiteral("Error: adoDbf not initializated"));
    QVERIFY(rs.isEOF());
    QVERIFY(!QFile::exists(kLog));

    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    QVERIFY(rs.open("SELECT * FROM RESULTS", &ado));
    QVERIFY(!rs.isEOF());
    rs.close();
    // The database given once stays bound.
    QVERIFY(rs.open("SELECT * FROM RESULTS", nullptr));
    rs.close();
    QVERIFY(!QFile::exists(kLog));
}

void TestRecordset::openOnDatabaseWithoutConnection() {
    DbLab db(backend());
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    Recordset rs;
    QVERIFY(!rs.open("SELECT 1", &ado));
    QCOMPARE(rs.m_providerError, QStringLiteral("Error:pConnection is NULL"));
    QVERIFY(rs.m_comError.startsWith("Error\n\tCode = "));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::Open"), 1);

    // A connection that failed to open: a clear failure, no crash, one more entry.
    QVERIFY(!ado.open("Provider=SQLite;Data Source=missing.db"));
    QVERIFY(!rs.open("SELECT 1", &ado));
    QVERIFY(rs.m_comError.contains("not open"));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::Open"), 2);
}

void TestRecordset::emptyResult() {
    DbLab db(backend());
    QVERIFY(db.createDemo(5));
    DatabaseConnection ado;
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    QVERIFY(rs.open("SELECT ID FROM RESULTS WHERE 1 = 0", &ado));
    QVERIFY(rs.isEOF());
    QVariant v;
    QVERIFY(!rs.getFieldValue("ID", &v));
    rs.close();
    QVERIFY(rs.isEOF());
}

// Both ways of reading: values, and texts (on SQLite straight from the library).
static void addReadings() {
    QTest::addColumn<Recordset::Reading>("reading");
    QTest::newRow("values") << Recordset::Reading::values;
    QTest::newRow("texts") << Recordset::Reading::Texts;
}

void TestRecordset::readsRowsInOrderWithNulls_data() {
    addReadings();
}

void TestRecordset::readsRowsInOrderWithNulls() {
    QFETCH(Recordset::Reading, reading);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.addResult("12", "Tănase Ioana - Rex", "2026-03-06 09:05:03", 0, "M", "Proba hemolizata", 1) > 0);
    QVERIFY(db.addResult("13", QVariant(), "2026-03-07 10:00:00") > 0);
    DatabaseConnection ado;
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    // Debian's Qt runs on the system's SQLite and libpq, so the rows come straight from the library.
    QVERIFY(db.backend() == DbLab::Backend::SQLite ? SqliteStatement::handleOf(ado.connection()) != nullptr
                                                   : PostgresStatement::handleOf(ado.connection()) != nullptr);
    QVERIFY(rs.open("SELECT ID, RequestID, PacientName, Age, SEX, comment, profileID FROM RESULTS ORDER BY ID", &ado,
                    {}, reading));
    QVariant v;
    QVERIFY(rs.getFieldValue("RequestID", &v));
    QCOMPARE(v.toString(), QStringLiteral("12"));
    QVERIFY(rs.getFieldValue("Age", &v));
    QVERIFY(!v.isNull());
    QCOMPARE(v.toInt(), 0); // an age of 0 is a value, not a NULL
    QVERIFY(rs.getFieldValue("comment", &v));
    QCOMPARE(v.toString(), QStringLiteral("Proba hemolizata"));
    // As texts, whichever way the rows come: letters beyond ASCII and numbers written out.
    QAnyStringView text;
    bool isNull = true;
    QVERIFY(rs.getFieldTextAt(rs.fieldIndex("PacientName"), &text, &isNull));
    QCOMPARE(text.toString(), QStringLiteral("Tănase Ioana - Rex"));
    QVERIFY(!isNull);
    QVERIFY(rs.getFieldTextAt(rs.fieldIndex("profileID"), &text, &isNull));
    QCOMPARE(text.toString(), QStringLiteral("1"));
    qint64 number = -1;
    QVERIFY(rs.getFieldIntegerAt(rs.fieldIndex("Age"), &number));
    QCOMPARE(number, 0);
    QVERIFY(!rs.getFieldIntegerAt(rs.fieldIndex("SEX"), &number));
    QVERIFY(rs.moveNext());
    for (const char* column : {"PacientName", "Age", "SEX", "comment", "profileID"}) {
        QVERIFY(rs.getFieldValue(column, &v));
        QVERIFY2(v.isNull(), column);
        QVERIFY(rs.getFieldTextAt(rs.fieldIndex(column), &text, &isNull));
        QVERIFY2(isNull && text.isEmpty(), column);
        QVERIFY2(!rs.getFieldIntegerAt(rs.fieldIndex(column), &number), column);
    }
    QVERIFY(!rs.moveNext());
    QVERIFY(!rs.readFailed());
    QVERIFY(rs.isEOF());
    rs.close();
}

void TestRecordset::readFailureIsNotTheEnd_data() {
    addReadings();
}

// A row that cannot be read ends the rows as a failure, logged, never as their end.
void TestRecordset::readFailureIsNotTheEnd() {
    QFETCH(Recordset::Reading, reading);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    for (const char* id : {"1", "2", "3"})
        QVERIFY(db.addResult(id, "Rex", "2026-03-06 09:05:03") > 0);
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    // The second row's value is out of range: SQLite finds it on that row, a server while
    // running the statement.
    const bool opened =
        rs.open("SELECT CASE WHEN RequestID = '2' THEN abs(-9223372036854775807 - 1) ELSE 0 END AS n FROM RESULTS "
                "ORDER BY RequestID",
                &ado, {}, reading);
    if (opened) {
        QVERIFY(!rs.isEOF());
        QVERIFY(!rs.moveNext());
        QVERIFY(rs.readFailed());
        QVERIFY(rs.isEOF());
        QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::MoveNext"), 1);
        rs.close();
    } else {
        QVERIFY(db.backend() != DbLab::Backend::SQLite);
    }
    QVERIFY2(rs.errorText().contains("overflow") || rs.errorText().contains("out of range"),
             qPrintable(rs.errorText()));
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
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    const int rows = 20000;
    const int failingRow = ending == "failing" ? 15000 : 0;
    // A failure of that one row: SQLite's integer overflow, a server's division by zero.
    const QString failure = db.backend() == DbLab::Backend::SQLite ? "abs(-9223372036854775807 - 1)" : "1 / (i - i)";
    Recordset rs;
    QVERIFY(rs.open(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                   "SELECT i, 'rând ' || i AS t, NULL AS z, CASE WHEN i = %2 THEN %3 ELSE i * 2 END "
                                   "AS d FROM n")
                        .arg(rows)
                        .arg(failingRow)
                        .arg(failure),
                    &ado, {}, Recordset::Reading::Texts));
    int read = 0;
    while (!rs.isEOF()) {
        ++read;
        qint64 number = 0;
        QVERIFY(rs.getFieldIntegerAt(0, &number));
        QCOMPARE(number, qint64(read));
        QAnyStringView text;
        bool isNull = false;
        QVERIFY(rs.getFieldTextAt(1, &text, &isNull));
        QCOMPARE(text.toString(), QStringLiteral("rând %1").arg(read));
        QVERIFY(rs.getFieldTextAt(2, &text, &isNull) && isNull);
        QVERIFY(rs.getFieldIntegerAt(3, &number));
        QCOMPARE(number, qint64(read) * 2);
        if (ending == "closed" && read == 3000)
            break;
        rs.moveNext();
    }
    if (ending == "whole") {
        QCOMPARE(read, rows);
        QVERIFY(!rs.readFailed());
    } else if (ending == "failing") {
        QCOMPARE(read, failingRow - 1);
        QVERIFY(rs.readFailed());
        QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::MoveNext"), 1);
    }
    rs.close();
    QVERIFY2(ado.execute("INSERT INTO VET_PROFILES (id, profileName) VALUES (?, ?)", {1, "after"}),
             qPrintable(ado.m_comError));
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
    DatabaseConnection ado;
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    QVERIFY(rs.open("SELECT * FROM RESULTS", &ado));
    QVariant v;
    QVERIFY(rs.getFieldValue(name, &v));
    QCOMPARE(v.toString(), QStringLiteral("77"));
}

void TestRecordset::misspeltColumnKeepsRow() {
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.addResult("1", "a", "2026-01-01 00:00:00") > 0);
    QVERIFY(db.addResult("2", "b", "2026-01-02 00:00:00") > 0);
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    QVERIFY(rs.open("SELECT RequestID, PacientName FROM RESULTS ORDER BY ID", &ado));
    QVariant v = "untouched";
    QVERIFY(!rs.getFieldValue("PacientNmae", &v));
    QVERIFY(rs.m_comError.contains("PacientNmae"));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::GetFieldValue"), 1);
    QVERIFY(rs.getFieldValue("PacientName", &v));
    QCOMPARE(v.toString(), QStringLiteral("a"));
    QVERIFY(rs.moveNext());
    QVERIFY(rs.getFieldValue("RequestID", &v));
    QCOMPARE(v.toString(), QStringLiteral("2"));
    rs.close();
}

void TestRecordset::moveNextPastTheEnd() {
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.addResult("1", "a", "2026-01-01 00:00:00") > 0);
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    QVERIFY(rs.open("SELECT ID FROM RESULTS", &ado));
    QVERIFY(!rs.isEOF());
    QVERIFY(!rs.moveNext()); // the last row passed: false, no failure
    QVERIFY(rs.isEOF());
    QVERIFY(!QFile::exists(kLog));
    QVERIFY(!rs.moveNext()); // nothing left to move from: a logged failure
    QVERIFY(rs.isEOF());
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::MoveNext"), 1);
    rs.close();
}

void TestRecordset::openTwiceWithoutClose_data() {
    addReadings();
}

void TestRecordset::openTwiceWithoutClose() {
    QFETCH(Recordset::Reading, reading);
    DbLab db(backend());
    QVERIFY(db.createDemo(3));
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    QVERIFY(rs.open("SELECT ID FROM RESULTS ORDER BY ID", &ado, {}, reading));
    QVERIFY(!rs.open("SELECT ID FROM RESULTS", &ado, {}, reading));
    QVERIFY(!rs.m_providerError.isEmpty());
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::Open"), 1);
    // The first query is still usable.
    QVariant v;
    QVERIFY(rs.getFieldValue("ID", &v));
    QCOMPARE(v.toInt(), 1);
    // Closed with rows unread, it leaves the connection free for the next statements.
    rs.close();
    QVERIFY(rs.open("SELECT ID FROM RESULTS ORDER BY ID DESC", &ado, {}, reading));
    QVERIFY(rs.getFieldValue("ID", &v));
    QCOMPARE(v.toInt(), db.scalar("SELECT MAX(ID) FROM RESULTS").toInt());
    rs.close();
    QVERIFY2(ado.execute("UPDATE RESULTS SET comment = ? WHERE ID = ?", {"read", 1}), qPrintable(ado.m_comError));
}

void TestRecordset::refusedQuery_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<Recordset::Reading>("reading");
    QTest::newRow("syntax") << "SELEC ID FROM RESULTS" << Recordset::Reading::values;
    QTest::newRow("missing table") << "SELECT * FROM NO_SUCH_TABLE" << Recordset::Reading::values;
    QTest::newRow("missing column") << "SELECT nope FROM RESULTS" << Recordset::Reading::values;
    QTest::newRow("syntax, read as texts") << "SELEC ID FROM RESULTS" << Recordset::Reading::Texts;
    QTest::newRow("missing column, read as texts") << "SELECT nope FROM RESULTS" << Recordset::Reading::Texts;
    QTest::newRow("too few values, read as texts")
        << "SELECT ID FROM RESULTS WHERE ID = ? OR ID = ?" << Recordset::Reading::Texts;
}

void TestRecordset::refusedQuery() {
    QFETCH(QString, sql);
    QFETCH(Recordset::Reading, reading);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    QVERIFY(!rs.open(sql, &ado, {1}, reading));
    QVERIFY(rs.isEOF());
    QVERIFY(rs.m_comError.startsWith("Error\n\tCode = "));
    QVERIFY(rs.m_comError.contains("\tSource = " + db.driver() + "\n"));
    QVERIFY(rs.m_providerError.startsWith("\t Error number: "));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::Open"), 1);
    // A failed query leaves nothing open.
    QVERIFY(rs.open("SELECT ID FROM RESULTS", &ado));
    rs.close();
}

void TestRecordset::boundValuesInQueries_data() {
    addReadings();
}

void TestRecordset::boundValuesInQueries() {
    QFETCH(Recordset::Reading, reading);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    QVERIFY(db.addResult("1", "O'Brien - Rex", "2026-01-01 00:00:00") > 0);
    const int second = db.addResult("2", "Other", "2026-01-01 00:00:00");
    QVERIFY(second > 0);
    DatabaseConnection ado;
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    QVERIFY(rs.open("SELECT RequestID FROM RESULTS WHERE PacientName = ?", &ado, {"O'Brien - Rex"}, reading));
    QVariant v;
    QVERIFY(rs.getFieldValue("RequestID", &v));
    QCOMPARE(v.toString(), QStringLiteral("1"));
    QVERIFY(!rs.moveNext());
    rs.close();
    QVERIFY(rs.open("SELECT RequestID FROM RESULTS WHERE PacientName = ?", &ado, {"x' OR '1'='1"}, reading));
    QVERIFY(rs.isEOF());
    rs.close();
    // A question mark inside quotes is text, not a place for a value.
    QVERIFY(rs.open("SELECT RequestID FROM RESULTS WHERE PacientName <> '?' AND ID = ?", &ado, {qlonglong(second)},
                    reading));
    QVERIFY(rs.getFieldValue("RequestID", &v));
    QCOMPARE(v.toString(), QStringLiteral("2"));
    rs.close();
    // Numbers, yes/no and NULL are bound as themselves.
    QVERIFY(rs.open("SELECT RequestID FROM RESULTS WHERE ID = ? AND ? AND CAST(? AS VARCHAR(10)) IS NULL", &ado,
                    {qlonglong(second), true, QVariant()}, reading));
    QVERIFY(rs.getFieldValue("RequestID", &v));
    QCOMPARE(v.toString(), QStringLiteral("2"));
    rs.close();
}

void TestRecordset::viewDeliversOneRowPerValue() {
    DbLab db(backend());
    QVERIFY(db.createDemo(60));
    DatabaseConnection ado;
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    QVERIFY(rs.open("SELECT * FROM vResults2_vet WHERE 1 = 0", &ado));
    rs.close();
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

    DatabaseConnection ado;
    QVERIFY(ado.open(db.connectionString()));
    Recordset rs;
    QVERIFY(rs.open("SELECT results_id, minValue, maxValue, refName, um FROM vResults2_vet ORDER BY results_id", &ado));
    QStringList seen;
    while (!rs.isEOF()) {
        QVariant id, lo, hi, name;
        QVERIFY(rs.getFieldValue("results_id", &id));
        QVERIFY(rs.getFieldValue("minValue", &lo));
        QVERIFY(rs.getFieldValue("maxValue", &hi));
        QVERIFY(rs.getFieldValue("refName", &name));
        QCOMPARE(name.toString(), QStringLiteral("Glucoza"));
        seen << QStringLiteral("%1:%2-%3")
                    .arg(id.toInt())
                    .arg(lo.isNull() ? "null" : lo.toString(), hi.isNull() ? "null" : hi.toString());
        rs.moveNext();
    }
    rs.close();
    QCOMPARE(seen, QStringList({QString("%1:70-110").arg(male), QString("%1:60-100").arg(unknown),
                                QString("%1:null-null").arg(noProfile)}));
}

QTEST_GUILESS_MAIN(TestRecordset)
#include "tst_recordset.moc"
