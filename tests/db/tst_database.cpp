#include "BrokenFiles.h"
#include "DatabaseConnection.h"
#include "DbLab.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"
#include "SqliteIntegrityCheck.h"

#include <QDir>
#include <QFileInfo>

#include <QRegularExpression>
#include <QtTest>

namespace {

QDateTime g_now;
QDateTime fixedClock() {
    return g_now;
}

const char kLog[] = "_database_err.log";

int countEntries(const QByteArray& log, const QByteArray& context) {
    return log.count(QByteArray("]->") + context + '\n');
}

} // namespace

class TestDatabase : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { DbLab::addBackends(); }
    void init() { g_now = QDateTime(QDate(2026, 2, 1), QTime(7, 3, 9)); }
    void cleanup() { DatabaseConnection::setLogClock(nullptr); }

    void failingExecuteWritesTwoEntries();
    void logPrefixHasNoPadding();
    void logAppendsAndKeepsOldContent();
    void nothingLoggedWithoutLogFile();
    void overlongTextsAreCut();
    void missingFileFailsAndCreatesNothing();
    void fileThatIsNoDatabaseFails();
    void unsupportedProvidersFail_data();
    void unsupportedProvidersFail();
    void connectionStringKeysIgnoreCase();
    void opensFilesWithAwkwardNames_data();
    void opensFilesWithAwkwardNames();
    void secondOpenDiscardsFirst();
    void closeAndExecuteWithoutConnection();
    void boundValuesStayPlainText_data();
    void boundValuesStayPlainText();
    void secondStatementIsNeverRun();
    void statementCount_data();
    void statementCount();
    void errorTextsFromQtErrors_data();
    void errorTextsFromQtErrors();
    void reconnectsOnceAfterServerRestart();
    void labSchemaCheckNamesWhatIsMissing_data();
    void labSchemaCheckNamesWhatIsMissing();
    void integrityCheckHoldsWrites_data();
    void integrityCheckHoldsWrites();

private:
    DbLab::Backend backend() {
        QFETCH_GLOBAL(int, backend);
        return DbLab::Backend(backend);
    }
};

void TestDatabase::failingExecuteWritesTwoEntries() {
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    DatabaseConnection::setLogClock(fixedClock);
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    QVERIFY(ado.m_opened);

    const QString sql = QStringLiteral("UPDATE NO_SUCH_TABLE SET x = 'Ștefănescu' WHERE id = 1");
    QVERIFY(!ado.execute(sql));

    // The COM error text: five lines, the statement failure code and the driver as source.
    const QStringList lines = ado.m_comError.split('\n');
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(0), QStringLiteral("Error"));
    QCOMPARE(lines.at(1), QStringLiteral("\tCode = 80040e14"));
    QCOMPARE(lines.at(2), QStringLiteral("\tCode meaning = IDispatch error #3092"));
    QCOMPARE(lines.at(3), QStringLiteral("\tSource = ") + db.driver());
    QVERIFY2(lines.at(4).startsWith("\tDescription = ") && lines.at(4).contains("no_such_table", Qt::CaseInsensitive),
             qPrintable(lines.at(4)));
    QCOMPARE(lines.at(5), QString());
    QVERIFY2(QRegularExpression("^\t Error number: [0-9a-f]+\t\\S").match(ado.m_providerError).hasMatch(),
             qPrintable(ado.m_providerError));

    // The log holds the failure entry, then one with exactly the statement, in UTF-8.
    const QByteArray expected = QByteArray("\n[2026.2.1 7.3.9]->CAdoDatabase::Execute\nComError: ") +
                                ado.m_comError.toUtf8() + "\nProviderError: " + ado.m_providerError.toUtf8() +
                                "\n[2026.2.1 7.3.9]->" + sql.toUtf8();
    QCOMPARE(fileBytes(kLog), expected);

    // With bound values the statement's entry ends with them, as they would be typed again.
    const QString update = QStringLiteral("UPDATE NO_SUCH_TABLE SET a = ?, b = ?, c = ? WHERE d = ?");
    QVERIFY(!ado.execute(update, {QStringLiteral("O'Brien - Ștefănescu"), 17, QVariant(), 2.5}));
    QVERIFY2(fileBytes(kLog).endsWith(QByteArray("ProviderError: ") + ado.m_providerError.toUtf8() +
                                      "\n[2026.2.1 7.3.9]->" + update.toUtf8() +
                                      "\nValues: 'O''Brien - Ștefănescu', 17, NULL, 2.5"),
             fileBytes(kLog).right(300).constData());
}

