#pragma once

// A test database on the backend under test: a fresh SQLite file in a TestLab folder, or,
// when LABROSA_TEST_PG holds a connection string, the PostgreSQL database it names (its
// tables dropped and made again by the schema library for every test).

#include "ConnectionString.h"
#include "TestLab.h"

#include <QSqlRecord>
#include <QTest>

#include <memory>

#include <unistd.h>

class DbLab {
public:
    enum class Backend { SQLite, PostgreSQL };

    explicit DbLab(Backend backend) : m_backend(backend) {}
    ~DbLab() {
        if (!m_pgAdmin.isEmpty()) {
            QSqlDatabase::database(m_pgAdmin, false).close();
            QSqlDatabase::removeDatabase(m_pgAdmin);
        }
    }

    static QString pgConnectionString() { return QString::fromLocal8Bit(qgetenv("LABROSA_TEST_PG")); }

    // Qt Test global data: every test runs once per backend on offer.
    static void addBackends() {
        QTest::addColumn<int>("backend");
        QTest::newRow("sqlite") << int(Backend::SQLite);
        if (!pgConnectionString().isEmpty())
            QTest::newRow("postgresql") << int(Backend::PostgreSQL);
    }

    // The backend of the running test row (the global data that addBackends() made).
    static Backend current() {
        QFETCH_GLOBAL(int, backend);
        return Backend(backend);
    }

    Backend backend() const { return m_backend; }
    bool isPg() const { return m_backend == Backend::PostgreSQL; }
    TestLab& lab() { return m_lab; }
    QString driver() const { return isPg() ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"); }

    QString connectionString() const { return isPg() ? pgConnectionString() : m_lab.connectionString(); }

    bool createEmpty() const { return create(SchemaCreator::Options()); }
    bool createDemo(int results = 300, int seed = 7) const {
        return create(TestLab::demoOptions(results, seed, QDate(2026, 6, 30)));
    }
    // The database made in-process; on PostgreSQL the program's tables replace the earlier test's.
    bool create(SchemaCreator::Options options) const {
        if (!isPg())
            return TestLab::create(m_lab.dbPath(), options);
        options.force = true;
        SchemaCreator creator(options);
        if (creator.createPostgres(pgConnectionString()))
            return true;
        qWarning().noquote() << "creating the PostgreSQL test database failed:" << creator.error();
        return false;
    }

    QSqlDatabase admin() {
        if (!isPg())
            return m_lab.admin();
        if (m_pgAdmin.isEmpty()) {
            m_pgAdmin = QStringLiteral("dblab-pg-%1").arg(reinterpret_cast<quintptr>(this));
            QSqlDatabase db = addConnection(m_pgAdmin);
            if (!db.open())
                qWarning() << "admin connection failed:" << db.lastError().text();
            else
                QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO warning"));
        }
        return QSqlDatabase::database(m_pgAdmin);
    }
    // After the server came back: the admin connection opens anew.
    void reopenAdmin() {
        if (!isPg() || m_pgAdmin.isEmpty())
            return;
        QSqlDatabase db = QSqlDatabase::database(m_pgAdmin, false);
        db.close();
        if (db.open())
            QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO warning"));
    }
    // A further connection to the test database, not yet open, owned by the calling thread
    // (another program instance in a test); the caller removes it.
    QSqlDatabase addConnection(const QString& name) const {
        if (!isPg()) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(m_lab.dbPath());
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
            return db;
        }
        const ConnectionString cs = ConnectionString::parse(pgConnectionString());
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(cs.value("server"));
        if (cs.contains("port"))
            db.setPort(cs.value("port").toInt());
        db.setDatabaseName(cs.value("database"));
        db.setUserName(cs.value("user id"));
        db.setPassword(cs.value("password"));
        return db;
    }
    bool exec(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery q(admin());
        // PostgreSQL prepares only queries and data changes; a statement without values
        // (CREATE, DROP, ALTER) runs as it stands.
        if (values.isEmpty()) {
            if (!q.exec(sql)) {
                qWarning() << "exec failed:" << sql << q.lastError().text();
                return false;
            }
            return true;
        }
        if (!q.prepare(sql)) {
            qWarning() << "prepare failed:" << sql << q.lastError().text();
            return false;
        }
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, values.at(i));
        if (!q.exec()) {
            qWarning() << "exec failed:" << sql << q.lastError().text();
            return false;
        }
        return true;
    }
    QVariant scalar(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery q(admin());
        q.prepare(sql);
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, values.at(i));
        if (!q.exec() || !q.next())
            return QVariant();
        return q.value(0);
    }
    // A placeholder for a bound date text in the admin connection's statements.
    QString dateParameter() const { return isPg() ? QStringLiteral("CAST(? AS timestamp)") : QStringLiteral("?"); }

    // A trigger on RESULTS; body is a list of statements ending in ';' that may use NEW.
    // SQLite runs them inside the trigger; PostgreSQL through a plpgsql function.
    bool createTrigger(const QString& name, const QString& timing, const QString& body,
                       const QString& table = QStringLiteral("RESULTS")) {
        if (!isPg())
            return exec(
                QStringLiteral("CREATE TRIGGER %1 %2 ON %4 FOR EACH ROW BEGIN %3 END").arg(name, timing, body, table));
        return exec(QStringLiteral("CREATE OR REPLACE FUNCTION %1_fn() RETURNS trigger LANGUAGE plpgsql AS $body$ "
                                   "BEGIN %2 RETURN NEW; END $body$")
                        .arg(name, body)) &&
               exec(QStringLiteral("CREATE TRIGGER %1 %2 ON %3 FOR EACH ROW EXECUTE FUNCTION %1_fn()")
                        .arg(name, timing, table));
    }
    // A trigger that makes every UPDATE of RESULTS fail with the given text.
    bool refuseUpdates(const QString& text = QStringLiteral("read only")) {
        if (!isPg())
            return exec(QStringLiteral("CREATE TRIGGER results_read_only BEFORE UPDATE ON RESULTS "
                                       "BEGIN SELECT RAISE(ABORT, '%1'); END")
                            .arg(text));
        return createTrigger(QStringLiteral("results_read_only"), QStringLiteral("BEFORE UPDATE"),
                             QStringLiteral("RAISE EXCEPTION '%1';").arg(text));
    }
    // A table of the test's own, replacing one that an earlier test left in the PostgreSQL
    // database (the tool replaces only the program's tables).
    bool createTable(const QString& name, const QString& columns) {
        return exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(name)) &&
               exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(name, columns));
    }

    // Inserts one result set and gives its ID.
    int addResult(const QVariant& requestId, const QVariant& name, const QString& transDate, const QVariant& age = {},
                  const QVariant& sex = {}, const QVariant& comment = {}, const QVariant& profileId = {}) {
        const int id = scalar(QStringLiteral("SELECT COALESCE(MAX(ID), 0) + 1 FROM RESULTS")).toInt();
        const QString date = dateParameter();
        if (!exec(QStringLiteral("INSERT INTO RESULTS (ID, RequestID, PacientName, TransDate, ProcDate, Age, SEX, "
                                 "comment, profileID) VALUES (?, ?, ?, %1, %1, ?, ?, ?, ?)")
                      .arg(date),
                  {id, requestId, name, transDate, transDate, age, sex, comment, profileId}))
            return -1;
        return id;
    }

