// The import of 200,000 result sets with 13 values each into a fresh SQLite database, from a
// generated source through the same writer that labrosa-dbtool --import-mdb feeds from a Jet
// file: the time a laboratory waits for years of results to come over.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "DatabaseConnection.h"
#include "ImportSource.h"
#include "ResultImporter.h"

namespace {

const qint64 kSets = 200000;
const int kValuesPerSet = 13;

// Result sets and their values as a laboratory's file would hold them: one set every few
// minutes over the years, a name, an age, a sex, and 13 values of one analyser each.
class GeneratedSource : public ImportSource {
public:
    QStringList tables() const override { return {"RESULTS", "RESULT_VALUES"}; }
    QVector<SourceColumn> columns(const QString& table) const override {
        QVector<SourceColumn> out;
        const QStringList names = table == QLatin1String("RESULTS")
                                      ? QStringList{"ID",  "RequestID", "PacientName", "TransDate", "ProcDate",
                                                    "Age", "SEX",       "comment",     "profileID", "VSH"}
                                      : QStringList{"id", "resultID", "MachineID", "refcode", "stringvalue"};
        for (const QString& n : names)
            out << SourceColumn{n, QStringLiteral("text"), false};
        return out;
    }
    bool openTable(const QString& table, qint64* rows, QString*) override {
        m_values = table == QLatin1String("RESULT_VALUES");
        m_row = 0;
        m_rows = m_values ? kSets * kValuesPerSet : kSets;
        *rows = m_rows;
        return true;
    }
    bool nextRow(QVector<QVariant>* values, QString*) override {
        if (m_row >= m_rows)
            return false;
        const qint64 n = m_row++;
        if (m_values) {
            const qint64 set = n / kValuesPerSet + 1;
            const int code = int(n % kValuesPerSet);
            *values = {n + 1, set, qint64(1 + code % 3), QStringLiteral("P%1").arg(code),
                       QString::number(double((n * 37) % 1000) / 10.0)};
            return true;
        }
        const QDateTime at = QDateTime(QDate(2010, 1, 1), QTime(7, 0)).addSecs(n * 600);
        const QString when = at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        *values = {n + 1,
                   QString::number(100000 + n),
                   QStringLiteral("Pacient %1 Ionescu").arg(n % 5000),
                   when,
                   when,
                   qint64(n % 90),
                   n % 2 ? QStringLiteral("M") : QStringLiteral("F"),
                   n % 7 ? QVariant() : QVariant(QStringLiteral("hemoliza\nrepetat")),
                   qint64(1 + n % 4),
                   QString::number(n % 40)};
        return true;
    }

private:
    bool m_values = false;
    qint64 m_row = 0;
    qint64 m_rows = 0;
};

void importSqlite(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("lab.db"));
        QProcess tool;
        tool.start(QStringLiteral(LABROSA_DBTOOL), {QStringLiteral("--empty"), file});
        if (!tool.waitForFinished(-1) || tool.exitCode() != 0) {
            state.SkipWithError("the database tool could not create the database");
            return;
        }
        DatabaseConnection database;
        if (!database.open(QStringLiteral("Provider=SQLite;Data Source=%1").arg(file))) {
            state.SkipWithError("the database does not open");
            return;
        }
        GeneratedSource source;
        ImportSummary summary;
        QString error;
        state.ResumeTiming();
        if (!ResultImporter(database.connection()).run(source, ImportMapping(), ImportOptions(), &summary, &error)) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
        state.PauseTiming();
        state.counters["sets"] = double(summary.tables.value(0).targetRows);
        state.counters["values"] = double(summary.tables.value(1).targetRows);
        database.close();
        state.ResumeTiming();
    }
}
BENCHMARK(importSqlite)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
