// The bulletin of a request on a database of 1,000,000 sets, as a double click on a row makes
// it: the file _buletin.html written (and archived), and the page loaded in a new bulletin
// window of a program whose bulletin view has already been opened once.
//
// The bulletins are archived in a copy of /tmp/labrosa-bench-1m-seed1.db (LABROSA_BENCH_1M names
// another file), so that the benchmarks of the list keep their database as it was made.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>

#include <cstdio>
#include <memory>
#include <vector>

#include "BulletinBuilder.h"
#include "BulletinView.h"
#include "ChildWindow.h"
#include "CommandIds.h"
#include "DatabaseConnection.h"
#include "DocumentTemplate.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "RecentFileList.h"
#include "Recordset.h"
#include "SharedState.h"

namespace {

const char* const kDefaultDbFile = "/tmp/labrosa-bench-1m-seed1.db";
const QString kSourceDb = QString::fromLocal8Bit(
    qEnvironmentVariableIsEmpty("LABROSA_BENCH_1M") ? QByteArray(kDefaultDbFile) : qgetenv("LABROSA_BENCH_1M"));
const QString kArchiveDb = QFileInfo(kSourceDb).path() + "/" + QFileInfo(kSourceDb).completeBaseName() + "-bulletin.db";

struct Request {
    int recordId;
    QString requestId;
    QString day; // year/month/day, as the list hands it over
};

struct Lab {
    QTemporaryDir dir;
    DatabaseConnection database;
    SharedState sharedState;
    std::unique_ptr<RecentFileList> recent;
    std::unique_ptr<MainWindow> frame;
    std::unique_ptr<DocumentTemplate> bulletinTemplate;
    std::vector<Request> requests;
};
Lab* g_lab = nullptr;

// The database copied with its write-ahead log, once.
bool ensureArchiveCopy() {
    if (QFileInfo::exists(kArchiveDb))
        return true;
    if (!QFileInfo::exists(kSourceDb)) {
        std::fprintf(stderr, "%s is missing: run bench_list first, or make it with labrosa-dbtool\n",
                     qPrintable(kSourceDb));
        return false;
    }
    const QString partial = kArchiveDb + ".part";
    QFile::remove(partial);
    QFile::remove(partial + "-wal");
    if (!QFile::copy(kSourceDb, partial))
        return false;
    if (QFileInfo::exists(kSourceDb + "-wal") && !QFile::copy(kSourceDb + "-wal", partial + "-wal"))
        return false;
    // Folds the log into the copy, which is then a database of its own.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench-copy");
        db.setDatabaseName(partial);
        if (!db.open())
            return false;
        QSqlQuery(db).exec("PRAGMA wal_checkpoint(TRUNCATE)");
        db.close();
    }
    QSqlDatabase::removeDatabase("bench-copy");
    QFile::remove(partial + "-wal");
    QFile::remove(partial + "-shm");
    return QFile::rename(partial, kArchiveDb);
}

