// The results search on a 200,000-set database: from the click on "Cauta" to the filled
// list, beside the bare SELECT stepped through on the same database. Runs on SQLite always
// and on PostgreSQL too when LABROSA_BENCH_PG (or else LABROSA_TEST_PG) holds a connection
// string; with LABROSA_TEST_PG the sets go into a database "labrosa_bench" beside the test
// database, so that the tests never wipe them.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDate>
#include <QDateEdit>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "CAdoDatabase.h"
#include "CComboListCtrl.h"
#include "ConnectionString.h"
#include "MessageBox.h"
#include "Sorvind.h"
#include "StructuraInterna.h"

namespace {

const int kResults = 200000;
const char* const kDefaultDbFile = "/tmp/labrosa-bench-200k-seed1-journal.db";
// LABROSA_BENCH_SQLITE names another SQLite file of the same sets (e.g. one with corrections).
const QByteArray kDbFileName =
    qEnvironmentVariableIsEmpty("LABROSA_BENCH_SQLITE") ? QByteArray(kDefaultDbFile) : qgetenv("LABROSA_BENCH_SQLITE");
const char* const kDbFile = kDbFileName.constData();
const char* const kBenchDatabase = "labrosa_bench";
const char* const kSelect = "SELECT ID, RequestID, PacientName, TransDate, Age, SEX, comment, profileID FROM RESULTS "
                            "WHERE (1=1) AND TransDate >= %1 AND TransDate <= %1 ORDER BY TransDate, RequestID";

struct Range {
    QDate from, to;
};
// The demo data ends on 30 June 2026 and spans 24 months.
const Range kDay{QDate(2026, 6, 15), QDate(2026, 6, 15)};
const Range kMonth{QDate(2026, 6, 1), QDate(2026, 6, 30)};
const Range kAll{QDate(2024, 7, 1), QDate(2026, 6, 30)};

bool RunTool(const QStringList& args) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral(LABROSA_DBTOOL),
               QStringList{"--demo", "--seed", "1", "--results", QString::number(kResults), "--end-date", "2026-06-30",
                           "--months", "24"} +
                   args);
    return tool.waitForFinished(-1) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

bool EnsureSqliteDatabase() {
    if (QFileInfo::exists(kDbFile))
        return true;
    const QString partial = QString::fromLatin1(kDbFile) + ".part";
    QFile::remove(partial);
    return RunTool({partial}) && QFile::rename(partial, kDbFile);
}

// A Qt connection to the PostgreSQL database a connection string names.
QSqlDatabase AddPgConnection(const QString& name, const ConnectionString& cs, const QString& database) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(cs.value("server"));
    if (cs.contains("port"))
        db.setPort(cs.value("port").toInt());
    db.setDatabaseName(database);
    db.setUserName(cs.value("user id"));
    db.setPassword(cs.value("password"));
    return db;
}