void TestDatabase::logPrefixHasNoPadding() {
    DbLab db(backend());
    DatabaseConnection::setLogClock(fixedClock);
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    g_now = QDateTime(QDate(2026, 12, 6), QTime(9, 5, 3));
    ado.writeLog("a");
    g_now = QDateTime(QDate(2026, 10, 16), QTime(23, 59, 59));
    ado.writeLog("b");
    ado.logError("ctx", "Error\n\tCode = 1\n", "");
    QCOMPARE(fileBytes(kLog),
             QByteArray("\n[2026.12.6 9.5.3]->a\n[2026.10.16 23.59.59]->b"
                        "\n[2026.10.16 23.59.59]->ctx\nComError: Error\n\tCode = 1\n\nProviderError: "));
}

void TestDatabase::logAppendsAndKeepsOldContent() {
    DbLab db(backend());
    {
        QFile f(kLog);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("earlier run");
    }
    DatabaseConnection::setLogClock(fixedClock);
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    ado.writeLog("one");
    // The file is closed between entries: another writer can append in between.
    {
        QFile f(kLog);
        QVERIFY(f.open(QIODevice::Append));
        f.write("|other|");
    }
    ado.writeLog("two");
    QCOMPARE(fileBytes(kLog), QByteArray("earlier run\n[2026.2.1 7.3.9]->one|other|\n[2026.2.1 7.3.9]->two"));

    // A log that cannot be opened drops the entry silently.
    DatabaseConnection lost;
    lost.setLogFile(db.lab().filePath("no/such/dir/x.log"));
    lost.writeLog("dropped");
    QVERIFY(!QFile::exists(db.lab().filePath("no/such/dir/x.log")));
}

void TestDatabase::nothingLoggedWithoutLogFile() {
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    const QStringList before = QDir(db.lab().path()).entryList(QDir::Files);
    {
        DatabaseConnection ado;
        QVERIFY(!ado.open("Provider=SQLite;Data Source=missing.db"));
        QVERIFY(!ado.openAccess("lab.mdb", "mirtal"));
        QVERIFY(ado.open(db.connectionString()));
        QVERIFY(!ado.execute("UPDATE NOPE SET a = 1"));
        Recordset rs;
        QVERIFY(!rs.open("SELECT nope FROM NOPE", &ado));
        QVERIFY(rs.open("SELECT ID FROM RESULTS", &ado));
        QVariant v;
        QVERIFY(!rs.getFieldValue("nope", &v));
        rs.close();
        QVERIFY(!ado.m_logEnabled);
    }
    QStringList after = QDir(db.lab().path()).entryList(QDir::Files);
    // SQLite's own companion files come and go with the connection; no log may appear.
    after.removeIf([](const QString& n) { return n.endsWith("-wal") || n.endsWith("-shm"); });
    QStringList beforeFiles = before;
    beforeFiles.removeIf([](const QString& n) { return n.endsWith("-wal") || n.endsWith("-shm"); });
    QCOMPARE(after, beforeFiles);
}

void TestDatabase::overlongTextsAreCut() {
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    const QString sql =
        QStringLiteral("UPDATE NO_SUCH_TABLE_") + QString(20000, QChar('x')) + QStringLiteral(" SET a=1");
    QVERIFY(!ado.execute(sql));
    QVERIFY(ado.m_comError.size() <= 999);
    QVERIFY(ado.m_providerError.size() <= 999);
    const QString log = QString::fromUtf8(fileBytes(kLog));
    const int second = log.indexOf("\n[", 1);
    QVERIFY(second > 0);
    QCOMPARE(log.size() - second, 10027);
    QVERIFY(sql.startsWith(log.mid(log.indexOf("]->", second) + 3)));
}

