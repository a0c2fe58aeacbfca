// The results search on a 200,000-set database: from the click on "Cauta" to the filled
// list, beside the bare SELECT stepped through on the same file.

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

#include "CAdoDatabase.h"
#include "CComboListCtrl.h"
#include "MessageBox.h"
#include "Sorvind.h"
#include "StructuraInterna.h"

namespace {

const int kResults = 200000;
const char* const kDbFile = "/tmp/labrosa-bench-200k-seed1.db";
const char* const kSelect = "SELECT ID, RequestID, PacientName, TransDate, Age, SEX, comment, profileID FROM RESULTS "
                            "WHERE (1=1) AND TransDate >= ? AND TransDate <= ? ORDER BY TransDate, RequestID";

struct Range {
    QDate from, to;
};
// The demo data ends on 30 June 2026 and spans 24 months.
const Range kDay{QDate(2026, 6, 15), QDate(2026, 6, 15)};
const Range kMonth{QDate(2026, 6, 1), QDate(2026, 6, 30)};
const Range kAll{QDate(2024, 7, 1), QDate(2026, 6, 30)};

bool EnsureDatabase() {
    if (QFileInfo::exists(kDbFile))
        return true;
    const QString partial = QString::fromLatin1(kDbFile) + ".part";
    QFile::remove(partial);
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral(LABROSA_DBTOOL), {"--demo", "--seed", "1", "--results", QString::number(kResults),
                                                "--end-date", "2026-06-30", "--months", "24", partial});
    if (!tool.waitForFinished(-1) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return false;
    return QFile::rename(partial, kDbFile);
}

struct Explorer {
    CAdoDatabase database;
    StructuraInterna structura;
    std::unique_ptr<Sorvind> view;
};
Explorer* g_explorer = nullptr;

void SearchRange(benchmark::State& state, Range range) {
    Sorvind* view = g_explorer->view.get();
    view->findChild<QDateEdit*>("dateStart")->setDate(range.from);
    view->findChild<QDateEdit*>("dateEnd")->setDate(range.to);
    auto* button = view->findChild<QPushButton*>("buttonSearch");
    for (auto _ : state) {
        button->click();
        QCoreApplication::processEvents();
    }
    state.counters["rows"] = view->resultList()->GetItemCount();
}

void BareQuery(benchmark::State& state, Range range) {
    QSqlDatabase db = QSqlDatabase::database("bench-bare");
    const QString from = range.from.toString("yyyy-MM-dd") + " 00:00:00";
    const QString to = range.to.toString("yyyy-MM-dd") + " 23:59:00";
    int rows = 0;
    for (auto _ : state) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(kSelect);
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
void RecordsetQuery(benchmark::State& state, Range range) {
    const QString from = range.from.toString("yyyy-MM-dd") + " 00:00:00";
    const QString to = range.to.toString("yyyy-MM-dd") + " 23:59:00";
    CAdoRecordset recordset;
    int rows = 0;
    for (auto _ : state) {
        if (!recordset.Open(kSelect, &g_explorer->database, {from, to})) {
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

} // namespace

BENCHMARK_CAPTURE(RecordsetQuery, all, kAll)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BareQuery, day, kDay)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SearchRange, day, kDay)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BareQuery, month, kMonth)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SearchRange, month, kMonth)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BareQuery, all, kAll)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(SearchRange, all, kAll)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    if (!EnsureDatabase()) {
        std::fprintf(stderr, "could not create %s with the database tool\n", kDbFile);
        return 1;
    }
    SetMessageBoxHook([](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    {
        QSqlDatabase bare = QSqlDatabase::addDatabase("QSQLITE", "bench-bare");
        // Opened as the program opens its database, so that only the list makes the difference.
        bare.setConnectOptions("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000");
        bare.setDatabaseName(QStringLiteral("file:%1?mode=rw").arg(kDbFile));
        if (!bare.open()) {
            std::fprintf(stderr, "cannot open %s\n", kDbFile);
            return 1;
        }
    }

    auto explorer = std::make_unique<Explorer>();
    g_explorer = explorer.get();
    if (!explorer->database.Open(QStringLiteral("Provider=SQLite;Data Source=%1").arg(kDbFile))) {
        std::fprintf(stderr, "cannot open %s: %s\n", kDbFile, qPrintable(explorer->database.szComError));
        return 1;
    }
    explorer->structura.m_pDatabase = &explorer->database;
    explorer->view = std::make_unique<Sorvind>(&explorer->structura);
    explorer->view->resize(1200, 800);
    explorer->view->show();
    explorer->view->OnInitialUpdate();

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    explorer.reset();
    QSqlDatabase::removeDatabase("bench-bare");
    return 0;
}
