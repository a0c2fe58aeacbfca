#include "BrokenFiles.h"
#include "DatabaseConnection.h"
#include "DbLab.h"
#include "JournalProtection.h"
#include "SigningPasswords.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>
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

int runTool(const QStringList& args, QString* output = nullptr, const QByteArray& input = QByteArray()) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(TestLab::dbTool(), args);
    p.write(input);
    p.closeWriteChannel();
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
    void answersHelpAndVersion_data();
    void answersHelpAndVersion();
    void forceKeepsOthersObjects_data();
    void forceKeepsOthersObjects();
    void signatoriesAreMadeInactiveNeverRemoved_data();
    void signatoriesAreMadeInactiveNeverRemoved();
    void criticalLimitsAreSetAndCleared_data() { DbLab::addBackends(); }
    void criticalLimitsAreSetAndCleared();
    void upgradeAddsJournal_data();
    void upgradeAddsJournal();
    void programRoleOnlyAddsJournalRows_data();
    void programRoleOnlyAddsJournalRows();
    void madeWithoutTrigramExtension();
    void upgradeRefusesDamagedOrFullDisk_data();
    void upgradeRefusesDamagedOrFullDisk();
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
    QTest::newRow("upgrade with demo data") << QStringList{"--upgrade", "--demo", "a.db"};
    QTest::newRow("program role on SQLite") << QStringList{"--program-role", "labrosa_app", "a.db"};
    QTest::newRow("signatory without title") << QStringList{"--signatory", "add", "ana", "Ana Pop", "a.db"};
    QTest::newRow("signatory, unknown action") << QStringList{"--signatory", "rename", "ana", "a.db"};
    QTest::newRow("signatories of no database") << QStringList{"--signatory", "list", "a.db"};
    QTest::newRow("critical limit that is no number")
        << QStringList{"--critical-limit", "set", "1", "K", "", "scazut", "", "a.db"};
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

// Answered on standard output before anything is opened or made.
void TestDbTool::answersHelpAndVersion_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("output"); // what the whole output must match
    QTest::newRow("help") << QStringList{"--help", "a.db"} << "^usage: labrosa-dbtool .*--version";
    QTest::newRow("version") << QStringList{"--demo", "--version", "a.db"} << "^labrosa-dbtool \\d+\\.\\d+\n$";
}