void TestDatabase::missingFileFailsAndCreatesNothing() {
    DbLab db(DbLab::Backend::SQLite);
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(!ado.open("Provider=SQLite;Data Source=lab.db"));
    QVERIFY(!ado.m_opened);
    QVERIFY(ado.m_comError.startsWith("Error\n\tCode = 80004005\n\tCode meaning = Unspecified error\n"
                                      "\tSource = QSQLITE\n\tDescription = "));
    QVERIFY(ado.m_comError.contains("lab.db"));
    QVERIFY(!QFile::exists("lab.db"));
    QVERIFY(!QFile::exists(db.lab().dbPath()));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoDatabase::Open"), 1);

    // The program's statements then fail instead of reaching an empty new database.
    QVERIFY(!ado.execute("UPDATE RESULTS SET comment = 'x'"));
    Recordset rs;
    QVERIFY(!rs.open("SELECT * FROM RESULTS", &ado));
    QVERIFY(!QFile::exists("lab.db"));
}

void TestDatabase::fileThatIsNoDatabaseFails() {
    DbLab db(DbLab::Backend::SQLite);
    {
        QFile f("lab.db");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'z'));
    }
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(!ado.open("Provider=SQLite;Data Source=lab.db"));
    QVERIFY(!ado.m_opened);
    QVERIFY(ado.m_comError.contains("Description = "));
    QVERIFY(!ado.m_comError.contains("Description = (null)"));
    QCOMPARE(fileBytes("lab.db"), QByteArray(4096, 'z'));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoDatabase::Open"), 1);
}

void TestDatabase::unsupportedProvidersFail_data() {
    QTest::addColumn<QString>("connection");
    QTest::newRow("jet") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=lab.mdb ;Mode=ReadWrite;Persist Security "
                            "Info=False;Jet OLEDB:Database Password=mirtal ;";
    QTest::newRow("sql server") << "PROVIDER=SQLOLEDB.1;server=srv;uid=u;pwd=p;database=lab";
    QTest::newRow("no provider") << "Data Source=lab.db";
    QTest::newRow("empty") << "";
    QTest::newRow("garbage") << ";;=;==x;";
    // A limit that is no number of seconds is refused, not taken for none.
    QTest::newRow("limit in words") << "Provider=SQLite;Data Source=lab.db;Busy Timeout=cinci";
    QTest::newRow("negative limit") << "Provider=PostgreSQL;Server=127.0.0.1;Lock Timeout=-1";
}

void TestDatabase::unsupportedProvidersFail() {
    QFETCH(QString, connection);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    ado.m_providerError = "earlier";
    QVERIFY(!ado.open(connection));
    QVERIFY(!ado.m_opened);
    QVERIFY(ado.m_comError.startsWith("Error\n\tCode = 80004005\n"));
    QVERIFY(!ado.m_comError.contains("Description = (null)"));
    QCOMPARE(ado.m_providerError, QStringLiteral("earlier")); // no connection object came into being
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoDatabase::Open"), 1);
}

void TestDatabase::connectionStringKeysIgnoreCase() {
    DbLab db(DbLab::Backend::SQLite);
    QVERIFY(db.createEmpty());
    DatabaseConnection ado;
    QVERIFY(ado.open("  provider = sqlite ;  DATA SOURCE =  lab.db  ; Extra=1; busy timeout = 0,5"));
    QCOMPARE(ado.limits().busyMs, 500);
    QVERIFY(ado.execute("INSERT INTO VET_PROFILES (id, profileName) VALUES (?, ?)", {1, "Caine"}));
    QCOMPARE(db.scalar("SELECT profileName FROM VET_PROFILES").toString(), QStringLiteral("Caine"));
    QCOMPARE(ado.dialect().kind(), SqlDialect::Kind::SQLite);

    // The Jet string that OpenAccess builds keeps the given names.
    QVERIFY(!ado.openAccess("lab.mdb", "mirtal"));
    QCOMPARE(ado.m_databaseName, QStringLiteral("lab.mdb"));
    QCOMPARE(ado.m_password, QStringLiteral("mirtal"));
    QVERIFY(!ado.openSqlServer("srv", "sa", "pw", "lab"));
    QCOMPARE(ado.m_server, QStringLiteral("srv"));
    QCOMPARE(ado.m_user, QStringLiteral("sa"));
}

void TestDatabase::opensFilesWithAwkwardNames_data() {
    QTest::addColumn<QString>("name");
    // How Data Source names the copy: %1 is its name, %2 the lab folder's absolute path.
    QTest::addColumn<QString>("dataSource");
    const QString asGiven = QStringLiteral("%1");
    QTest::newRow("space") << "my lab.db" << asGiven;
    QTest::newRow("hash") << "lab#1.db" << asGiven;
    QTest::newRow("question mark") << "lab?.db" << asGiven;
    QTest::newRow("percent") << "lab%20x.db" << asGiven;
    QTest::newRow("romanian") << "laborator-Ștefănești.db" << asGiven;
    QTest::newRow("leading double slash") << "copie.db" << QStringLiteral("/%2/%1");
}

