// The results search on databases of 200,000 and 1,000,000 sets: from the click on "Cauta"
// to the filled and painted list ("search"), beside the same SELECT stepped through with Qt SQL
// on the program's own connection ("bare") and on the database library itself (SQLite, libpq)
// with each cell's text read ("native"). A table at the end gives each case's search time over both.
//
// Cases: one day, one month, the whole range, a part of a name over the whole range (a rare
// one and one of three letters), a request identifier. Runs on SQLite always and on
// PostgreSQL too when LABROSA_BENCH_PG (or else LABROSA_TEST_PG) holds a connection string;
// with LABROSA_TEST_PG the sets go into databases "labrosa_bench_200k" and "labrosa_bench_1m"
// beside the test database, so that the tests never wipe them. The databases are made once
// by the tool (SQLite into /tmp) and reused.
//
// Beside them, "history": the earlier values of one set (PatientHistory::setsOf, the set in the
// middle of the database) beside the bare query that picks its patient's candidate sets.
//
// LABROSA_BENCH_SQLITE names another SQLite copy of the 200,000 sets (for instance one with
// corrections in its journal), run as "file/sqlite". LABROSA_BENCH_SIZES=200k (or 1m) keeps
// one size. LABROSA_BENCH_PLAIN=1 adds a SQLite copy without the search's indexes and name
// shadow ("sqlite-plain"), as a database made before them is: what the indexes buy, in the
// same run.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDate>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include <sqlite3.h>
#include <unistd.h>
#ifdef LABROSA_BENCH_LIBPQ
#include <libpq-fe.h>
#endif

#include "ConnectionString.h"
#include "DatabaseConnection.h"
#include "EditableListView.h"
#include "MessageBox.h"
#include "OwnSettingsHome.h"
#include "PatientHistory.h"
#include "PostgresStatement.h"
#include "Recordset.h"
#include "ResultsWindow.h"
#include "SearchIndexes.h"
#include "SharedState.h"
#include "SqliteStatement.h"

namespace {

struct Size {
    int results;
    const char* label;
};
const Size kSizes[] = {{200000, "200k"}, {1000000, "1m"}};

struct Range {
    QDate from, to;
};
// The demo data ends on 30 June 2026 and spans 24 months.
const Range kDay{QDate(2026, 6, 15), QDate(2026, 6, 15)};
const Range kMonth{QDate(2026, 6, 1), QDate(2026, 6, 30)};
const Range kAll{QDate(2024, 7, 1), QDate(2026, 6, 30)};

struct Case {
    const char* name;
    Range range;
    const char* requestId;
    const char* namePart; // UTF-8
};
// "tanase oan" is one owner among about 800 (typed without the marks of "Tănase");
// "rex" is a dog's name, in about one set in thirty; "ion" is in one name of fourteen, here
// searched over one day.
const Case kCases[] = {
    {"day", kDay, "", ""},           {"month", kMonth, "", ""},
    {"all", kAll, "", ""},           {"name", kAll, "", "tanase oan"},
    {"name3", kAll, "", "rex"},      {"nameday", kDay, "", "ion"},
    {"request", kAll, "100000", ""},
};

// The search's own statement (as ResultsWindow builds it) for a case, its values in *values.
QString caseSql(const SqlDialect& dialect, const Case& c, QVariantList* values) {
    QString sql = QStringLiteral("SELECT ID, RequestID, PacientName, %1 AS TransDate, Age, SEX, comment, profileID "
                                 "FROM RESULTS WHERE (1=1)")
                      .arg(dialect.dayOf(QStringLiteral("TransDate")));
    if (*c.requestId) {
        sql += QStringLiteral(" AND ") + dialect.leadingNumberEquals(QStringLiteral("RESULTS.RequestID"));
        *values << dialect.leadingNumberValue(SqlDialect::canonicalLeadingNumber(QString::fromLatin1(c.requestId)));
    } else {
        const QString firstDay = c.range.from.toString(QStringLiteral("yyyy/M/d"));
        const QString lastDay = c.range.to.toString(QStringLiteral("yyyy/M/d"));
        sql += QStringLiteral(" AND ") +
               dialect.dayRangeCondition(QStringLiteral("RESULTS.TransDate"), firstDay, lastDay, values);
        if (*c.namePart)
            sql += QStringLiteral(" AND ") +
                   dialect.patientNameCondition(QString::fromUtf8(c.namePart), firstDay, lastDay, values);
    }
    return sql + QStringLiteral(" ORDER BY RESULTS.TransDate, RESULTS.RequestID");
}

bool runTool(const QStringList& args) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral(LABROSA_DBTOOL), args);
    return tool.waitForFinished(-1) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

