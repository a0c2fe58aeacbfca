// Start-up on a database of 1,000,000 sets: from starting a process to the first search
// (today's sets) painted in the results window. The process is this benchmark again, run
// with --startup-child: it brings the program up exactly as main() does (QApplication,
// LabrosaApp::InitInstance) and reports when the result list has been painted.
//
// The database is /tmp/labrosa-bench-1m-seed1.db (LABROSA_BENCH_1M names another file), made
// with the database tool's default dates, so that today has sets.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "CComboListCtrl.h"
#include "LabrosaApp.h"

namespace {

const char* const kDefaultDbFile = "/tmp/labrosa-bench-1m-seed1.db";
const QString kDbFile = QString::fromLocal8Bit(
    qEnvironmentVariableIsEmpty("LABROSA_BENCH_1M") ? QByteArray(kDefaultDbFile) : qgetenv("LABROSA_BENCH_1M"));
const char* const kChildOption = "--startup-child";

qint64 MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Reports the milliseconds since the parent started the process at each step, then leaves
// as soon as the result list has been painted once.
class ShownWatcher : public QObject {
public:
    explicit ShownWatcher(qint64 startedAt) : m_startedAt(startedAt) {}
    double Elapsed() const { return (MonotonicNanoseconds() - m_startedAt) / 1e6; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_painted && watched->parent() &&
            watched->parent()->objectName() == QLatin1String("resultList")) {
            m_painted = true;
            auto* list = static_cast<CComboListCtrl*>(watched->parent());
            // Right after this paint has been done.
            QTimer::singleShot(0, [this, list] {
                std::printf("shown %.3f rows %d\n", Elapsed(), list->GetItemCount());
                std::fflush(stdout);
                _exit(0);
            });
        }
        return false;
    }

private:
    qint64 m_startedAt;
    bool m_painted = false;
};

int RunChild(int argc, char** argv) {
    const qint64 startedAt = std::atoll(argv[2]);
    ShownWatcher watcher(startedAt);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    std::printf("application %.3f\n", watcher.Elapsed());
    application.installEventFilter(&watcher);
    LabrosaApp app;
    if (!app.InitInstance({QStringLiteral("labrosa"), QStringLiteral("--database"),
                           QStringLiteral("Provider=SQLite;Data Source=%1").arg(kDbFile)}))
        return 1;
    std::printf("initialised %.3f\n", watcher.Elapsed());
    std::fflush(stdout);
    return QApplication::exec();
}

void BM_StartToFirstSearch(benchmark::State& state) {
    QTemporaryDir folder; // the laboratory folder the program runs in
    double application = 0, initialised = 0, shown = 0;
    int rows = 0;
    for (auto _ : state) {
        QProcess child;
        child.setWorkingDirectory(folder.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LABROSA_NO_MODAL_MESSAGES", "1");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::SeparateChannels);
        const qint64 startedAt = MonotonicNanoseconds();
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(kChildOption), QString::number(startedAt)});
        if (!child.waitForFinished(60000) || child.exitCode() != 0) {
            state.SkipWithError(qPrintable("the program did not start: " + child.readAllStandardError()));
            return;
        }
        shown = -1;
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (words.size() >= 2 && words[0] == "application")
                application = words[1].toDouble();
            else if (words.size() >= 2 && words[0] == "initialised")
                initialised = words[1].toDouble();
            else if (words.size() >= 4 && words[0] == "shown") {
                shown = words[1].toDouble();
                rows = words[3].toInt();
            }
        }
        if (shown < 0) {
            state.SkipWithError("the program ended without showing the list");
            return;
        }
        state.SetIterationTime(shown / 1000.0);
    }
    state.counters["application_ms"] = application;
    state.counters["initialised_ms"] = initialised;
    state.counters["shown_ms"] = shown;
    state.counters["rows"] = rows;
}
BENCHMARK(BM_StartToFirstSearch)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], kChildOption) == 0)
        return RunChild(argc, argv);
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!QFileInfo::exists(kDbFile)) {
        std::fprintf(stderr, "%s is missing: run bench_list first, or make it with labrosa-dbtool\n",
                     qPrintable(kDbFile));
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