void TestDatabase::opensFilesWithAwkwardNames() {
    QFETCH(QString, name);
    QFETCH(QString, dataSource);
    DbLab db(DbLab::Backend::SQLite);
    QVERIFY(db.createDemo(3));
    QVERIFY(QFile::copy("lab.db", name));
    const QStringList before = QDir().entryList(QDir::Files);
    DatabaseConnection ado;
    const QString source = dataSource.arg(name, QDir::currentPath());
    QVERIFY2(ado.open("Provider=SQLite;Data Source=" + source), qPrintable(ado.m_comError));
    QVERIFY(ado.execute("DELETE FROM RESULTS WHERE ID = ?", {1}));
    Recordset rs;
    QVERIFY(rs.open("SELECT COUNT(*) AS n FROM RESULTS", &ado));
    QVariant n;
    QVERIFY(rs.getFieldValue("n", &n));
    QCOMPARE(n.toInt(), 2);
    rs.close();
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM RESULTS").toInt(), 3); // the copy was changed, not lab.db
    ado.close();
    QStringList after = QDir().entryList(QDir::Files);
    after.removeIf([](const QString& f) { return f.endsWith("-wal") || f.endsWith("-shm"); });
    QStringList expected = before;
    expected.removeIf([](const QString& f) { return f.endsWith("-wal") || f.endsWith("-shm"); });
    QCOMPARE(after, expected);
}

void TestDatabase::secondOpenDiscardsFirst() {
    DbLab db(DbLab::Backend::SQLite);
    QVERIFY(db.createEmpty());
    QVERIFY(QFile::copy("lab.db", "other.db"));
    DatabaseConnection ado;
    QVERIFY(ado.open(db.connectionString()));
    const QString firstName = ado.connection().connectionName();
    QVERIFY(ado.open("Provider=SQLite;Data Source=other.db"));
    QVERIFY(ado.connection().connectionName() != firstName);
    QVERIFY(!QSqlDatabase::contains(firstName));
    QVERIFY(ado.execute("INSERT INTO VET_PROFILES (id, profileName) VALUES (1, 'x')"));
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM VET_PROFILES").toInt(), 0);

    // A failed second open leaves the object closed, the earlier connection gone.
    const QString secondName = ado.connection().connectionName();
    QVERIFY(!ado.open("Provider=SQLite;Data Source=gone.db"));
    QVERIFY(!ado.m_opened);
    QVERIFY(!QSqlDatabase::contains(secondName));

    // Two objects never share a connection.
    DatabaseConnection a, b;
    QVERIFY(a.open(db.connectionString()));
    QVERIFY(b.open(db.connectionString()));
    QVERIFY(a.connection().connectionName() != b.connection().connectionName());
}

void TestDatabase::closeAndExecuteWithoutConnection() {
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.close()); // never opened: nothing to do
    QVERIFY(!QFile::exists(kLog));

    QVERIFY(!ado.execute("UPDATE RESULTS SET comment = 'x'"));
    QVERIFY(ado.m_providerError.isEmpty());
    QVERIFY(ado.m_comError.startsWith("Error\n\tCode = "));
    QByteArray log = fileBytes(kLog);
    QCOMPARE(countEntries(log, "CAdoDatabase::Execute"), 1);
    QVERIFY(log.endsWith("]->UPDATE RESULTS SET comment = 'x'"));

    QVERIFY(ado.open(db.connectionString()));
    QVERIFY(ado.close());
    QVERIFY(!ado.m_opened);
    QVERIFY(ado.close());
    QVERIFY(!ado.execute("UPDATE RESULTS SET comment = 'y'"));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoDatabase::Execute"), 2);
}

void TestDatabase::boundValuesStayPlainText_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("drop table") << "x'); DROP TABLE RESULTS; --";
    QTest::newRow("quote") << "O'Brien - Rex";
    QTest::newRow("double quote") << "\"Rex\"";
    QTest::newRow("semicolon") << "a; b";
    QTest::newRow("keywords") << "1 OR 1=1";
    QTest::newRow("placeholder") << "? ?";
    QTest::newRow("romanian") << "Ștefănescu Ioana - Bobiță";
    QTest::newRow("backslash") << "C:\\lab\\x";
}

