#include "DbLab.h"

#include <QCryptographicHash>
#include <QtTest>

namespace {

// Everything the demo wrote, as one digest.
QByteArray digest(QSqlDatabase db) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const char* sql :
         {"SELECT * FROM VET_PROFILES ORDER BY id", "SELECT * FROM PARAMETERS ORDER BY MachineID, refcode",
          "SELECT * FROM VET_PROFILE_NORMAL_VALUES ORDER BY id", "SELECT * FROM RESULTS ORDER BY ID",
          "SELECT * FROM RESULT_VALUES ORDER BY id"}) {
        QSqlQuery q(db);
        if (!q.exec(QString::fromLatin1(sql)))
            return {};
        while (q.next())
            for (int i = 0; i < q.record().count(); ++i)
                hash.addData((q.value(i).isNull() ? QStringLiteral("<null>") : q.value(i).toString()).toUtf8() + '|');
    }
    return hash.result().toHex();
}

int runTool(const QStringList& args, QString* output = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(TestLab::dbTool(), args);
    if (!p.waitForFinished(600000))
        return -1;
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Rows of RESULTS through a connection of its own (the file may have been replaced).
int resultCount(const QString& file) {
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "count");
        db.setDatabaseName(file);
        QSqlQuery q(db);
        if (db.open() && q.exec("SELECT COUNT(*) FROM RESULTS") && q.next())
            count = q.value(0).toInt();
    }
    QSqlDatabase::removeDatabase("count");
    return count;
}

} // namespace

class TestDbTool : public QObject {
    Q_OBJECT

private slots:
    void demoIsDeterministic();
    void demoLooksLikeALaboratory();
    void refusesToOverwriteWithoutForce();
    void rejectsBadArguments_data();
    void rejectsBadArguments();
    void forceKeepsOthersObjects_data();
    void forceKeepsOthersObjects();
};

void TestDbTool::demoIsDeterministic() {
    TestLab lab;
    const QStringList common = {"--demo", "--results", "400", "--end-date", "2026-06-30", "--months", "6"};
    QCOMPARE(runTool(QStringList(common) << "--seed"
                                         << "11"
                                         << "a.db"),
             0);
    QCOMPARE(runTool(QStringList(common) << "--seed"
                                         << "11"
                                         << "b.db"),
             0);
    QCOMPARE(runTool(QStringList(common) << "--seed"
                                         << "12"
                                         << "c.db"),
             0);
    QByteArray digests[3];
    const char* files[] = {"a.db", "b.db", "c.db"};
    for (int i = 0; i < 3; ++i) {
        const QString name = QStringLiteral("digest-%1").arg(i);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
            db.setDatabaseName(lab.filePath(files[i]));
            QVERIFY(db.open());
            digests[i] = digest(db);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        QVERIFY(!digests[i].isEmpty());
    }
    QCOMPARE(digests[0], digests[1]);
    QVERIFY(digests[0] != digests[2]);
}