private:
    Backend m_backend;
    TestLab m_lab;
    QString m_pgAdmin;
};

// Stops and starts the test server that scripts/pg-test-server.sh made; starts it again on
// the way out whatever happened.
class PgServerControl {
public:
    PgServerControl()
        : m_bin(qEnvironmentVariable("LABROSA_PG_BIN")), m_data(qEnvironmentVariable("LABROSA_PG_DATA")),
          m_port(qEnvironmentVariable("LABROSA_PG_PORT")) {}
    ~PgServerControl() {
        if (m_stopped)
            start();
    }
    bool available() const { return !m_bin.isEmpty() && !m_data.isEmpty() && !m_port.isEmpty(); }
    bool stop() {
        m_stopped = pgCtl({"-D", m_data, "-m", "fast", "-w", "stop"});
        return m_stopped;
    }
    bool start() {
        const bool ok =
            pgCtl({"-D", m_data, "-w", "-l", m_data + "/server.log", "-o",
                   QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2").arg(m_port, m_data), "start"});
        if (ok)
            m_stopped = false;
        return ok;
    }

private:
    bool pgCtl(const QStringList& args) const {
        QProcess p;
        const QString pgctl = m_bin + "/pg_ctl";
        if (geteuid() == 0)
            p.start("runuser", QStringList{"-u", "postgres", "--", pgctl} + args);
        else
            p.start(pgctl, args);
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QString m_bin, m_data, m_port;
    bool m_stopped = false;
};

// Reads a whole file as bytes; empty when it is missing.
inline QByteArray fileBytes(const QString& name) {
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}