void TestDatabase::boundValuesStayPlainText() {
    QFETCH(QString, text);
    DbLab db(backend());
    QVERIFY(db.createDemo(40));
    const int before = db.scalar("SELECT COUNT(*) FROM RESULTS").toInt();
    const QString othersSql = "SELECT COUNT(*) FROM RESULTS WHERE ID <> 3 AND PacientName = ?";
    const QString name3 = db.scalar("SELECT PacientName FROM RESULTS WHERE ID = 4").toString();
    const int sameAs4 = db.scalar(othersSql, {name3}).toInt();

    DatabaseConnection ado;
    QVERIFY(ado.open(db.connectionString()));
    QVERIFY(ado.execute("UPDATE RESULTS SET PacientName = ? WHERE ID = ?", {text, 3}));
    QCOMPARE(db.scalar("SELECT PacientName FROM RESULTS WHERE ID = 3").toString(), text);
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM RESULTS").toInt(), before);
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM RESULTS WHERE PacientName = ?", {text}).toInt(), 1);
    QCOMPARE(db.scalar(othersSql, {name3}).toInt(), sameAs4);
}

void TestDatabase::secondStatementIsNeverRun() {
    DbLab db(backend());
    QVERIFY(db.createDemo(20));
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    const QString sql = "UPDATE RESULTS SET comment = ? WHERE ID = 1; DELETE FROM RESULTS";
    QVERIFY(!ado.execute(sql, {"x"}));
    QVERIFY(ado.m_comError.contains("one SQL statement"));
    Recordset rs;
    QVERIFY(!rs.open("SELECT ID FROM RESULTS; DELETE FROM RESULTS", &ado));
    QCOMPARE(db.scalar("SELECT COUNT(*) FROM RESULTS").toInt(), 20);
    QVERIFY(db.scalar("SELECT comment FROM RESULTS WHERE ID = 1").toString() != QStringLiteral("x"));
    // A trailing semicolon and semicolons inside texts are still one statement.
    QVERIFY(ado.execute("UPDATE RESULTS SET comment = 'a; b' WHERE ID = 1;"));
    QCOMPARE(db.scalar("SELECT comment FROM RESULTS WHERE ID = 1").toString(), QStringLiteral("a; b"));
}

void TestDatabase::statementCount_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("several");
    QTest::newRow("one") << "SELECT 1" << false;
    QTest::newRow("trailing semicolons") << "SELECT 1 ; ; " << false;
    QTest::newRow("two") << "SELECT 1; SELECT 2" << true;
    QTest::newRow("in text") << "SELECT 'a;b'" << false;
    QTest::newRow("in doubled quotes") << "SELECT 'it''s; ok'" << false;
    QTest::newRow("after doubled quotes") << "SELECT 'it''s'; DROP TABLE RESULTS" << true;
    QTest::newRow("in identifier") << "SELECT \"a;b\" FROM t" << false;
    QTest::newRow("in line comment") << "-- x; y\nSELECT 1" << false;
    QTest::newRow("in block comment") << "/* ; */ SELECT 1" << false;
    QTest::newRow("unclosed text") << "SELECT 'a; b" << false;
}

void TestDatabase::statementCount() {
    QFETCH(QString, sql);
    QFETCH(bool, several);
    QCOMPARE(holdsSeveralStatements(sql), several);
}

void TestDatabase::errorTextsFromQtErrors_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("codeLines");
    QTest::newRow("connection") << int(QSqlError::ConnectionError)
                                << "\tCode = 80004005\n\tCode meaning = Unspecified error\n";
    QTest::newRow("statement") << int(QSqlError::StatementError)
                               << "\tCode = 80040e14\n\tCode meaning = IDispatch error #3092\n";
    QTest::newRow("transaction") << int(QSqlError::TransactionError)
                                 << "\tCode = 8000ffff\n\tCode meaning = Catastrophic failure\n";
    QTest::newRow("unknown") << int(QSqlError::UnknownError)
                             << "\tCode = 80004005\n\tCode meaning = Unspecified error\n";
}