// Fifty sets spread over the database, each a request of its day.
std::vector<Request> PickRequests() {
    std::vector<Request> requests;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench-pick");
        db.setDatabaseName(kArchiveDb);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec("SELECT ID, RequestID, TransDate FROM RESULTS WHERE ID % 20000 = 7 ORDER BY ID");
            while (q.next()) {
                const QString stored = q.value(2).toString();
                const QDate date = QDate::fromString(stored.left(10), "yyyy-MM-dd");
                requests.push_back({q.value(0).toInt(), q.value(1).toString(),
                                    QStringLiteral("%1/%2/%3").arg(date.year()).arg(date.month()).arg(date.day())});
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("bench-pick");
    return requests;
}

// Only the file and its archive row: no window opens.
void BM_WriteBulletin(benchmark::State& state) {
    SharedState sharedState;
    sharedState.m_database = &g_lab->database;
    Recordset recordset;
    std::size_t next = 0;
    for (auto _ : state) {
        const Request& r = g_lab->requests[next++ % g_lab->requests.size()];
        const BulletinBuildResult result = buildBulletin(recordset, sharedState, r.recordId, r.requestId, r.day);
        if (!result.messages.isEmpty()) {
            state.SkipWithError(qPrintable(result.messages.join('\n')));
            return;
        }
    }
    state.counters["file_bytes"] = QFileInfo(QString::fromLatin1(kBulletinFileName)).size();
}
BENCHMARK(BM_WriteBulletin)->Unit(benchmark::kMillisecond);

// The newest bulletin view of the main frame.
BulletinView* NewestView() {
    const QList<ChildWindow*> frames = g_lab->frame->childFrames();
    return frames.isEmpty() ? nullptr : qobject_cast<BulletinView*>(frames.last()->view());
}

// Builds a bulletin with its window and waits for the page; false when no page came.
bool openBulletin(const Request& r, Recordset& recordset) {
    const BulletinBuildResult result = buildBulletin(recordset, g_lab->sharedState, r.recordId, r.requestId, r.day);
    BulletinView* view = result.opened ? NewestView() : nullptr;
    if (!view)
        return false;
    // The page loads from the event loop, so the signal cannot have come yet.
    QEventLoop loop;
    bool loaded = false;
    QObject::connect(view->webView(), &QWebEngineView::loadFinished, &loop, [&](bool ok) {
        loaded = ok;
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    return loaded;
}

void closeBulletins() {
    for (ChildWindow* frame : g_lab->frame->childFrames())
        delete frame;
    QCoreApplication::processEvents();
}

// From the double click's call to the page loaded in its new window, with one bulletin
// window already opened and closed before.
void BM_BulletinPage(benchmark::State& state) {
    Recordset recordset;
    if (!openBulletin(g_lab->requests.front(), recordset)) {
        state.SkipWithError("the first bulletin window did not load");
        return;
    }
    closeBulletins();
    std::size_t next = 1;
    QElapsedTimer timer;
    for (auto _ : state) {
        const Request& r = g_lab->requests[next++ % g_lab->requests.size()];
        timer.start();
        const bool ok = openBulletin(r, recordset);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        if (!ok) {
            state.SkipWithError("a bulletin window did not load");
            return;
        }
        closeBulletins();
    }
}
BENCHMARK(BM_BulletinPage)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

bool copyFile(const QString& from, const QString& to) {
    return QFile::exists(to) || QFile::copy(from, to);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!ensureArchiveCopy()) {
        std::fprintf(stderr, "could not copy %s to %s\n", qPrintable(kSourceDb), qPrintable(kArchiveDb));
        return 1;
    }
    setMessageBoxHook([](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    auto lab = std::make_unique<Lab>();
    // The laboratory folder: its header and the page's style sheet and images.
    const QString share = QStringLiteral(LABROSA_SHARE_DIR);
    QDir(lab->dir.path()).mkdir("buletin_files");
    bool copied = copyFile(share + "/Labrosa.ini", lab->dir.filePath("Labrosa.ini"));
    for (const char* name : {"print.css", "dr.gif", "ub.gif"})
        copied = copied && copyFile(share + "/buletin_files/" + name, lab->dir.filePath("buletin_files/") + name);
    if (!copied || !QDir::setCurrent(lab->dir.path())) {
        std::fprintf(stderr, "could not set up the laboratory folder\n");
        return 1;
    }
    if (!lab->database.open(QStringLiteral("Provider=SQLite;Data Source=%1").arg(kArchiveDb))) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(kArchiveDb));
        return 1;
    }
    lab->requests = PickRequests();
    if (lab->requests.empty()) {
        std::fprintf(stderr, "no sets found in %s\n", qPrintable(kArchiveDb));
        return 1;
    }
    lab->sharedState.m_database = &lab->database;
    lab->recent = std::make_unique<RecentFileList>(4);
    lab->frame = std::make_unique<MainWindow>(lab->recent.get());
    lab->bulletinTemplate = std::make_unique<DocumentTemplate>(
        IDR_BULLETINTYPE, QStringLiteral("\nTervan\nTervan\n\n\nTervana.Document\nTervan Document"),
        [](BulletinDocument*) { return new BulletinView; });
    lab->bulletinTemplate->setMainFrame(lab->frame.get());
    lab->sharedState.m_bulletinTemplate = lab->bulletinTemplate.get();
    lab->frame->resize(1200, 800);
    lab->frame->show();
    g_lab = lab.get();

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_lab = nullptr;
    lab->frame.reset();
    QDir::setCurrent(QDir::tempPath());
    return 0;
}
