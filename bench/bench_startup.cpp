// Start-up on a database of 1,000,000 sets: from starting a process to the first search
// (today's sets) painted in the results window; then, in the same whole program, the search
// of every date and the memory the process holds with a million rows listed. The process is
// this benchmark again, run with --startup-child: it brings the program up exactly as main()
// does (QApplication, LabrosaApp::initInstance) and reports when the result list has been
// painted.
//
// The database is /tmp/labrosa-bench-1m-seed1.db (LABROSA_BENCH_1M names another file), made
// with the database tool's default dates, so that today has sets.

#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

#include "EditableListView.h"
#include "LabrosaApp.h"
#include "OwnSettingsHome.h"

namespace {

const char* const kDefaultDbFile = "/tmp/labrosa-bench-1m-seed1.db";
const QString kDbFile = QString::fromLocal8Bit(
    qEnvironmentVariableIsEmpty("LABROSA_BENCH_1M") ? QByteArray(kDefaultDbFile) : qgetenv("LABROSA_BENCH_1M"));
const char* const kChildOption = "--startup-child";

// In the program that has just shown its first search: the search of every date, as a user
// would set the two dates and click "Cauta", up to the painted list.
void searchEveryDate(EditableListView* list) {
    QWidget* explorer = list->parentWidget();
    explorer->findChild<QDateEdit*>("dateStart")->setDate(QDate(2000, 1, 1));
    explorer->findChild<QDateEdit*>("dateEnd")->setDate(QDate(2099, 12, 31));
    QElapsedTimer timer;
    timer.start();
    explorer->findChild<QPushButton*>("buttonSearch")->click();
    list->viewport()->repaint();
    const double searchMs = timer.nsecsElapsed() / 1e6;
    std::printf("every %.3f rows %d rss %.3f hwm %.3f\n", searchMs, list->getItemCount(), statusMegabytes("VmRSS"),
                statusMegabytes("VmHWM"));
}

qint64 monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Reports the milliseconds since the parent started the process at each step, then leaves
// as soon as the result list has been painted once.
class ShownWatcher : public QObject {
public:
    ShownWatcher(qint64 startedAt, bool everyDate) : m_startedAt(startedAt), m_everyDate(everyDate) {}
    double elapsed() const { return (monotonicNanoseconds() - m_startedAt) / 1e6; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_painted && watched->parent() &&
            watched->parent()->objectName() == QLatin1String("resultList")) {
            m_painted = true;
            auto* list = static_cast<EditableListView*>(watched->parent());
            // Right after this paint has been done.
            QTimer::singleShot(0, [this, list] {
                std::printf("shown %.3f rows %d\n", elapsed(), list->getItemCount());
                if (m_everyDate)
                    searchEveryDate(list);
                std::fflush(stdout);
                _exit(0);
            });
        }
        return false;
    }

private:
    qint64 m_startedAt;
    bool m_everyDate;
    bool m_painted = false;
};

int runChild(int argc, char** argv) {
    const qint64 startedAt = std::atoll(argv[2]);
    ShownWatcher watcher(startedAt, argc >= 4 && std::strcmp(argv[3], "every-date") == 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    std::printf("application %.3f\n", watcher.elapsed());
    application.installEventFilter(&watcher);
    LabrosaApp app;
    if (!app.initInstance({QStringLiteral("labrosa"), QStringLiteral("--database"),
                           QStringLiteral("Provider=SQLite;Data Source=%1").arg(kDbFile)}))
        return 1;
    std::printf("initialised %.3f\n", watcher.elapsed());
    std::fflush(stdout);
    return QApplication::exec();
}

// Runs the program once in the laboratory folder; the words of each line it printed, by the
// line's first word. Empty when it did not show its list.
std::map<QByteArray, QList<QByteArray>> RunProgram(const QString& folder, const QStringList& mode, QString* error) {
    QProcess child;
    child.setWorkingDirectory(folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LABROSA_NO_MODAL_MESSAGES", "1");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(environment);
    const qint64 startedAt = monotonicNanoseconds();
    child.start(QCoreApplication::applicationFilePath(),
                QStringList{QString::fromLatin1(kChildOption), QString::number(startedAt)} + mode);
    std::map<QByteArray, QList<QByteArray>> lines;
    if (!child.waitForFinished(600000) || child.exitCode() != 0) {
        *error = "the program did not start: " + QString::fromLocal8Bit(child.readAllStandardError());
        return lines;
    }
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() >= 2)
            lines[words[0]] = words;
    }
    if (lines.count("shown") == 0) {
        *error = "the program ended without showing the list";
        lines.clear();
    }
    return lines;
}

void BM_StartToFirstSearch(benchmark::State& state) {
    QTemporaryDir folder; // the laboratory folder the program runs in
    std::map<QByteArray, QList<QByteArray>> lines;
    for (auto _ : state) {
        QString error;
        lines = RunProgram(folder.path(), {}, &error);
        if (lines.empty()) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        state.SetIterationTime(lines["shown"].value(1).toDouble() / 1000.0);
    }
    state.counters["application_ms"] = lines["application"].value(1).toDouble();
    state.counters["initialised_ms"] = lines["initialised"].value(1).toDouble();
    state.counters["shown_ms"] = lines["shown"].value(1).toDouble();
    state.counters["rows"] = lines["shown"].value(3).toInt();
}
BENCHMARK(BM_StartToFirstSearch)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// The whole program with every set listed: the search's time from the click to the painted
// list, and the process's resident memory then (VmRSS) and at its most (VmHWM).
void BM_ProgramListsEveryDate(benchmark::State& state) {
    QTemporaryDir folder;
    std::map<QByteArray, QList<QByteArray>> lines;
    for (auto _ : state) {
        QString error;
        lines = RunProgram(folder.path(), {QStringLiteral("every-date")}, &error);
        if (lines.count("every") == 0) {
            state.SkipWithError(qPrintable(error.isEmpty() ? QStringLiteral("no search of every date") : error));
            return;
        }
        state.SetIterationTime(lines["every"].value(1).toDouble() / 1000.0);
    }
    const QList<QByteArray>& every = lines["every"];
    state.counters["rows"] = every.value(3).toInt();
    state.counters["rss_MB"] = every.value(5).toDouble();
    state.counters["hwm_MB"] = every.value(7).toDouble();
}
BENCHMARK(BM_ProgramListsEveryDate)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], kChildOption) == 0)
        return runChild(argc, argv);
    QCoreApplication application(argc, argv);
    // The program started as a child takes its settings from this folder too.
    OwnSettingsHome settingsHome;
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