QStringList demoArgs(const Size& size) {
    return {"--demo",     "--seed",     "1",        "--results", QString::number(size.results),
            "--end-date", "2026-06-30", "--months", "24"};
}

QString sqliteFile(const Size& size, bool plain) {
    return QStringLiteral("/tmp/labrosa-dbspeed-%1-seed1%2.db")
        .arg(QLatin1String(size.label), plain ? QStringLiteral("-plain") : QString());
}

bool runSqlite(const QString& file, const QStringList& statements) {
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-setup"));
        db.setDatabaseName(file);
        ok = db.open();
        for (const QString& sql : statements) {
            QSqlQuery q(db);
            if (ok && !q.exec(sql)) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(q.lastError().text()));
                ok = false;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-setup"));
    return ok;
}

bool hasIndex(const QString& file, const char* index) {
    bool found = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-index"));
        db.setDatabaseName(file);
        QSqlQuery q(db);
        found = db.open() &&
                q.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = '%1'").arg(QLatin1String(index))) &&
                q.next();
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-index"));
    return found;
}

bool ensureSqliteDatabase(const Size& size, bool plain) {
    const QString file = sqliteFile(size, plain);
    // A database made before the patient index gets it (and the rest of the indexes).
    if (QFileInfo::exists(file))
        return plain || hasIndex(file, "IX_RESULTS_PatientKey") || runTool({"--upgrade", file});
    const QString partial = file + QStringLiteral(".part");
    QFile::remove(partial);
    if (plain) {
        // A copy as a database made before the search's indexes: the day index alone.
        if (!ensureSqliteDatabase(size, false) || !QFile::copy(sqliteFile(size, false), partial) ||
            !runSqlite(partial, {"DROP TRIGGER RESULTS_NAME_SEARCH_insert", "DROP TRIGGER RESULTS_NAME_SEARCH_update",
                                 "DROP TRIGGER RESULTS_NAME_SEARCH_delete", "DROP TABLE RESULTS_NAME_SEARCH",
                                 "DROP INDEX IX_RESULTS_TransDate_RequestID", "DROP INDEX IX_RESULTS_RequestNumber",
                                 "DROP INDEX IF EXISTS IX_RESULTS_PatientKey",
                                 "CREATE INDEX IX_RESULTS_TransDate ON RESULTS (TransDate)", "DROP TABLE sqlite_stat1",
                                 "VACUUM"}))
            return false;
        return QFile::rename(partial, file);
    }
    QElapsedTimer timer;
    timer.start();
    if (!runTool(demoArgs(size) << partial) || !QFile::rename(partial, file))
        return false;
    std::fprintf(stderr, "made %s in %.1f s\n", qPrintable(file), timer.elapsed() / 1000.0);
    return true;
}

// A Qt connection to the PostgreSQL database a connection string names.
QSqlDatabase addPgConnection(const QString& name, const ConnectionString& cs, const QString& database) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(cs.value("server"));
    if (cs.contains("port"))
        db.setPort(cs.value("port").toInt());
    db.setDatabaseName(database);
    db.setUserName(cs.value("user id"));
    db.setPassword(cs.value("password"));
    return db;
}