void TestDatabase::errorTextsFromQtErrors() {
    QFETCH(int, type);
    QFETCH(QString, codeLines);
    // Without texts: "(null)" for source and description, no provider line.
    const QSqlError bare{QString(), QString(), QSqlError::ErrorType(type)};
    QCOMPARE(formatComError(bare, QString()),
             QStringLiteral("Error\n") + codeLines + "\tSource = (null)\n\tDescription = (null)\n");
    QCOMPARE(getProviderErrors(bare), QString());

    const QSqlError full("driver says", "database says 100%", QSqlError::ErrorType(type), "19");
    QCOMPARE(formatComError(full, "QSQLITE"),
             QStringLiteral("Error\n") + codeLines + "\tSource = QSQLITE\n\tDescription = database says 100%\n");
    QCOMPARE(getProviderErrors(full), QStringLiteral("\t Error number: 13\tdriver says"));
    // A PostgreSQL state code that is not a number stays readable.
    const QSqlError pg("relation missing", "x", QSqlError::ErrorType(type), "42P01");
    QCOMPARE(getProviderErrors(pg), QStringLiteral("\t Error number: 0\trelation missing (42P01)"));
}

void TestDatabase::reconnectsOnceAfterServerRestart() {
    DbLab db(backend());
    if (!db.isPg())
        QSKIP("only a database server can go away");
    PgServerControl server;
    if (!server.available())
        QSKIP("LABROSA_PG_BIN, LABROSA_PG_DATA and LABROSA_PG_PORT are needed to restart the server");
    QVERIFY(db.createDemo(10));
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    const QString update = "UPDATE RESULTS SET comment = ? WHERE ID = ?";
    QVERIFY(ado.execute(update, {"before", 1}));

    auto commentOf = [&ado](int id) {
        Recordset rs;
        QVariant v;
        if (!rs.open("SELECT comment FROM RESULTS WHERE ID = ?", &ado, {id}) || !rs.getFieldValue("comment", &v))
            return QStringLiteral("<failed>");
        rs.close();
        return v.toString();
    };

    // The server restarts between two statements: the next one reconnects and runs.
    QVERIFY(server.stop());
    QVERIFY(server.start());
    QVERIFY2(ado.execute(update, {"after restart", 1}), qPrintable(ado.m_comError));
    QVERIFY(!QFile::exists(kLog));
    QVERIFY(server.stop());
    QVERIFY(server.start());
    QCOMPARE(commentOf(1), QStringLiteral("after restart"));

    // While the server is away every action fails once, cleanly, and is logged.
    QVERIFY(server.stop());
    QVERIFY(!ado.execute(update, {"while away", 2}));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoDatabase::Execute"), 1);
    Recordset rs;
    QVERIFY(!rs.open("SELECT ID FROM RESULTS", &ado));
    QVERIFY(!rs.m_providerError.isEmpty() || !rs.m_comError.isEmpty());
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::Open"), 1);

    // Back again: the next action opens the connection anew.
    QVERIFY(server.start());
    QVERIFY2(ado.execute(update, {"back", 2}), qPrintable(ado.m_comError));
    QCOMPARE(commentOf(2), QStringLiteral("back"));
    QVERIFY(ado.m_opened);

    // A restart inside a transaction: its next statement fails, and the rollback finds the
    // connection gone (Qt may have closed it already), so the next action opens it anew.
    const QString stored = commentOf(3);
    QVERIFY(stored != QStringLiteral("<failed>"));
    QVERIFY(ado.beginTransaction());
    QVERIFY(ado.execute(update, {"not committed", 3}));
    QVERIFY(server.stop());
    QVERIFY(server.start());
    QVERIFY(!ado.execute(update, {"lost", 3}));
    ado.rollbackTransaction();
    QVERIFY(ado.connectionLost());
    QCOMPARE(commentOf(3), stored);
    QVERIFY(!ado.connectionLost());
}

void TestDatabase::labSchemaCheckNamesWhatIsMissing_data() {
    QTest::addColumn<QString>("dropped"); // the object taken out of the laboratory schema
    QTest::addColumn<QString>("missing"); // what the check names
    QTest::newRow("complete") << QString() << QString();
    QTest::newRow("no results view") << "VIEW vResults2_vet"
                                     << "vResults2_vet";
    QTest::newRow("no profiles") << "TABLE VET_PROFILES"
                                 << "VET_PROFILES";
    QTest::newRow("no results") << "TABLE RESULTS"
                                << "RESULTS";
}