// The PostgreSQL database of the benchmark, filled once: a rerun finds the sets there.
// Returns its connection string, empty when there is none to use.
QString EnsurePgDatabase() {
    QString connection = qEnvironmentVariable("LABROSA_BENCH_PG");
    if (connection.isEmpty()) {
        const QString test = qEnvironmentVariable("LABROSA_TEST_PG");
        if (test.isEmpty())
            return QString();
        const ConnectionString cs = ConnectionString::parse(test);
        {
            QSqlDatabase db = AddPgConnection("bench-create", cs, cs.value("database"));
            if (!db.open()) {
                std::fprintf(stderr, "cannot reach %s: %s\n", qPrintable(test), qPrintable(db.lastError().text()));
                return QString();
            }
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = '%1'").arg(kBenchDatabase));
            if (!q.next() && !q.exec(QStringLiteral("CREATE DATABASE %1").arg(kBenchDatabase)))
                std::fprintf(stderr, "cannot create %s: %s\n", kBenchDatabase, qPrintable(q.lastError().text()));
            q.finish();
            db.close();
        }
        QSqlDatabase::removeDatabase("bench-create");
        connection = QStringLiteral("Provider=PostgreSQL;Server=%1;Port=%2;Database=%3;User ID=%4;Password=%5")
                         .arg(cs.value("server"), cs.value("port"), QString::fromLatin1(kBenchDatabase),
                              cs.value("user id"), cs.value("password"));
    }
    const ConnectionString cs = ConnectionString::parse(connection);
    int sets = -1;
    {
        QSqlDatabase db = AddPgConnection("bench-count", cs, cs.value("database"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec("SELECT COUNT(*) FROM RESULTS") && q.next())
                sets = q.value(0).toInt();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("bench-count");
    if (sets != kResults) {
        std::fprintf(stderr, "filling %s with %d sets\n", qPrintable(cs.value("database")), kResults);
        if (!RunTool({"--force", connection}))
            return QString();
    }
    return connection;
}

struct Backend {
    QString name;
    QString bareConnection;
    QString dateParameter;
    CAdoDatabase database;
    StructuraInterna structura;
    std::unique_ptr<Sorvind> view;
};
std::vector<std::unique_ptr<Backend>> g_backends;

void SearchRange(benchmark::State& state, Backend* backend, Range range) {
    Sorvind* view = backend->view.get();
    view->findChild<QDateEdit*>("dateStart")->setDate(range.from);
    view->findChild<QDateEdit*>("dateEnd")->setDate(range.to);
    auto* button = view->findChild<QPushButton*>("buttonSearch");
    for (auto _ : state) {
        button->click();
        QCoreApplication::processEvents();
    }
    state.counters["rows"] = view->resultList()->GetItemCount();
}

void BareQuery(benchmark::State& state, Backend* backend, Range range) {
    QSqlDatabase db = QSqlDatabase::database(backend->bareConnection);
    const QString sql = QString::fromLatin1(kSelect).arg(backend->dateParameter);
    const QString from = range.from.toString("yyyy-MM-dd") + " 00:00:00";
    const QString to = range.to.toString("yyyy-MM-dd") + " 23:59:00";
    int rows = 0;
    for (auto _ : state) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(sql);
        query.addBindValue(from);
        query.addBindValue(to);
        if (!query.exec()) {
            state.SkipWithError(query.lastError().text().toUtf8().constData());
            return;
        }
        rows = 0;
        while (query.next()) {
            for (int i = 0; i < 8; ++i)
                benchmark::DoNotOptimize(query.value(i));
            ++rows;
        }
    }
    state.counters["rows"] = rows;
}

// The same SELECT through the program's recordset, without the list: what the database layer adds.
void RecordsetQuery(benchmark::State& state, Backend* backend, Range range) {
    const QString sql = QString::fromLatin1(kSelect).arg(backend->dateParameter);
    const QString from = range.from.toString("yyyy-MM-dd") + " 00:00:00";
    const QString to = range.to.toString("yyyy-MM-dd") + " 23:59:00";
    CAdoRecordset recordset;
    int rows = 0;
    for (auto _ : state) {
        if (!recordset.Open(sql, &backend->database, {from, to})) {
            state.SkipWithError("the recordset did not open");
            return;
        }
        rows = 0;
        QVariant value;
        for (; !recordset.IsEOF(); recordset.MoveNext()) {
            for (int i = 0; i < 8; ++i) {
                recordset.GetFieldValueAt(i, &value);
                benchmark::DoNotOptimize(value);
            }
            ++rows;
        }
        recordset.Close();
    }
    state.counters["rows"] = rows;
}

bool StartBackend(const QString& name, const QString& connectionString, QSqlDatabase bare) {
    if (!bare.open()) {
        std::fprintf(stderr, "cannot open the %s database: %s\n", qPrintable(name),
                     qPrintable(bare.lastError().text()));
        return false;
    }
    auto backend = std::make_unique<Backend>();
    backend->name = name;
    backend->bareConnection = bare.connectionName();
    if (!backend->database.Open(connectionString)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(connectionString),
                     qPrintable(backend->database.szComError));
        return false;
    }
    backend->dateParameter = backend->database.dialect().dateParameter();
    backend->structura.m_pDatabase = &backend->database;
    backend->view = std::make_unique<Sorvind>(&backend->structura);
    backend->view->resize(1200, 800);
    backend->view->show();
    backend->view->OnInitialUpdate();

    Backend* b = backend.get();
    const std::string suffix = "/" + name.toStdString();
    auto add = [&](const char* what, void (*fn)(benchmark::State&, Backend*, Range), const char* range, Range r,
                   bool long_run) {
        auto* bench = benchmark::RegisterBenchmark((std::string(what) + "/" + range + suffix).c_str(), fn, b, r);
        bench->Unit(benchmark::kMillisecond);
        if (long_run)
            bench->MinTime(2.0);
    };
    add("RecordsetQuery", RecordsetQuery, "all", kAll, true);
    add("BareQuery", BareQuery, "day", kDay, false);
    add("SearchRange", SearchRange, "day", kDay, false);
    add("BareQuery", BareQuery, "month", kMonth, false);
    add("SearchRange", SearchRange, "month", kMonth, false);
    add("BareQuery", BareQuery, "all", kAll, true);
    add("SearchRange", SearchRange, "all", kAll, true);
    g_backends.push_back(std::move(backend));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    if (!EnsureSqliteDatabase()) {
        std::fprintf(stderr, "could not create %s with the database tool\n", kDbFile);
        return 1;
    }
    SetMessageBoxHook([](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    {
        QSqlDatabase bare = QSqlDatabase::addDatabase("QSQLITE", "bench-bare-sqlite");
        // Opened as the program opens its database, so that only the list makes the difference.
        bare.setConnectOptions("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000");
        bare.setDatabaseName(QStringLiteral("file:%1?mode=rw").arg(kDbFile));
        if (!StartBackend("sqlite", QStringLiteral("Provider=SQLite;Data Source=%1").arg(kDbFile), bare))
            return 1;
    }
    const QString pg = EnsurePgDatabase();
    if (!pg.isEmpty()) {
        const ConnectionString cs = ConnectionString::parse(pg);
        if (!StartBackend("postgresql", pg, AddPgConnection("bench-bare-postgresql", cs, cs.value("database"))))
            return 1;
    } else if (!qEnvironmentVariableIsEmpty("LABROSA_BENCH_PG") || !qEnvironmentVariableIsEmpty("LABROSA_TEST_PG")) {
        std::fprintf(stderr, "the PostgreSQL database could not be prepared\n");
        return 1;
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    g_backends.clear();
    QSqlDatabase::removeDatabase("bench-bare-sqlite");
    QSqlDatabase::removeDatabase("bench-bare-postgresql");
    return 0;
}