void TestDbTool::demoLooksLikeALaboratory() {
    TestLab lab;
    QString out;
    QVERIFY(
        lab.runTool({"--demo", "--seed", "3", "--results", "1500", "--end-date", "2026-06-30", "--months", "3"}, &out));
    QVERIFY2(out.contains("1500 result sets"), qPrintable(out));
    QCOMPARE(lab.scalar("PRAGMA journal_mode").toString().toLower(), QStringLiteral("wal"));
    QCOMPARE(lab.scalar("SELECT COUNT(*) FROM RESULTS").toInt(), 1500);
    QCOMPARE(lab.scalar("SELECT MIN(TransDate) >= '2026-03-31' AND MAX(TransDate) < '2026-07-01' FROM RESULTS").toInt(),
             1);
    QCOMPARE(lab.scalar("SELECT COUNT(*) FROM RESULTS WHERE ProcDate < TransDate").toInt(), 0);
    QCOMPARE(lab.scalar("SELECT MAX(length(profileName)) <= 79 FROM VET_PROFILES").toInt(), 1);
    QVERIFY(lab.scalar("SELECT COUNT(*) FROM VET_PROFILES WHERE profileName IN ('Caine', 'Pisica', 'Cal')").toInt() ==
            3);
    QVERIFY(lab.scalar("SELECT COUNT(*) FROM RESULTS WHERE PacientName LIKE '% - %'").toInt() > 1000);
    // Several sets of one request on one day, and some on another day.
    QVERIFY(
        lab.scalar("SELECT COUNT(*) FROM (SELECT RequestID FROM RESULTS GROUP BY RequestID, substr(TransDate, 1, 10) "
                   "HAVING COUNT(*) > 1) t")
            .toInt() > 50);
    QVERIFY(lab.scalar("SELECT COUNT(*) FROM (SELECT RequestID FROM RESULTS GROUP BY RequestID "
                       "HAVING COUNT(DISTINCT substr(TransDate, 1, 10)) > 1) t")
                .toInt() > 0);
    for (const char* column : {"Age", "SEX", "comment"})
        QVERIFY2(lab.scalar(QStringLiteral("SELECT COUNT(*) FROM RESULTS WHERE %1 IS NULL").arg(column)).toInt() > 0,
                 column);
    QVERIFY(lab.scalar("SELECT COUNT(*) FROM RESULTS WHERE Age = 0").toInt() > 0);
    QVERIFY(lab.scalar("SELECT COUNT(*) FROM RESULT_VALUES WHERE stringvalue = 'negativ'").toInt() > 0);
    QVERIFY(lab.scalar("SELECT COUNT(*) FROM RESULT_VALUES WHERE stringvalue LIKE '% g/dl'").toInt() +
                lab.scalar("SELECT COUNT(*) FROM RESULT_VALUES WHERE stringvalue LIKE '% mg/dl'").toInt() >
            0);
    // Values outside their interval on both sides, and sets without any interval.
    QVERIFY(lab.scalar("SELECT COUNT(*) FROM vResults2_vet WHERE CAST(stringvalue AS REAL) < CAST(minValue AS REAL)")
                .toInt() > 0);
    QVERIFY(lab.scalar("SELECT COUNT(*) FROM vResults2_vet WHERE CAST(stringvalue AS REAL) > CAST(maxValue AS REAL)")
                .toInt() > 0);
    QVERIFY(lab.scalar("SELECT COUNT(*) FROM vResults2_vet WHERE minValue IS NULL").toInt() > 0);
    // Intervals that depend on sex exist, and never beside an any-sex one for the same code.
    QVERIFY(lab.scalar("SELECT COUNT(*) FROM VET_PROFILE_NORMAL_VALUES WHERE sex = 'F'").toInt() > 0);
    QCOMPARE(lab.scalar("SELECT COUNT(*) FROM VET_PROFILE_NORMAL_VALUES a JOIN VET_PROFILE_NORMAL_VALUES b ON "
                        "a.profileID = b.profileID AND a.refcode = b.refcode AND a.sex IS NULL AND b.id <> a.id")
                 .toInt(),
             0);
    QCOMPARE(lab.scalar("SELECT COUNT(*) FROM vResults2_vet").toInt(),
             lab.scalar("SELECT COUNT(*) FROM RESULT_VALUES").toInt());
}

void TestDbTool::refusesToOverwriteWithoutForce() {
    TestLab lab;
    QVERIFY(lab.createDemo(30));
    const QByteArray before = fileBytes(lab.dbPath());
    QString out;
    QVERIFY(runTool({"--empty", lab.dbPath()}, &out) != 0);
    QVERIFY2(out.contains("--force"), qPrintable(out));
    QCOMPARE(resultCount(lab.dbPath()), 30);
    QCOMPARE(runTool({"--demo", "--results", "5", "--force", lab.dbPath()}), 0);
    QCOMPARE(resultCount(lab.dbPath()), 5);
    QVERIFY(!before.isEmpty());

    // A connection string naming the file works the same way.
    QCOMPARE(runTool({"--empty", "Provider=SQLite;Data Source=" + lab.filePath("cs.db")}), 0);
    QVERIFY(QFile::exists(lab.filePath("cs.db")));
}

void TestDbTool::rejectsBadArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no database") << QStringList{"--demo"};
    QTest::newRow("bad seed") << QStringList{"--seed", "x", "a.db"};
    QTest::newRow("negative results") << QStringList{"--results", "-4", "a.db"};
    QTest::newRow("bad date") << QStringList{"--end-date", "2026-02-30", "a.db"};
    QTest::newRow("zero months") << QStringList{"--months", "0", "a.db"};
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "a.db"};
    QTest::newRow("two databases") << QStringList{"a.db", "b.db"};
    QTest::newRow("unknown provider") << QStringList{"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=a.mdb"};
    QTest::newRow("directory") << QStringList{"."};
}

void TestDbTool::rejectsBadArguments() {
    QFETCH(QStringList, args);
    TestLab lab;
    QString out;
    QVERIFY(runTool(args, &out) != 0);
    QVERIFY2(out.startsWith("labrosa-dbtool: "), qPrintable(out));
    QVERIFY(!QFile::exists("a.db"));
    QVERIFY(!QFile::exists("a.mdb"));
}

