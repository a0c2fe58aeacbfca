// The program's backup of the 1,000,000-set file beside sqlite3's own .backup of the same file,
// in the same run: the copy itself (SQLite's backup API on a read snapshot, synced), and the whole
// backup with its integrity check, SHA-256 and manifest. The file is
// /tmp/labrosa-dbspeed-1m-seed1.db (LABROSA_BENCH_1M names another); it is never written: both
// copies are made from a copy of it in a folder of the benchmark's own.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "DatabaseBackup.h"

namespace {

const char* const kDefaultDbFile = "/tmp/labrosa-dbspeed-1m-seed1.db";

struct Source {
    QTemporaryDir dir;
    QString file;
    bool ready = false;
};

Source& source() {
    static Source made;
    if (!made.ready && made.dir.isValid()) {
        const QString named = qEnvironmentVariable("LABROSA_BENCH_1M", QString::fromLatin1(kDefaultDbFile));
        made.file = made.dir.filePath(QStringLiteral("lab.db"));
        made.ready = QFile::copy(named, made.file);
        if (!made.ready)
            std::fprintf(stderr, "bench_backup: cannot copy %s\n", named.toLocal8Bit().constData());
    }
    return made;
}

void sqlite3Backup(benchmark::State& state) {
    Source& from = source();
    if (!from.ready) {
        state.SkipWithError("no 1,000,000-set file");
        return;
    }
    for (auto _ : state) {
        const QString target = from.dir.filePath(QStringLiteral("sqlite3-copy.db"));
        QFile::remove(target);
        QElapsedTimer timer;
        timer.start();
        QProcess sqlite;
        sqlite.start(QStringLiteral("sqlite3"), {from.file, QStringLiteral(".backup '%1'").arg(target)});
        if (!sqlite.waitForFinished(600000) || sqlite.exitCode() != 0) {
            state.SkipWithError("sqlite3 .backup failed");
            return;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        QFile::remove(target);
    }
}

void labrosaBackup(benchmark::State& state) {
    Source& from = source();
    if (!from.ready) {
        state.SkipWithError("no 1,000,000-set file");
        return;
    }
    const QString destination = from.dir.filePath(QStringLiteral("copii"));
    double whole = 0;
    for (auto _ : state) {
        QDir(destination).removeRecursively();
        DatabaseBackup backup(QStringLiteral("Provider=SQLite;Data Source=%1").arg(from.file), QString());
        QElapsedTimer timer;
        qint64 copied = 0;
        // The copy ends with the last page written; the check, the hash and the manifest follow.
        backup.setProgress([&](qint64 done, qint64 total) {
            if (done == total)
                copied = timer.nsecsElapsed();
        });
        BackupResult result;
        QString error;
        timer.start();
        if (!backup.make(destination, true, BackupSettings(), &result, &error)) {
            state.SkipWithError(error.toLocal8Bit().constData());
            return;
        }
        whole = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(copied / 1e9);
    }
    state.counters["whole_s"] = whole;
    QDir(destination).removeRecursively();
}

} // namespace

BENCHMARK(sqlite3Backup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(labrosaBackup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
