// The results explorer holding a whole database of 1,000,000 sets: one search over every
// date (the real ResultsWindow on the real SQLite file), the process's resident memory after it,
// then Ctrl+End and a drag of the scroll bar's handle to the last row and back.
//
// The database is /tmp/labrosa-bench-1m-seed1.db (LABROSA_BENCH_1M names another file); it is
// made with the database tool when missing, which takes a while.

#include "OwnSettingsHome.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDate>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "DatabaseConnection.h"
#include "EditableListView.h"
#include "MessageBox.h"
#include "ResultsWindow.h"
#include "SharedState.h"

namespace {

const char* const kDefaultDbFile = "/tmp/labrosa-bench-1m-seed1.db";
const QByteArray kDbFileName =
    qEnvironmentVariableIsEmpty("LABROSA_BENCH_1M") ? QByteArray(kDefaultDbFile) : qgetenv("LABROSA_BENCH_1M");

bool ensureDatabase() {
    if (QFileInfo::exists(QString::fromLocal8Bit(kDbFileName)))
        return true;
    const QString partial = QString::fromLocal8Bit(kDbFileName) + ".part";
    QFile::remove(partial);
    std::fprintf(stderr, "making %s with 1,000,000 sets\n", kDbFileName.constData());
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral(LABROSA_DBTOOL), {"--demo", "--seed", "1", "--results", "1000000", partial});
    return tool.waitForFinished(-1) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0 &&
           QFile::rename(partial, QString::fromLocal8Bit(kDbFileName));
}

struct Explorer {
    DatabaseConnection database;
    SharedState sharedState;
    std::unique_ptr<ResultsWindow> view;
};
Explorer* g_explorer = nullptr;

void repaint(EditableListView* list) {
    list->viewport()->repaint();
    QCoreApplication::processEvents();
}

// The search of every date, from the click to the painted list. Memory is read after the list
// has been painted: VmRSS is what the process holds then, VmHWM the most it ever held.
void BM_SearchEveryDate(benchmark::State& state) {
    ResultsWindow* view = g_explorer->view.get();
    EditableListView* list = view->resultList();
    view->findChild<QDateEdit*>("dateStart")->setDate(QDate(2000, 1, 1));
    view->findChild<QDateEdit*>("dateEnd")->setDate(QDate(2099, 12, 31));
    auto* button = view->findChild<QPushButton*>("buttonSearch");
    const double before = statusMegabytes("VmRSS");
    for (auto _ : state) {
        button->click();
        repaint(list);
    }
    state.counters["rows"] = list->getItemCount();
    state.counters["rss_before_MB"] = before;
    state.counters["rss_MB"] = statusMegabytes("VmRSS");
    state.counters["hwm_MB"] = statusMegabytes("VmHWM");
}
BENCHMARK(BM_SearchEveryDate)->Unit(benchmark::kMillisecond)->Iterations(2);

void sendKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(widget, &release);
}

// Ctrl+End to the last row and Ctrl+Home back, each followed by the repaint of the list.
void BM_CtrlEndAndHome(benchmark::State& state) {
    EditableListView* list = g_explorer->view->resultList();
    list->setFocus();
    QElapsedTimer timer;
    double toEnd = 0;
    for (auto _ : state) {
        timer.start();
        sendKey(list, Qt::Key_End, Qt::ControlModifier);
        repaint(list);
        toEnd = timer.nsecsElapsed() / 1e6;
        sendKey(list, Qt::Key_Home, Qt::ControlModifier);
        repaint(list);
    }
    state.counters["rows"] = list->getItemCount();
    state.counters["last_ctrl_end_ms"] = toEnd;
    if (list->currentIndex().row() != 0)
        state.SkipWithError("Ctrl+Home did not reach the first row");
}
BENCHMARK(BM_CtrlEndAndHome)->Unit(benchmark::kMillisecond);

// The scroll bar's handle dragged to the bottom and back to the top, with a repaint each way.
void BM_DragScrollBar(benchmark::State& state) {
    EditableListView* list = g_explorer->view->resultList();
    QScrollBar* bar = list->verticalScrollBar();
    for (auto _ : state) {
        bar->setSliderDown(true);
        bar->setSliderPosition(bar->maximum());
        bar->setSliderDown(false);
        repaint(list);
        bar->setSliderDown(true);
        bar->setSliderPosition(0);
        bar->setSliderDown(false);
        repaint(list);
    }
    state.counters["scroll_max"] = bar->maximum();
}
BENCHMARK(BM_DragScrollBar)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const OwnSettingsHome settingsHome;
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!ensureDatabase()) {
        std::fprintf(stderr, "could not create %s with the database tool\n", kDbFileName.constData());
        return 1;
    }
    setMessageBoxHook([](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    auto explorer = std::make_unique<Explorer>();
    if (!explorer->database.open(
            QStringLiteral("Provider=SQLite;Data Source=%1").arg(QString::fromLocal8Bit(kDbFileName)))) {
        std::fprintf(stderr, "cannot open %s\n", kDbFileName.constData());
        return 1;
    }
    explorer->sharedState.m_database = &explorer->database;
    explorer->view = std::make_unique<ResultsWindow>(&explorer->sharedState);
    explorer->view->resize(1200, 800);
    explorer->view->show();
    explorer->view->onInitialUpdate();
    g_explorer = explorer.get();

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_explorer = nullptr;
    return 0;
}