void TestDbTool::forceKeepsOthersObjects_data() {
    QTest::addColumn<QStringList>("create");
    QTest::addColumn<QString>("probe"); // gives 1 while the laboratory's object is there
    QTest::addColumn<QString>("named"); // in the refusal; empty when --force may go on
    QTest::addColumn<QStringList>("drop");

    QTest::newRow("view on RESULTS") << QStringList{"CREATE VIEW lab_counts AS SELECT COUNT(*) AS n FROM results"}
                                     << "SELECT COUNT(*) FROM pg_views WHERE viewname = 'lab_counts'"
                                     << "lab_counts" << QStringList{"DROP VIEW IF EXISTS lab_counts"};
    QTest::newRow("view in another schema")
        << QStringList{"CREATE SCHEMA lab_own", "CREATE VIEW lab_own.recent AS SELECT ID, TransDate FROM results"}
        << "SELECT COUNT(*) FROM pg_views WHERE schemaname = 'lab_own' AND viewname = 'recent'"
        << "lab_own.recent" << QStringList{"DROP SCHEMA IF EXISTS lab_own CASCADE"};
    QTest::newRow("foreign key to RESULTS")
        << QStringList{"CREATE TABLE lab_notes (note TEXT, result_id INTEGER CONSTRAINT lab_notes_result "
                       "REFERENCES results (ID))",
                       "INSERT INTO lab_notes SELECT 'vazut', MIN(ID) FROM results"}
        << "SELECT COUNT(*) FROM pg_constraint WHERE conname = 'lab_notes_result'"
        << "lab_notes_result" << QStringList{"DROP TABLE IF EXISTS lab_notes"};
    QTest::newRow("default from the sequence of RESULTS")
        << QStringList{"CREATE TABLE lab_numbers (n INTEGER DEFAULT nextval('results_id_seq'))"}
        << "SELECT COUNT(*) FROM pg_attrdef WHERE adrelid = 'lab_numbers'::regclass"
        << "lab_numbers" << QStringList{"DROP TABLE IF EXISTS lab_numbers"};
    QTest::newRow("function of the RESULTS row type")
        << QStringList{"CREATE FUNCTION lab_age(r results) RETURNS INTEGER LANGUAGE sql AS 'SELECT r.Age'"}
        << "SELECT COUNT(*) FROM pg_proc WHERE proname = 'lab_age'"
        << "lab_age" << QStringList{"DROP FUNCTION IF EXISTS lab_age(results)"};
    // A trigger is part of its table, like an index: it goes with it, as with a plain DROP.
    QTest::newRow("trigger on RESULTS goes with the table")
        << QStringList{"CREATE FUNCTION lab_touch() RETURNS trigger LANGUAGE plpgsql AS 'BEGIN RETURN NEW; END'",
                       "CREATE TRIGGER lab_touch BEFORE UPDATE ON results FOR EACH ROW EXECUTE FUNCTION lab_touch()"}
        << "SELECT COUNT(*) FROM pg_trigger WHERE tgname = 'lab_touch'"
        << "" << QStringList{"DROP TRIGGER IF EXISTS lab_touch ON results", "DROP FUNCTION IF EXISTS lab_touch()"};
}

// --force replaces the program's tables and view only: an object of the laboratory's own
// that depends on them makes the tool refuse and leave the database as it was.
void TestDbTool::forceKeepsOthersObjects() {
    QFETCH(QStringList, create);
    QFETCH(QString, probe);
    QFETCH(QString, named);
    QFETCH(QStringList, drop);
    if (DbLab::pgConnectionString().isEmpty())
        QSKIP("LABROSA_TEST_PG names no PostgreSQL test database");
    DbLab db(DbLab::Backend::PostgreSQL);
    QVERIFY(db.createDemo(20));
    // The object goes again whatever the outcome, so that later tests find the database clean.
    struct Cleanup {
        DbLab& db;
        const QStringList& drop;
        ~Cleanup() {
            for (const QString& sql : drop)
                db.exec(sql);
        }
    } cleanup{db, drop};
    for (const QString& sql : create)
        QVERIFY(db.exec(sql));
    QCOMPARE(db.scalar(probe).toInt(), 1);

    QString out;
    const int rc = runTool({"--empty", "--force", DbLab::pgConnectionString()}, &out);
    if (named.isEmpty()) {
        QVERIFY2(rc == 0, qPrintable(out));
        QCOMPARE(db.scalar("SELECT COUNT(*) FROM results").toInt(), 0);
        return;
    }
    QVERIFY2(rc != 0, qPrintable(out));
    QVERIFY2(out.startsWith("labrosa-dbtool: ") && out.contains(named), qPrintable(out));
    QCOMPARE(db.scalar(probe).toInt(), 1);
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM results").toInt(), 20);
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM vResults2_vet").toInt(),
             db.scalar("SELECT COUNT(*) FROM result_values").toInt());
}

QTEST_GUILESS_MAIN(TestDbTool)
#include "tst_dbtool.moc"