void TestDatabase::labSchemaCheckNamesWhatIsMissing() {
    QFETCH(QString, dropped);
    QFETCH(QString, missing);
    DbLab db(backend());
    QVERIFY(db.createEmpty());
    // PostgreSQL drops what depends on the object with it (the view); SQLite leaves it broken.
    if (!dropped.isEmpty())
        QVERIFY(db.exec("DROP " + dropped + (db.isPg() ? " CASCADE" : "")));
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY(ado.open(db.connectionString()));
    const LabSchemaCheck check = LabSchemaCheck::run(&ado);
    QCOMPARE(check.ok, missing.isEmpty());
    QCOMPARE(check.object, missing);
    QVERIFY2(check.reason.contains(missing, Qt::CaseInsensitive), qPrintable(check.reason));
    QCOMPARE(countEntries(fileBytes(kLog), "CAdoRecordset::Open"), missing.isEmpty() ? 0 : 1);
    // The connection stays usable after a failed probe.
    Recordset rs;
    QVERIFY(rs.open("SELECT COUNT(*) AS n FROM ANALYSERS", &ado));
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"

void TestDatabase::integrityCheckHoldsWrites_data() {
    QTest::addColumn<QString>("damage");
    QTest::newRow("sound file") << QString();
    QTest::newRow("one page overwritten") << "page";
    QTest::newRow("backup restored beside the live -wal") << "wal";
    QTest::newRow("backup restored beside the live -journal") << "journal";
}

// A write waits for the integrity check of the file: a sound file takes it, a damaged one refuses
// it (and every later one) with the reason, and closes without its -wal copied into it.
void TestDatabase::integrityCheckHoldsWrites() {
    QFETCH(QString, damage);
    DbLab db(backend());
    if (db.isPg())
        QSKIP("A PostgreSQL server checks its own files");
    QVERIFY(db.createDemo(300));
    const QString file = QFileInfo(db.lab().dbPath()).absoluteFilePath();
    if (damage == "page")
        QVERIFY(BrokenFiles::overwriteIndexPage(file, "IX_RESULT_VALUES_resultID"));
    else if (damage == "wal")
        QVERIFY(BrokenFiles::restoreBackupBesideLiveWal(file));
    else if (damage == "journal")
        QVERIFY(BrokenFiles::restoreBackupBesideLiveJournal(file));

    // Made before the open, which applies the -wal or the -journal.
    const std::shared_ptr<SqliteIntegrityCheck> check = SqliteIntegrityCheck::forConnection(db.connectionString());
    QVERIFY(check);
    DatabaseConnection ado;
    ado.setLogFile(kLog);
    QVERIFY2(ado.open(db.connectionString()), qPrintable(ado.errorText()));
    const QByteArray before = fileBytes(file);
    const QByteArray walBefore = fileBytes(file + "-wal");
    check->start();
    ado.setIntegrityCheck(check);
    // Most likely issued while the check still runs: it waits for the result, neither failing
    // for want of it nor slipping through.
    const bool written = ado.execute("UPDATE RESULTS SET comment = ? WHERE ID = ?", {"verificat", 2});
    if (damage.isEmpty()) {
        QVERIFY2(written, qPrintable(ado.errorText()));
        QVERIFY(check->passed());
        QVERIFY(ado.beginTransaction());
        ado.rollbackTransaction();
        return;
    }
    QVERIFY(!written);
    QCOMPARE(check->state(), SqliteIntegrityCheck::State::Damaged);
    QVERIFY(!check->findings().isEmpty());
    const QString reason = ado.errorText();
    QVERIFY2(reason.contains(file) && reason.contains("integrity check") && reason.contains(check->findings().first()),
             qPrintable(reason));
    QCOMPARE(reason.contains(file + "-wal"), damage == "wal");
    QCOMPARE(reason.contains(file + "-journal"), damage == "journal");
    QCOMPARE(check->leftovers(), damage == "page" ? QStringList() : QStringList{file + "-" + damage});
    QVERIFY(!ado.beginTransaction());
    QVERIFY(!ado.inTransaction());
    // The log keeps the refused statement with its values, to be typed again.
    QVERIFY(fileBytes(kLog).contains("Values: 'verificat', 2"));

    QVERIFY(SqliteIntegrityCheck::keepWalOnClose(ado.connection()));
    ado.close();
    QVERIFY(fileBytes(file) == before);
    QVERIFY(fileBytes(file + "-wal") == walBefore);
}
