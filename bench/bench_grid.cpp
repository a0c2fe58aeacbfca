// The result list under load: 100,000 and 200,000 rows of seven columns filled through the same
// calls the results explorer makes (with or without corrected cells), cleared again, and
// scrolled to its last row.

#include "EditableListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <unistd.h>

namespace {

constexpr int kRows = 100000;

double residentMegabytes() {
    long pages = 0;
    long resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void setUpColumns(EditableListView& list) {
    const char* headings[] = {"ID cerere", "Nume", "Varsta", "Sex", "Data", "Comentarii", "Profil"};
    for (int c = 0; c < 7; ++c)
        list.insertListColumn(c, QString::fromLatin1(headings[c]));
    list.setExtendedStyle(EditableListView::LVS_EX_FULLROWSELECT);
    list.markColumnAsCombo(6, true);
    list.markColumnReadOnly(4, true);
    list.markColumnReadOnly(5, true);
}

// notes: one row in a hundred carries a corrected name, as after a day of corrections.
void fill(EditableListView& list, int rows, bool bracketed, bool notes = false) {
    if (bracketed)
        list.beginFill();
    for (int i = 0; i < rows; ++i) {
        list.insertItem(i, QString::number(100000 + i));
        list.setItemText(i, 1, QStringLiteral("Popescu Ionela %1").arg(i % 997));
        list.setItemText(i, 4, QStringLiteral("%1/%2/2016").arg(1 + i % 28).arg(1 + i % 12));
        list.setItemData(i, i + 1);
        list.setItemText(i, 2, QString::number(i % 90));
        list.setItemText(i, 3, i % 2 ? QStringLiteral("M") : QStringLiteral("F"));
        list.setItemText(i, 5, i % 5 ? QString() : QStringLiteral("hemoliza usoara"));
        list.setItemText(i, 6, QStringLiteral("Caine adult"));
        if (notes && i % 100 == 7)
            list.setCellNote(
                i, 1,
                QStringLiteral("Corectat de operator%1 la 12/03/2016 10:15\nera: Popescu Ion %2").arg(i % 7).arg(i));
    }
    if (bracketed)
        list.endFill();
}

void BM_FillAndClear(benchmark::State& state) {
    EditableListView list;
    list.resize(1000, 700);
    setUpColumns(list);
    list.show();
    QApplication::processEvents();
    const int rows = static_cast<int>(state.range(2));
    double fillSeconds = 0, layoutSeconds = 0, clearSeconds = 0, growth = 0, afterClear = 0;
    for (auto _ : state) {
        const double before = residentMegabytes();
        QElapsedTimer timer;
        timer.start();
        fill(list, rows, state.range(0) != 0, state.range(1) != 0);
        fillSeconds = timer.nsecsElapsed() / 1e9;
        timer.restart();
        list.viewport()->repaint(); // the first paint lays the rows out
        layoutSeconds = timer.nsecsElapsed() / 1e9;
        growth = std::max(growth, residentMegabytes() - before);
        timer.restart();
        list.deleteAllItems();
        list.viewport()->repaint();
        clearSeconds = timer.nsecsElapsed() / 1e9;
        afterClear = std::max(afterClear, residentMegabytes() - before);
        state.SetIterationTime(fillSeconds + layoutSeconds);
    }
    state.counters["fill_s"] = fillSeconds;
    state.counters["first_paint_s"] = layoutSeconds;
    state.counters["clear_s"] = clearSeconds;
    state.counters["rss_growth_MB"] = growth;
    state.counters["rss_after_clear_MB"] = afterClear;
}
// Arguments: one call after another (0), as a small list is filled, or inside BeginFill/EndFill
// (1); without (0) or with (1) a note on one row in a hundred; the number of rows.
BENCHMARK(BM_FillAndClear)
    ->Args({0, 0, kRows})
    ->Args({1, 0, kRows})
    ->Args({1, 1, kRows})
    ->Args({1, 0, 2 * kRows})
    ->Args({1, 1, 2 * kRows})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_ScrollToLastRow(benchmark::State& state) {
    EditableListView list;
    list.resize(1000, 700);
    setUpColumns(list);
    fill(list, kRows, true);
    list.show();
    QApplication::processEvents();
    const QModelIndex first = list.model()->index(0, 0);
    const QModelIndex last = list.model()->index(kRows - 1, 0);
    for (auto _ : state) {
        list.scrollTo(last);
        list.viewport()->repaint();
        list.scrollTo(first);
        list.viewport()->repaint();
    }
    state.counters["rows"] = kRows;
}
BENCHMARK(BM_ScrollToLastRow)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
