#pragma once

// A test database on the backend under test: a fresh SQLite file in a TestLab folder, or,
// when LABROSA_TEST_PG holds a connection string, the PostgreSQL database it names (its
// tables dropped and made again by the tool for every test).

#include "ConnectionString.h"
#include "TestLab.h"

#include <QSqlRecord>
#include <QTest>

#include <memory>

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

    Backend backend() const { return m_backend; }
    bool isPg() const { return m_backend == Backend::PostgreSQL; }
    TestLab& lab() { return m_lab; }
    QString driver() const { return isPg() ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"); }

    QString connectionString() const { return isPg() ? pgConnectionString() : m_lab.connectionString(); }

    bool runTool(const QStringList& args, QString* output = nullptr) const {
        if (!isPg())
            return m_lab.runTool(args, output);
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(TestLab::dbTool(), QStringList(args) << QStringLiteral("--force") << pgConnectionString());
        if (!p.waitForFinished(600000))
            return false;
        const QString text = QString::fromUtf8(p.readAll());
        if (output)
            *output = text;
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            qWarning().noquote() << text;
            return false;
        }
        return true;
    }
    bool createEmpty() const { return runTool({"--empty"}); }
    bool createDemo(int results = 300, int seed = 7) const {
        return runTool({"--demo", "--seed", QString::number(seed), "--results", QString::number(results), "--end-date",
                        "2026-06-30"});
    }

    QSqlDatabase admin() {
        if (!isPg())
            return m_lab.admin();
        if (m_pgAdmin.isEmpty()) {
            m_pgAdmin = QStringLiteral("dblab-pg-%1").arg(reinterpret_cast<quintptr>(this));
            const ConnectionString cs = ConnectionString::parse(pgConnectionString());
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_pgAdmin);
            db.setHostName(cs.value("server"));
            if (cs.contains("port"))
                db.setPort(cs.value("port").toInt());
            db.setDatabaseName(cs.value("database"));
            db.setUserName(cs.value("user id"));
            db.setPassword(cs.value("password"));
            if (!db.open())
                qWarning() << "admin connection failed:" << db.lastError().text();
        }
        return QSqlDatabase::database(m_pgAdmin);
    }
    bool exec(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery q(admin());
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
    // Inserts one result set and gives its ID.
    int addResult(const QVariant& requestId, const QVariant& name, const QString& transDate, const QVariant& age = {},
                  const QVariant& sex = {}, const QVariant& comment = {}, const QVariant& profileId = {}) {
        const int id = scalar(QStringLiteral("SELECT COALESCE(MAX(ID), 0) + 1 FROM RESULTS")).toInt();
        const QString date = isPg() ? QStringLiteral("CAST(? AS timestamp)") : QStringLiteral("?");
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

// Reads a whole file as bytes; empty when it is missing.
inline QByteArray fileBytes(const QString& name) {
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}