// The PostgreSQL database of one size, filled once: a rerun finds the sets there (and brings
// the indexes up to date). Returns its connection string, empty when there is none to use.
QString ensurePgDatabase(const Size& size) {
    QString connection = qEnvironmentVariable("LABROSA_BENCH_PG");
    if (!connection.isEmpty()) {
        // A database holds one size: the size's label goes after the name given.
        const ConnectionString cs = ConnectionString::parse(connection);
        connection.replace(QStringLiteral("Database=%1").arg(cs.value("database")),
                           QStringLiteral("Database=%1_%2").arg(cs.value("database"), QLatin1String(size.label)));
    }
    const QString benchDatabase = QStringLiteral("labrosa_bench_%1").arg(QLatin1String(size.label));
    if (connection.isEmpty()) {
        const QString test = qEnvironmentVariable("LABROSA_TEST_PG");
        if (test.isEmpty())
            return QString();
        const ConnectionString cs = ConnectionString::parse(test);
        connection =
            QStringLiteral("Provider=PostgreSQL;Server=%1;Port=%2;Database=%3;User ID=%4;Password=%5")
                .arg(cs.value("server"), cs.value("port"), benchDatabase, cs.value("user id"), cs.value("password"));
    }
    const ConnectionString cs = ConnectionString::parse(connection);
    {
        QSqlDatabase db = addPgConnection("bench-create", cs, QStringLiteral("postgres"));
        if (!db.open()) {
            std::fprintf(stderr, "cannot reach %s: %s\n", qPrintable(connection), qPrintable(db.lastError().text()));
            return QString();
        }
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = '%1'").arg(cs.value("database")));
        if (!q.next() && !q.exec(QStringLiteral("CREATE DATABASE %1").arg(cs.value("database"))))
            std::fprintf(stderr, "cannot create %s: %s\n", qPrintable(cs.value("database")),
                         qPrintable(q.lastError().text()));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("bench-create");
    int sets = -1;
    bool indexed = false;
    {
        QSqlDatabase db = addPgConnection("bench-count", cs, cs.value("database"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec("SELECT COUNT(*) FROM RESULTS") && q.next())
                sets = q.value(0).toInt();
            indexed = q.exec("SELECT 1 FROM pg_indexes WHERE indexname = 'ix_results_patientkey'") && q.next();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("bench-count");
    if (sets != size.results) {
        std::fprintf(stderr, "filling %s with %d sets\n", qPrintable(cs.value("database")), size.results);
        QElapsedTimer timer;
        timer.start();
        if (!runTool(demoArgs(size) << "--force" << connection))
            return QString();
        std::fprintf(stderr, "filled in %.1f s\n", timer.elapsed() / 1000.0);
    } else if (!indexed && !runTool({"--upgrade", connection})) {
        return QString();
    }
    return connection;
}

struct Backend {
    QString name;
    DatabaseConnection database;
    SharedState sharedState;
    std::unique_ptr<ResultsWindow> view;
};
std::vector<std::unique_ptr<Backend>> g_backends;

void Search(benchmark::State& state, Backend* backend, const Case* c) {
    ResultsWindow* view = backend->view.get();
    view->findChild<QLineEdit*>("editRequestId")->setText(QString::fromLatin1(c->requestId));
    view->findChild<QLineEdit*>("editPatientName")->setText(QString::fromUtf8(c->namePart));
    view->findChild<QDateEdit*>("dateStart")->setDate(c->range.from);
    view->findChild<QDateEdit*>("dateEnd")->setDate(c->range.to);
    auto* button = view->findChild<QPushButton*>("buttonSearch");
    for (auto _ : state) {
        button->click();
        QCoreApplication::processEvents();
    }
    state.counters["rows"] = view->resultList()->getItemCount();
}

// The set whose earlier values are asked for, and its name and profile.
struct HistoryProbe {
    qint64 id = 0;
    QVariant name, profile;
};
HistoryProbe historyProbe(Backend* backend) {
    HistoryProbe probe;
    QSqlQuery query(backend->database.connection());
    if (query.exec(QStringLiteral("SELECT ID, PacientName, profileID FROM RESULTS WHERE ID = (SELECT MAX(ID) / 2 FROM "
                                  "RESULTS)")) &&
        query.next())
        probe = {query.value(0).toLongLong(), query.value(1), query.value(2)};
    return probe;
}

// The earlier values of a set as the Evolutie window and the bulletin ask for them.
void history(benchmark::State& state, Backend* backend, const Case*) {
    const HistoryProbe probe = historyProbe(backend);
    PatientHistory patientHistory(&backend->database);
    size_t sets = 0;
    for (auto _ : state) {
        const std::vector<HistorySet> found = patientHistory.setsOf(probe.id);
        if (found.empty()) {
            state.SkipWithError(patientHistory.errorText().toUtf8().constData());
            return;
        }
        sets = found.size();
    }
    state.counters["sets"] = double(sets);
}

// Its question for the candidate sets stepped through with Qt SQL alone.
void historyBare(benchmark::State& state, Backend* backend, const Case*) {
    const HistoryProbe probe = historyProbe(backend);
    const QString sql = PatientHistory::samePatientQuery(backend->database.dialect(), !probe.profile.isNull());
    int rows = 0;
    for (auto _ : state) {
        QSqlQuery query(backend->database.connection());
        query.setForwardOnly(true);
        query.prepare(sql);
        query.addBindValue(probe.name);
        if (!probe.profile.isNull())
            query.addBindValue(probe.profile);
        if (!query.exec()) {
            state.SkipWithError(query.lastError().text().toUtf8().constData());
            return;
        }
        rows = 0;
        while (query.next()) {
            for (int i = 0; i < 5; ++i)
                benchmark::DoNotOptimize(query.value(i));
            ++rows;
        }
    }
    state.counters["rows"] = rows;
}

// The search's SELECT stepped through with Qt SQL alone, every column read once.
void bare(benchmark::State& state, Backend* backend, const Case* c) {
    SqlDialect dialect = backend->database.dialect();
    dialect.setNameShadow(SearchIndexes::of(&backend->database).nameShadow);
    QVariantList values;
    const QString sql = caseSql(dialect, *c, &values);
    QSqlDatabase db = backend->database.connection();
    int rows = 0;
    for (auto _ : state) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
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

#ifdef LABROSA_BENCH_LIBPQ
// The same SELECT on libpq, its rows taken one by one as the server sends them.
void nativePostgres(benchmark::State& state, pg_conn* connection, const QString& sql, const QVariantList& values) {
    int count = 0;
    const QByteArray numbered = PostgresStatement::numberedPlaceholders(sql, &count);
    std::vector<QByteArray> texts;
    std::vector<const char*> pointers;
    for (const QVariant& value : values)
        texts.push_back(value.toString().toUtf8());
    for (const QByteArray& text : texts)
        pointers.push_back(text.constData());
    int rows = 0;
    for (auto _ : state) {
        if (!PQsendQueryParams(connection, numbered.constData(), int(pointers.size()), nullptr, pointers.data(),
                               nullptr, nullptr, 0) ||
            !PQsetSingleRowMode(connection)) {
            state.SkipWithError(PQerrorMessage(connection));
            return;
        }
        rows = 0;
        while (PGresult* result = PQgetResult(connection)) {
            if (PQresultStatus(result) == PGRES_SINGLE_TUPLE) {
                for (int i = 0; i < 8; ++i) {
                    benchmark::DoNotOptimize(PQgetvalue(result, 0, i));
                    benchmark::DoNotOptimize(PQgetlength(result, 0, i));
                }
                ++rows;
            } else if (PQresultStatus(result) != PGRES_TUPLES_OK) {
                state.SkipWithError(PQresultErrorMessage(result));
            }
            PQclear(result);
        }
    }
    state.counters["rows"] = rows;
}
#endif

// The same SELECT run on the database library itself (SQLite, or libpq), every cell's text
// read where the library keeps it: the least any reading of these rows can cost.
void native(benchmark::State& state, Backend* backend, const Case* c) {
    SqlDialect dialect = backend->database.dialect();
    dialect.setNameShadow(SearchIndexes::of(&backend->database).nameShadow);
    QVariantList values;
#ifdef LABROSA_BENCH_LIBPQ
    if (pg_conn* postgres = PostgresStatement::handleOf(backend->database.connection())) {
        const QString sql = caseSql(dialect, *c, &values);
        nativePostgres(state, postgres, sql, values);
        return;
    }
#endif
    const QByteArray sql = caseSql(dialect, *c, &values).toUtf8();
    sqlite3* connection = SqliteStatement::handleOf(backend->database.connection());
    int rows = 0;
    for (auto _ : state) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(connection, sql.constData(), int(sql.size()), &statement, nullptr) != SQLITE_OK) {
            state.SkipWithError(sqlite3_errmsg(connection));
            return;
        }
        for (int i = 0; i < values.size(); ++i) {
            if (values.at(i).typeId() == QMetaType::QString) {
                const QByteArray text = values.at(i).toString().toUtf8();
                sqlite3_bind_text(statement, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_int64(statement, i + 1, values.at(i).toLongLong());
            }
        }
        rows = 0;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            for (int i = 0; i < 8; ++i) {
                benchmark::DoNotOptimize(sqlite3_column_text(statement, i));
                benchmark::DoNotOptimize(sqlite3_column_bytes(statement, i));
            }
            ++rows;
        }
        sqlite3_finalize(statement);
    }
    state.counters["rows"] = rows;
}

// The same SELECT through the program's recordset as the search reads it, without the list:
// what the database layer adds.
void readThroughRecordset(benchmark::State& state, Backend* backend, const Case* c) {
    SqlDialect dialect = backend->database.dialect();
    dialect.setNameShadow(SearchIndexes::of(&backend->database).nameShadow);
    QVariantList values;
    const QString sql = caseSql(dialect, *c, &values);
    Recordset recordset;
    int rows = 0;
    for (auto _ : state) {
        if (!recordset.open(sql, &backend->database, values, Recordset::Reading::Texts)) {
            state.SkipWithError("the recordset did not open");
            return;
        }
        rows = 0;
        QAnyStringView text;
        for (; !recordset.isEOF(); recordset.moveNext()) {
            for (int i = 0; i < 8; ++i) {
                recordset.getFieldTextAt(i, &text);
                benchmark::DoNotOptimize(text);
            }
            ++rows;
        }
        recordset.close();
    }
    state.counters["rows"] = rows;
}

// How the database runs each case's statement, so that a sort of the whole result shows.
void printPlans(Backend* backend) {
    SqlDialect dialect = backend->database.dialect();
    dialect.setNameShadow(SearchIndexes::of(&backend->database).nameShadow);
    const bool postgres = dialect.kind() == SqlDialect::Kind::PostgreSQL;
    for (const Case& c : kCases) {
        QVariantList values;
        const QString sql = (postgres ? QStringLiteral("EXPLAIN ") : QStringLiteral("EXPLAIN QUERY PLAN ")) +
                            caseSql(dialect, c, &values);
        QSqlQuery query(backend->database.connection());
        bool ran = false;
        if (postgres) {
            // The server explains no prepared statement: the case's own values go into the text.
            QString text = sql;
            for (const QVariant& value : values) {
                const qsizetype at = text.indexOf(QLatin1Char('?'));
                text.replace(at, 1, QLatin1Char('\'') + value.toString().replace("'", "''") + QLatin1Char('\''));
            }
            ran = query.exec(text);
        } else {
            query.prepare(sql);
            for (const QVariant& value : values)
                query.addBindValue(value);
            ran = query.exec();
        }
        std::fprintf(stderr, "plan %s/%s:\n", qPrintable(backend->name), c.name);
        if (!ran) {
            std::fprintf(stderr, "  %s\n", qPrintable(query.lastError().text()));
            continue;
        }
        const int column = postgres ? 0 : 3;
        while (query.next())
            std::fprintf(stderr, "  %s\n", qPrintable(query.value(column).toString()));
    }
}

bool startBackend(const QString& name, const QString& connectionString) {
    auto backend = std::make_unique<Backend>();
    backend->name = name;
    if (!backend->database.open(connectionString)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(connectionString),
                     qPrintable(backend->database.m_comError));
        return false;
    }
    backend->sharedState.m_database = &backend->database;
    backend->view = std::make_unique<ResultsWindow>(&backend->sharedState);
    backend->view->resize(1200, 800);
    backend->view->show();
    backend->view->onInitialUpdate();
    printPlans(backend.get());

    Backend* b = backend.get();
    for (const Case& c : kCases) {
        const bool longRun = c.range.from == kAll.from && !*c.namePart && !*c.requestId;
        for (auto [what, fn] : {std::pair{"bare", bare}, std::pair{"native", native},
                                std::pair{"recordset", readThroughRecordset}, std::pair{"search", Search}}) {
            // The recordset's share is read where it is largest.
            if (fn == readThroughRecordset && !longRun)
                continue;
            if (fn == native && !SqliteStatement::handleOf(b->database.connection()) &&
                !PostgresStatement::handleOf(b->database.connection()))
                continue;
            const std::string title = std::string(c.name) + "/" + name.toStdString() + "/" + what;
            auto* bench = benchmark::RegisterBenchmark(title.c_str(), fn, b, &c);
            bench->Unit(benchmark::kMillisecond);
            if (longRun)
                bench->MinTime(2.0);
        }
    }
    for (auto [what, fn] : {std::pair{"bare", historyBare}, std::pair{"search", history}}) {
        const std::string title = "history/" + name.toStdString() + "/" + what;
        benchmark::RegisterBenchmark(title.c_str(), fn, b, nullptr)->Unit(benchmark::kMillisecond);
    }
    g_backends.push_back(std::move(backend));
    return true;
}

// The console's report, then each case's search time over its bare time (the medians when
// the runs were repeated, CPU time in brackets).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that a saved report reads plainly.
    RatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred)
                continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median)
                continue;
            const std::string name = run.run_name.function_name;
            const auto slash = name.rfind('/');
            const std::string key = name.substr(0, slash);
            if (m_times.find(key) == m_times.end())
                m_order.push_back(key);
            Times& times = m_times[key];
            const std::string what = name.substr(slash + 1);
            Measure& m = what == "bare"        ? times.bare
                         : what == "native"    ? times.native
                         : what == "recordset" ? times.recordset
                                               : times.search;
            // A median replaces the single runs it sums up.
            if (median || !m.median) {
                m.real = run.GetAdjustedRealTime();
                m.cpu = run.GetAdjustedCPUTime();
                m.median = median;
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-22s %9s %10s %12s %10s %11s %8s %13s\n", "case", "bare ms", "native ms", "recordset ms",
                    "search ms", "search/bare", "cpu", "search/native");
        for (const std::string& key : m_order) {
            const Times& t = m_times[key];
            if (t.bare.real <= 0 || t.search.real <= 0)
                continue;
            std::printf("%-22s %9.2f %10s %12s %10.2f %11.2f %8.2f %13s\n", key.c_str(), t.bare.real,
                        Optional(t.native.real).c_str(), Optional(t.recordset.real).c_str(), t.search.real,
                        t.search.real / t.bare.real, t.bare.cpu > 0 ? t.search.cpu / t.bare.cpu : 0.0,
                        t.native.real > 0 ? Optional(t.search.real / t.native.real).c_str() : "-");
        }
    }

