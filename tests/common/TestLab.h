#pragma once

// A laboratory folder for one test: a fresh temporary directory holding lab.db made by the
// program's schema library, with the process's current directory switched into it (the
// program names all its files relative to the current directory).

#include "SchemaCreator.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestLab {
public:
    TestLab() : m_previousDir(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~TestLab() {
        if (!m_adminName.isEmpty()) {
            QSqlDatabase::database(m_adminName, false).close();
            QSqlDatabase::removeDatabase(m_adminName);
        }
        QDir::setCurrent(m_previousDir);
    }
    TestLab(const TestLab&) = delete;
    TestLab& operator=(const TestLab&) = delete;

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QString dbPath() const { return m_dir.filePath("lab.db"); }
    QString connectionString() const { return QStringLiteral("Provider=SQLite;Data Source=%1").arg(dbPath()); }

    static QString dbTool() { return QString::fromLocal8Bit(qgetenv("LABROSA_DBTOOL")); }

    // Runs the database tool itself with the given arguments followed by the database file.
    bool runTool(const QStringList& args, QString* output = nullptr) const {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(dbTool(), QStringList(args) << dbPath());
        if (!p.waitForFinished(600000))
            return false;
        if (output)
            *output = QString::fromUtf8(p.readAll());
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    // The schema with no rows, for tests that insert exactly the rows they need.
    bool createEmpty() const { return create(dbPath(), SchemaCreator::Options()); }
    bool createDemo(int results = 300, int seed = 7) const {
        return create(dbPath(), demoOptions(results, seed, QDate::currentDate()));
    }

    static SchemaCreator::Options demoOptions(int results, int seed, const QDate& endDate) {
        SchemaCreator::Options options;
        options.demo = true;
        options.demoOptions.results = results;
        options.demoOptions.seed = std::uint32_t(seed);
        options.demoOptions.endDate = endDate;
        return options;
    }
    // A new SQLite database made in-process, as the program makes one.
    static bool create(const QString& file, const SchemaCreator::Options& options) {
        SchemaCreator creator(options);
        if (creator.createSqlite(file))
            return true;
        qWarning().noquote() << "creating" << file << "failed:" << creator.error();
        return false;
    }

    // A connection of the test's own to the same file, for arranging and checking rows.
    QSqlDatabase admin() {
        if (m_adminName.isEmpty()) {
            m_adminName = QStringLiteral("testlab-admin-%1").arg(reinterpret_cast<quintptr>(this));
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", m_adminName);
            db.setDatabaseName(dbPath());
            db.open();
        }
        return QSqlDatabase::database(m_adminName);
    }
    // Runs one statement with bound values on the admin connection; fails the test on error.
    bool exec(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery q(admin());
        if (!q.prepare(sql)) {
            qWarning() << "prepare failed:" << sql << q.lastError().text();
            return false;
        }
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec()) {
            qWarning() << "exec failed:" << sql << q.lastError().text();
            return false;
        }
        return true;
    }
    QVariant scalar(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery q(admin());
        q.prepare(sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec() || !q.next())
            return QVariant();
        return q.value(0);
    }

private:
    QString m_previousDir;
    QTemporaryDir m_dir;
    QString m_adminName;
};