void TestDbTool::answersHelpAndVersion() {
    QFETCH(QStringList, args);
    QFETCH(QString, output);
    TestLab lab;
    QString out;
    QCOMPARE(runTool(args, &out), 0);
    QVERIFY2(QRegularExpression(output, QRegularExpression::DotMatchesEverythingOption).match(out).hasMatch(),
             qPrintable(out));
    QVERIFY(!QFile::exists("a.db"));
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

void TestDbTool::signatoriesAreMadeInactiveNeverRemoved_data() {
    DbLab::addBackends();
}

// A signatory who leaves is made inactive: the row and its name stay for old validations, and
// the same login may be named again.
void TestDbTool::signatoriesAreMadeInactiveNeverRemoved() {
    QFETCH(int, backend);
    DbLab db{DbLab::Backend(backend)};
    QVERIFY(db.createEmpty());
    const QString target = db.connectionString();
    QString out;
    QCOMPARE(runTool({"--signatory", "add", "ana", "Ana Pop", "Dr. med. vet.", target}, &out), 0);
    QVERIFY(runTool({"--signatory", "add", "ana", "Ana Popa", "Dr.", target}, &out) != 0);
    QVERIFY2(out.contains("ana este deja semnatar activ"), qPrintable(out));
    QCOMPARE(runTool({"--signatory", "remove", "ana", target}, &out), 0);
    QVERIFY(runTool({"--signatory", "remove", "ion", target}, &out) != 0);
    QCOMPARE(runTool({"--signatory", "list", target}, &out), 0);
    QCOMPARE(out, QStringLiteral("ana\tDr. med. vet.\tAna Pop\tinactiv\n"));
    QCOMPARE(runTool({"--signatory", "add", "ana", "Ana Popa", "Dr. med. vet.", target}, &out), 0);
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM SIGNATORIES WHERE active = 1 AND fullName = 'Ana Popa'").toInt(), 1);

    // The signing password is read from the input, kept only as a hash, and the program takes it.
    QVERIFY(runTool({"--signatory", "password", "ion", target}, &out, "parola-lui-ion\n") != 0);
    QVERIFY(runTool({"--signatory", "password", "ana", target}, &out, "scurta\n") != 0);
    QCOMPARE(runTool({"--signatory", "password", "ana", target}, &out, "parola de semnare\n"), 0);
    QVERIFY(!db.scalar("SELECT passwordHash FROM SIGNATORY_PASSWORDS WHERE userName = 'ana'")
                 .toString()
                 .contains("parola"));
    DatabaseConnection program;
    QVERIFY(program.open(target));
    SigningPasswords passwords(&program);
    QCOMPARE(passwords.check("ana", "parola de semnare\n"), SigningPasswords::Outcome::wrong);
    QCOMPARE(passwords.check("ana", "parola de semnare"), SigningPasswords::Outcome::accepted);
    QCOMPARE(passwords.check("ion", "parola de semnare"), SigningPasswords::Outcome::notSignatory);
}

// One row per profile, code and sex: setting again replaces it, and the row for either sex is
// cleared without touching a sex's own.
void TestDbTool::criticalLimitsAreSetAndCleared() {
    QFETCH(int, backend);
    DbLab db{DbLab::Backend(backend)};
    QVERIFY(db.createEmpty());
    const QString target = db.connectionString();
    QString out;
    QCOMPARE(runTool({"--critical-limit", "set", "1", "K", "", "2,5", "6,5", target}, &out), 0);
    QCOMPARE(runTool({"--critical-limit", "set", "1", "K", "M", "", "7", target}, &out), 0);
    QCOMPARE(runTool({"--critical-limit", "set", "1", "K", "", "3", "6", target}, &out), 0);
    QCOMPARE(runTool({"--critical-limit", "list", target}, &out), 0);
    QCOMPARE(out, QStringLiteral("1\tK\toricare\t3\t6\n1\tK\tM\t\t7\n"));
    QCOMPARE(runTool({"--critical-limit", "clear", "1", "K", "", target}, &out), 0);
    QCOMPARE(runTool({"--critical-limit", "list", target}, &out), 0);
    QCOMPARE(out, QStringLiteral("1\tK\tM\t\t7\n"));
}

void TestDbTool::upgradeAddsJournal_data() {
    DbLab::addBackends();
}

// A database made before the journal existed gets it from --upgrade, its data untouched;
// a second run changes nothing. On SQLite the journal's rows cannot be changed; on
// PostgreSQL --force starts the journal afresh with the new data.
void TestDbTool::upgradeAddsJournal() {
    QFETCH(int, backend);
    DbLab db{DbLab::Backend(backend)};
    QVERIFY(db.createDemo(40));
    QVERIFY(db.exec("DROP TABLE CORRECTION_JOURNAL"));
    QVERIFY(db.exec("DROP TABLE BULLETIN_ARCHIVE"));
    QVERIFY(db.exec("DROP TABLE SIGNATORIES"));
    QVERIFY(db.exec("DROP TABLE BULLETIN_VALIDATION"));
    // Nor the receiver's tables.
    for (const char* table : {"UNMATCHED_RESULTS", "RECEIVED_SETS", "RECEIVED_MESSAGES", "RECEIVER_STATUS"})
        QVERIFY(db.exec(QStringLiteral("DROP TABLE %1").arg(table)));
    // Nor had it the search's indexes and, on SQLite, the name shadow.
    const QStringList searchIndexes =
        db.isPg() ? QStringList{"DROP INDEX IX_RESULTS_TransDate_RequestID", "DROP INDEX IX_RESULTS_RequestNumber",
                                "DROP INDEX IF EXISTS IX_RESULTS_PacientName_trgm"}
                  : QStringList{"DROP INDEX IX_RESULTS_TransDate_RequestID", "DROP INDEX IX_RESULTS_RequestNumber",
                                "DROP TRIGGER RESULTS_NAME_SEARCH_insert",   "DROP TRIGGER RESULTS_NAME_SEARCH_update",
                                "DROP TRIGGER RESULTS_NAME_SEARCH_delete",   "DROP TABLE RESULTS_NAME_SEARCH"};
    for (const QString& sql : searchIndexes)
        QVERIFY(db.exec(sql));
    const QString indexCount =
        db.isPg() ? "SELECT COUNT(*) FROM pg_indexes WHERE indexname IN ('ix_results_transdate_requestid', "
                    "'ix_results_requestnumber', 'ix_results_pacientname_trgm')"
                  : "SELECT COUNT(*) FROM sqlite_master WHERE name IN ('IX_RESULTS_TransDate_RequestID', "
                    "'IX_RESULTS_RequestNumber', 'RESULTS_NAME_SEARCH_insert', 'RESULTS_NAME_SEARCH_update', "
                    "'RESULTS_NAME_SEARCH_delete', 'RESULTS_NAME_SEARCH')";
    const QByteArray before = digest(db.admin());
    QVERIFY(!before.isEmpty());

    QString out;
    QVERIFY2(runTool({"--upgrade", db.connectionString()}, &out) == 0, qPrintable(out));
    QCOMPARE(digest(db.admin()), before);
    QVERIFY2(out.contains("tabelele receptorului de la analizoare au fost adaugate"), qPrintable(out));
    QVERIFY(db.exec("SELECT u.id, s.fingerprint, m.content, r.state FROM UNMATCHED_RESULTS u, RECEIVED_SETS s, "
                    "RECEIVED_MESSAGES m, RECEIVER_STATUS r"));
    // A journal of the time before a correction carried its reason and its mark: the columns are
    // added, its rows stay.
    QVERIFY(db.exec("DROP TABLE CORRECTION_JOURNAL"));
    QVERIFY(db.exec(QStringLiteral("CREATE TABLE CORRECTION_JOURNAL (id %1 PRIMARY KEY, resultID INTEGER NOT NULL, "
                                   "RequestID VARCHAR(50), field VARCHAR(30) NOT NULL, oldValue TEXT, newValue TEXT, "
                                   "changedAt TIMESTAMP NOT NULL, userName VARCHAR(100) NOT NULL, workstation "
                                   "VARCHAR(255) NOT NULL)")
                        .arg(db.isPg() ? "BIGSERIAL" : "INTEGER")));
    const QString date = db.dateParameter();
    QVERIFY(db.exec(QStringLiteral("INSERT INTO CORRECTION_JOURNAL (resultID, RequestID, field, oldValue, newValue, "
                                   "changedAt, userName, workstation) VALUES (1, '7', 'PacientName', 'Rex', "
                                   "'Rex - Pop', %1, 'ana', 'lab1')")
                        .arg(date),
                    {"2026-06-30 10:00:00"}));
    QVERIFY(db.exec(QStringLiteral("INSERT INTO BULLETIN_ARCHIVE (resultID, RequestID, madeAt, userName, workstation, "
                                   "contentHash, content) VALUES (1, '7', %1, 'ana', 'lab1', ?, ?)")
                        .arg(date),
                    {"2026-06-30 10:01:00", QString(64, QLatin1Char('0')), QByteArray("<html></html>")}));

    // Notifications of the time before they named the values told.
    QVERIFY(db.exec("DROP TABLE CRITICAL_NOTIFICATIONS"));
    QVERIFY(db.exec(QStringLiteral("CREATE TABLE CRITICAL_NOTIFICATIONS (id %1 PRIMARY KEY, RequestID VARCHAR(50) NOT "
                                   "NULL, resultIDs TEXT NOT NULL, toldName VARCHAR(200) NOT NULL, toldContact "
                                   "VARCHAR(200) NOT NULL, toldAt TIMESTAMP NOT NULL, recordedAt TIMESTAMP NOT NULL, "
                                   "userName VARCHAR(100) NOT NULL, workstation VARCHAR(255) NOT NULL)")
                        .arg(db.isPg() ? "BIGSERIAL" : "INTEGER")));
    QVERIFY(db.exec(QStringLiteral("INSERT INTO CRITICAL_NOTIFICATIONS (RequestID, resultIDs, toldName, toldContact, "
                                   "toldAt, recordedAt, userName, workstation) VALUES ('7', '1', 'Dr. Pop', '0700', "
                                   "%1, %1, 'ana', 'lab1')")
                        .arg(date),
                    {"2026-06-30 10:00:00", "2026-06-30 10:00:00"}));

    QVERIFY2(runTool({"--upgrade", db.connectionString()}, &out) == 0, qPrintable(out));
    QCOMPARE(digest(db.admin()), before);
    QCOMPARE(
        db.scalar("SELECT COUNT(*) FROM CORRECTION_JOURNAL WHERE reason IS NULL AND correctionMark IS NULL").toInt(),
        1);
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM CRITICAL_NOTIFICATIONS WHERE toldValues IS NULL").toInt(), 1);
    QCOMPARE(db.scalar(indexCount).toInt(), db.isPg() ? 3 : 6);
    // The shadow holds every set's name, once.
    if (!db.isPg()) {
        QCOMPARE(db.scalar("SELECT COUNT(*) FROM RESULTS_NAME_SEARCH").toInt(), 40);
        QCOMPARE(db.scalar("SELECT COUNT(*) FROM RESULTS_NAME_SEARCH s JOIN RESULTS r ON r.ID = s.rowid").toInt(), 40);
    }
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM CORRECTION_JOURNAL WHERE newValue = 'Rex - Pop'").toInt(), 1);
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM BULLETIN_ARCHIVE").toInt(), 1);
    if (db.isPg()) {
        QVERIFY(db.createDemo(10));
        QCOMPARE(db.scalar("SELECT COUNT(*) FROM CORRECTION_JOURNAL").toInt(), 0);
        QCOMPARE(db.scalar("SELECT COUNT(*) FROM BULLETIN_ARCHIVE").toInt(), 0);
        return;
    }
    QVERIFY(db.exec(QStringLiteral("INSERT INTO BULLETIN_VALIDATION (RequestID, resultIDs, contentHash, validatedAt, "
                                   "userName, workstation, fullName, title) VALUES ('7', '1', ?, %1, 'ana', 'lab1', "
                                   "'Ana Pop', 'Dr.')")
                        .arg(date),
                    {QString(64, QLatin1Char('0')), "2026-06-30 10:01:00"}));
    QVERIFY(db.exec("INSERT INTO SIGNATORIES (userName, fullName, title) VALUES ('ana', 'Ana Pop', 'Dr.')"));
    QVERIFY(!db.exec("DELETE FROM SIGNATORIES"));
    for (const char* table : {"CORRECTION_JOURNAL", "BULLETIN_ARCHIVE", "BULLETIN_VALIDATION"}) {
        QVERIFY(!db.exec(QStringLiteral("UPDATE %1 SET userName = 'altcineva'").arg(table)));
        QVERIFY(!db.exec(QStringLiteral("DELETE FROM %1").arg(table)));
        QCOMPARE(db.scalar(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE userName = 'ana'").arg(table)).toInt(), 1);
    }

    // Another program's database is refused and left as it was.
    const QString other = db.lab().filePath("other.db");
    {
        QSqlDatabase o = QSqlDatabase::addDatabase("QSQLITE", "other");
        o.setDatabaseName(other);
        QVERIFY(o.open());
        QVERIFY(QSqlQuery(o).exec("CREATE TABLE notes (text TEXT)"));
        o.close();
    }
    QSqlDatabase::removeDatabase("other");
    const QByteArray bytes = fileBytes(other);
    QVERIFY(runTool({"--upgrade", other}, &out) != 0);
    QVERIFY2(out.startsWith("labrosa-dbtool: ") && out.contains("results"), qPrintable(out));
    QCOMPARE(fileBytes(other), bytes);
}

void TestDbTool::programRoleOnlyAddsJournalRows_data() {
    QTest::addColumn<QStringList>("setup"); // %1 is the role, %2 the tables' owner
    QTest::addColumn<bool>("accepted");
    QTest::newRow("role of its own") << QStringList() << true;
    // Through the owner's role it could still change the journal: refused, nothing changed.
    QTest::newRow("member of the owner's role") << QStringList{"GRANT %2 TO %1"} << false;
    QTest::newRow("member of the owner's role, not inheriting")
        << QStringList{"ALTER ROLE %1 NOINHERIT", "GRANT %2 TO %1"} << false;
}

// The program's PostgreSQL role adds and reads journal rows but can neither change nor
// remove one, whatever the program or a person at a workstation tries.
void TestDbTool::programRoleOnlyAddsJournalRows() {
    QFETCH(QStringList, setup);
    QFETCH(bool, accepted);
    if (DbLab::pgConnectionString().isEmpty())
        QSKIP("LABROSA_TEST_PG names no PostgreSQL test database");
    DbLab db(DbLab::Backend::PostgreSQL);
    QVERIFY(db.createDemo(20));
    QVERIFY(db.exec("DROP TABLE correction_journal, bulletin_archive, signatories, bulletin_validation, "
                    "signatory_passwords, signing_attempts"));
    // Roles belong to the whole server: a name of this run's own, dropped again on the way out.
    const QString role = QStringLiteral("labrosa_prog_%1_%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(QRandomGenerator::global()->bounded(1000000));
    const QString owner = db.scalar("SELECT current_user").toString();
    QVERIFY(db.exec(QStringLiteral("CREATE ROLE %1 LOGIN").arg(role)));
    struct DropRole {
        DbLab& db;
        QString role;
        ~DropRole() {
            QSqlDatabase::removeDatabase("program-role");
            db.exec(QStringLiteral("DROP OWNED BY %1").arg(role));
            db.exec(QStringLiteral("DROP ROLE IF EXISTS %1").arg(role));
        }
    } dropRole{db, role};
    for (const QString& sql : setup)
        QVERIFY(db.exec(sql.arg(role, owner)));

    // Typed as the administrator may have written it in CREATE ROLE, which folds it.
    QString out;
    const int rc = runTool({"--upgrade", "--program-role", role.toUpper(), DbLab::pgConnectionString()}, &out);
    if (!accepted) {
        QVERIFY2(rc != 0 && out.contains(role), qPrintable(out));
        QCOMPARE(db.scalar("SELECT to_regclass('correction_journal') IS NULL").toBool(), true);
        return;
    }
    QVERIFY2(rc == 0, qPrintable(out));
    // Rights given by hand before are taken back by the next run; the triggers are made again.
    QVERIFY(db.exec(QStringLiteral("GRANT INSERT, DELETE ON results TO %1").arg(role)));
    QVERIFY(db.exec(QStringLiteral("GRANT UPDATE, DELETE, TRUNCATE ON correction_journal TO %1").arg(role)));
    QVERIFY(db.exec(QStringLiteral("GRANT DELETE ON bulletin_archive TO %1").arg(role)));
    QVERIFY2(runTool({"--upgrade", "--program-role", role, DbLab::pgConnectionString()}, &out) == 0, qPrintable(out));

    const ConnectionString cs = ConnectionString::parse(DbLab::pgConnectionString());
    const QString asRole = QStringLiteral("Provider=PostgreSQL;Server=%1;Port=%2;Database=%3;User ID=%4;Password=")
                               .arg(cs.value("server"), cs.value("port"), cs.value("database"), role);
    for (const QString& connection : {asRole, DbLab::pgConnectionString()}) {
        DatabaseConnection database;
        QVERIFY(database.open(connection));
        const JournalProtection protection = JournalProtection::check(&database);
        // The test server's owner of the tables is a superuser: nothing holds it back.
        QCOMPARE(protection.state(),
                 connection == asRole ? JournalProtection::State::Protected : JournalProtection::State::Unprotected);
        if (connection != asRole)
            QVERIFY2(protection.warning().startsWith("jurnalul nu este protejat: conectati statiile cu rolul "
                                                     "programului") &&
                         protection.roleGaps().value(0) == "superutilizator",
                     qPrintable(protection.warning()));
    }
    QVERIFY(db.exec("INSERT INTO signatories (userName, fullName, title) VALUES ('ana', 'Ana Pop', 'Dr.')"));

    {
        QSqlDatabase program = db.addConnection("program-role");
        program.setUserName(role);
        program.setPassword(QString());
        QVERIFY2(program.open(), qPrintable(program.lastError().text()));
        auto exec = [&program](const QString& sql, const QVariantList& values = {}) {
            QSqlQuery q(program);
            if (!q.prepare(sql))
                return false;
            for (const QVariant& v : values)
                q.addBindValue(v);
            return q.exec();
        };
        QVERIFY(exec("UPDATE results SET PacientName = 'Rex - Pop' WHERE ID = (SELECT MIN(ID) FROM results)"));
        // The correction is counted by the owner's trigger; the role itself can only read the counters.
        {
            QSqlQuery counted(program);
            QVERIFY(counted.exec("SELECT max(revision) FROM content_revisions WHERE RequestID <> ''") &&
                    counted.next());
            QVERIFY(counted.value(0).toLongLong() > 0);
        }
        QVERIFY(!exec("UPDATE content_revisions SET revision = revision + 1"));
        QVERIFY(!exec("INSERT INTO content_revisions (RequestID, TransDay, revision) VALUES ('x', 'y', 9)"));
        QVERIFY(exec("INSERT INTO correction_journal (resultID, RequestID, field, oldValue, newValue, changedAt, "
                     "userName, workstation) VALUES (1, '7', 'PacientName', 'Rex', 'Rex - Pop', "
                     "CAST(? AS timestamp), 'ana', 'lab1')",
                     {"2026-06-30 10:00:00"}));
        QVERIFY(exec("INSERT INTO bulletin_archive (resultID, RequestID, madeAt, userName, workstation, contentHash, "
                     "content) VALUES (1, '7', CAST(? AS timestamp), 'ana', 'lab1', ?, ?)",
                     {"2026-06-30 10:01:00", QString(64, QLatin1Char('0')), QByteArray("<html></html>")}));
        // A validation is written only through the server's function, which checks the signing
        // password; the passwords themselves cannot even be read.
        QVERIFY(!exec("INSERT INTO bulletin_validation (RequestID, resultIDs, contentHash, validatedAt, userName, "
                      "workstation, fullName, title) VALUES ('7', '1', ?, CAST(? AS timestamp), 'ana', 'lab1', 'Ana "
                      "Pop', 'Dr.')",
                      {QString(64, QLatin1Char('0')), "2026-06-30 10:01:00"}));
        QVERIFY(!exec("SELECT passwordHash FROM signatory_passwords"));
        QVERIFY(!exec("SELECT accepted FROM signing_attempts"));
        QVERIFY(!exec("INSERT INTO signing_attempts (userName, attemptedAt, accepted, workstation) VALUES ('ana', "
                      "now(), 1, 'lab1')"));
        auto validate = [&](const QString& password) {
            return exec(
                "SELECT labrosa_validate_bulletin('ana', ?, 'lab1', '7', '2026-06-30', '1', ?, ?, 'x', 1, 1, "
                "CAST(? AS timestamp), 'Ana Pop', 'Dr.')",
                {password, QString(64, QLatin1Char('0')), QString(64, QLatin1Char('0')), "2026-06-30 10:01:00"});
        };
        QVERIFY(exec("SELECT * FROM labrosa_set_signing_password('ana', '', 'parola-anei', 'lab1')"));
        QVERIFY(!validate("parola-gresita"));
        QVERIFY(validate("parola-anei"));
        // Who may validate is kept with the tool: the program only reads it.
        QVERIFY(exec("SELECT userName FROM signatories"));
        QVERIFY(!exec("INSERT INTO signatories (userName, fullName, title) VALUES ('ana', 'Ana Pop', 'Dr.')"));
        QVERIFY(!exec("UPDATE signatories SET active = 0"));
        QVERIFY(exec("INSERT INTO critical_notifications (RequestID, resultIDs, toldName, toldContact, toldAt, "
                     "recordedAt, userName, workstation) VALUES ('7', '1', 'Dr. Ionescu', '0722', CAST(? AS "
                     "timestamp), CAST(? AS timestamp), 'ana', 'lab1')",
                     {"2026-06-30 10:02:00", "2026-06-30 10:03:00"}));
        // So are the critical limits.
        QVERIFY(exec("SELECT criticalLow FROM critical_values"));
        QVERIFY(!exec("INSERT INTO critical_values (profileID, refcode, criticalHigh) VALUES (1, 'GLU', '500')"));
        for (const char* table :
             {"correction_journal", "bulletin_archive", "bulletin_validation", "critical_notifications"}) {
            QSqlQuery read(program);
            QVERIFY(read.exec(QStringLiteral("SELECT userName FROM %1").arg(table)) && read.next());
            QCOMPARE(read.value(0).toString(), QStringLiteral("ana"));
            QVERIFY(!exec(QStringLiteral("UPDATE %1 SET userName = 'altcineva'").arg(table)));
            QVERIFY(!exec(QStringLiteral("DELETE FROM %1").arg(table)));
            QVERIFY(!exec(QStringLiteral("TRUNCATE %1").arg(table)));
        }
        // A received result placed by hand may start a set; no set is ever removed.
        QVERIFY(!exec("DELETE FROM results"));
        QVERIFY(!exec("DELETE FROM result_values"));
        QVERIFY(exec("INSERT INTO results (RequestID, TransDate) VALUES ('8', CAST(? AS timestamp))",
                     {"2026-06-30 10:00:00"}));
        QVERIFY(exec("INSERT INTO result_values (resultID, MachineID, refcode, stringvalue) VALUES ((SELECT MAX(ID) "
                     "FROM results), 1, 'GLU', '90')"));
        QVERIFY(exec("INSERT INTO parameter_aliases (MachineID, code, refcode) VALUES (1, 'Glu', 'GLU') ON CONFLICT "
                     "(MachineID, code) DO UPDATE SET refcode = excluded.refcode"));
        QVERIFY(!exec("DELETE FROM unmatched_results"));
        program.close();
    }
    // Not even the tables' owner changes or removes a row.
    for (const char* table :
         {"correction_journal", "bulletin_archive", "bulletin_validation", "critical_notifications"}) {
        for (const QString& sql : {QStringLiteral("UPDATE %1 SET userName = 'altcineva'"),
                                   QStringLiteral("DELETE FROM %1"), QStringLiteral("TRUNCATE %1")}) {
            QSqlQuery q(db.admin());
            QVERIFY(!q.exec(sql.arg(table)));
            QVERIFY2(q.lastError().text().contains("kept as written"), qPrintable(q.lastError().text()));
        }
    }
    QVERIFY(db.exec("INSERT INTO signatories (userName, fullName, title) VALUES ('ion', 'Ion Pop', 'Dr.')"));
    QVERIFY(!db.exec("DELETE FROM signatories"));
    QVERIFY(!db.exec("TRUNCATE signatories"));
    QVERIFY(db.exec("UPDATE signatories SET active = 0"));
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM correction_journal WHERE userName = 'ana'").toInt(), 1);
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM bulletin_archive WHERE userName = 'ana'").toInt(), 1);
}

// A role that may not create pg_trgm still gets its database, with every other index; only
// the name index is left out, and the tool says why.
void TestDbTool::madeWithoutTrigramExtension() {
    if (DbLab::pgConnectionString().isEmpty())
        QSKIP("LABROSA_TEST_PG names no PostgreSQL test database");
    DbLab db(DbLab::Backend::PostgreSQL);
    QVERIFY(db.createEmpty());
    QVERIFY(db.exec("DROP EXTENSION IF EXISTS pg_trgm CASCADE"));
    const QString role = QStringLiteral("labrosa_plain_%1_%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(QRandomGenerator::global()->bounded(1000000));
    QVERIFY(db.exec(QStringLiteral("CREATE ROLE %1 LOGIN").arg(role)));
    struct DropRole {
        DbLab& db;
        QString role;
        ~DropRole() {
            db.exec(QStringLiteral("DROP OWNED BY %1").arg(role));
            db.exec(QStringLiteral("DROP ROLE IF EXISTS %1").arg(role));
        }
    } dropRole{db, role};
    // The role's tables go into a schema of its own, apart from the test's; it may not create
    // anything in the database itself, an extension included.
    QVERIFY(db.exec(QStringLiteral("CREATE SCHEMA %1 AUTHORIZATION %1").arg(role)));
    QVERIFY(db.exec(QStringLiteral("ALTER ROLE %1 SET search_path = %1").arg(role)));
    const ConnectionString cs = ConnectionString::parse(DbLab::pgConnectionString());
    const QString connection = QStringLiteral("Provider=PostgreSQL;Server=%1;Port=%2;Database=%3;User ID=%4;Password=")
                                   .arg(cs.value("server"), cs.value("port"), cs.value("database"), role);

    QString out;
    QVERIFY2(runTool({"--demo", "--results", "30", "--end-date", "2026-06-30", connection}, &out) == 0,
             qPrintable(out));
    QVERIFY2(out.contains("pg_trgm") && out.contains("postgresql-contrib"), qPrintable(out));
    QCOMPARE(db.scalar(QStringLiteral("SELECT COUNT(*) FROM %1.results").arg(role)).toInt(), 30);
    QCOMPARE(db.scalar(QStringLiteral("SELECT string_agg(indexname, ',' ORDER BY indexname) FROM pg_indexes WHERE "
                                      "schemaname = '%1' AND tablename = 'results'")
                           .arg(role))
                 .toString(),
             QStringLiteral("ix_results_patientkey,ix_results_requestid,ix_results_requestnumber,ix_results_transdate_"
                            "requestid,results_pkey"));
}

QTEST_GUILESS_MAIN(TestDbTool)
#include "tst_dbtool.moc"

void TestDbTool::upgradeRefusesDamagedOrFullDisk_data() {
    QTest::addColumn<QStringList>("command"); // the database comes last
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("said"); // what the message must name besides the file
    const QStringList upgrade{"--upgrade"};
    QTest::newRow("one page overwritten")
        << upgrade << "page" << QStringList{"deteriorata", "btreeInitPage", ".recover"};
    QTest::newRow("backup restored beside the live -wal")
        << upgrade << "wal" << QStringList{"deteriorata", "missing from index", "lab.db-wal", ".recover"};
    QTest::newRow("full disk") << upgrade << "full disk" << QStringList{"este plin", "Eliberati spatiu"};
    // The commands of their own refuse a damaged file alike.
    const QStringList signatory{"--signatory", "add", "ana", "Ana Pop", "Dr."};
    const QStringList critical{"--critical-limit", "set", "1", "WBC", "", "2", "30"};
    const QStringList delta{"--delta-limit", "set", "1", "WBC", "5", "-"};
    QTest::newRow("signatory, one page overwritten")
        << signatory << "page" << QStringList{"deteriorata", "btreeInitPage", ".recover"};
    QTest::newRow("signatory, backup restored beside the live -wal")
        << signatory << "wal" << QStringList{"deteriorata", "missing from index", "lab.db-wal", ".recover"};
    QTest::newRow("critical limit, one page overwritten")
        << critical << "page" << QStringList{"deteriorata", "btreeInitPage", ".recover"};
    QTest::newRow("critical limit, backup restored beside the live -wal")
        << critical << "wal" << QStringList{"deteriorata", "missing from index", "lab.db-wal", ".recover"};
    QTest::newRow("delta limit, one page overwritten")
        << delta << "page" << QStringList{"deteriorata", "btreeInitPage", ".recover"};
    QTest::newRow("delta limit, backup restored beside the live -wal")
        << delta << "wal" << QStringList{"deteriorata", "missing from index", "lab.db-wal", ".recover"};
}

// --upgrade writes nothing into a database that fails SQLite's integrity check, nor on a disk
// with no room left; it says why, what to do, and ends with a failure. --signatory,
// --critical-limit and --delta-limit refuse a damaged database the same way.
void TestDbTool::upgradeRefusesDamagedOrFullDisk() {
    QFETCH(QStringList, command);
    QFETCH(QString, fault);
    QFETCH(QStringList, said);
    TestLab lab;
    QVERIFY(lab.createDemo(300));
    QString file = lab.dbPath();
    std::unique_ptr<SmallDisk> disk;
    if (fault == "page") {
        QVERIFY(BrokenFiles::overwriteIndexPage(file, "IX_RESULT_VALUES_resultID"));
    } else if (fault == "wal") {
        QVERIFY(BrokenFiles::restoreBackupBesideLiveWal(file));
    } else {
        const QString folder = lab.filePath("disc");
        QVERIFY(QDir().mkpath(folder));
        disk = std::make_unique<SmallDisk>(folder, "2m");
        if (!disk->mounted())
            QSKIP(qPrintable(disk->problem()));
        file = QDir(folder).filePath("lab.db");
        QVERIFY(QFile::copy(lab.dbPath(), file));
        QVERIFY(disk->fill());
        said << QDir(folder).absolutePath();
    }
    const QByteArray before = fileBytes(file);
    const QByteArray walBefore = fileBytes(file + "-wal");

    QString out;
    QVERIFY(runTool(QStringList(command) << file, &out) != 0);
    QVERIFY2(out.startsWith("labrosa-dbtool: ") && out.contains(file), qPrintable(out));
    for (const QString& words : said)
        QVERIFY2(out.contains(words), qPrintable(out));
    QVERIFY(fileBytes(file) == before);
    QVERIFY(fileBytes(file + "-wal") == walBefore);
}