private:
    struct Measure {
        double real = 0, cpu = 0;
        bool median = false;
    };
    struct Times {
        Measure bare, native, recordset, search;
    };
    static std::string Optional(double value) {
        char text[24] = "-";
        if (value > 0)
            std::snprintf(text, sizeof text, "%.2f", value);
        return text;
    }
    std::map<std::string, Times> m_times;
    std::vector<std::string> m_order;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const OwnSettingsHome settingsHome;
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    setMessageBoxHook([](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    const QStringList wanted = qEnvironmentVariable("LABROSA_BENCH_SIZES").split(QLatin1Char(','), Qt::SkipEmptyParts);
    const bool plain = qEnvironmentVariableIntValue("LABROSA_BENCH_PLAIN") != 0;
    const bool withPg =
        !qEnvironmentVariableIsEmpty("LABROSA_BENCH_PG") || !qEnvironmentVariableIsEmpty("LABROSA_TEST_PG");
    const QString otherFile = qEnvironmentVariable("LABROSA_BENCH_SQLITE");
    if (!otherFile.isEmpty() &&
        !startBackend(QStringLiteral("file/sqlite"), QStringLiteral("Provider=SQLite;Data Source=%1").arg(otherFile)))
        return 1;
    for (const Size& size : kSizes) {
        if (!wanted.isEmpty() && !wanted.contains(QLatin1String(size.label)))
            continue;
        const QString label = QLatin1String(size.label);
        for (bool p : {false, true}) {
            if (p && !plain)
                continue;
            if (!ensureSqliteDatabase(size, p)) {
                std::fprintf(stderr, "could not make %s with the database tool\n", qPrintable(sqliteFile(size, p)));
                return 1;
            }
            const QString name = label + (p ? QStringLiteral("/sqlite-plain") : QStringLiteral("/sqlite"));
            if (!startBackend(name, QStringLiteral("Provider=SQLite;Data Source=%1").arg(sqliteFile(size, p))))
                return 1;
        }
        if (withPg) {
            const QString pg = ensurePgDatabase(size);
            if (pg.isEmpty() || !startBackend(label + QStringLiteral("/postgresql"), pg)) {
                std::fprintf(stderr, "the PostgreSQL database could not be prepared\n");
                return 1;
            }
        }
    }

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    g_backends.clear();
    return 0;
}
