#include <QAreaSeries>
#include <QChart>
#include <QDir>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QSpinBox>
#include <QSvgRenderer>
#include <QTableWidget>
#include <QTest>

#include "EvolutionWindow.h"
#include "ExplorerLab.h"
#include "TrendChart.h"

namespace {

using Points = QList<QPointF>;

// The patient's three sets under three spellings of her name (one without a sex, so it gets the
// interval kept for either sex), and two namesakes: another profile, another sex.
bool startEvolutionLab(ExplorerLab& x) {
    if (!(x.createEmpty() && x.addProfile(1, "Hemograma") && x.addProfile(2, "Biochimie") &&
          x.addResult(1, "300", "Ana Pop", "2026-01-05 08:00:00", 30, "F", QVariant(), 1) &&
          x.addResult(2, "301", "ana  pop", "2026-02-05 08:00:00", 30, "", QVariant(), 1) &&
          x.addResult(3, "302", QString::fromUtf8("\u0102NA POP"), "2026-03-05 08:00:00", 30, "F", QVariant(), 1) &&
          x.addResult(4, "400", "Ana Pop", "2026-02-20 08:00:00", 30, "F", QVariant(), 2) &&
          x.addResult(5, "401", "Ana Pop", "2026-02-25 08:00:00", 30, "M", QVariant(), 1) &&
          x.lab.exec("INSERT INTO ANALYSERS (MachineID, AnalyseName) VALUES (1, 'Hematologie'), (2, 'biochimie')") &&
          x.lab.exec("INSERT INTO PARAMETERS (MachineID, refcode, refName, um, \"order\") VALUES "
                     "(1, 'WBC', 'Leucocite', 'mii/uL', 1), (1, 'HGB', 'Hemoglobina', 'g/dL', 2), "
                     "(2, 'GLU', 'Glucoza', 'mg/dL', 1)") &&
          x.lab.exec("INSERT INTO VET_PROFILE_NORMAL_VALUES (profileID, refcode, sex, minValue, maxValue) VALUES "
                     "(1, 'WBC', 'F', '4', '10'), (1, 'WBC', NULL, '5', '11'), (1, 'HGB', 'F', '12', '16')") &&
          x.lab.exec("INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES "
                     "(1, 1, 'WBC', '5'), (1, 1, 'HGB', '13'), (1, 2, 'GLU', '90'), "
                     "(2, 1, 'WBC', '11,5'), (2, 1, 'HGB', 'hemolizat'), "
                     "(3, 1, 'WBC', '3,2'), (3, 1, 'HGB', '11'), "
                     "(4, 1, 'WBC', '99'), (5, 1, 'WBC', '77')") &&
          x.lab.exec("INSERT INTO PARAMETER_DELTA_LIMITS (MachineID, refcode, maxChange) VALUES (1, 'WBC', 5)") &&
          x.start()))
        return false;
    x.search("", "", QDate(2026, 1, 1), QDate(2026, 3, 31));
    return x.list()->getItemCount() == 5;
}

EvolutionWindow* openEvolution(ExplorerLab& x, qint64 id) {
    x.selectRow(x.rowOf(id));
    QTest::keyClick(x.list(), Qt::Key_E, Qt::ControlModifier);
    return x.view->findChild<EvolutionWindow*>("evolutionWindow");
}

QXYSeries* xySeries(QChart* chart, const QString& name) {
    for (QAbstractSeries* series : chart->series())
        if (series->objectName() == name)
            return qobject_cast<QXYSeries*>(series);
    return nullptr;
}
QList<QAreaSeries*> bands(QChart* chart) {
    QList<QAreaSeries*> found;
    for (QAbstractSeries* series : chart->series())
        if (auto* band = qobject_cast<QAreaSeries*>(series); band && series->objectName() == "seriesBand")
            found << band;
    return found;
}
qreal at(int month) {
    return QDateTime(QDate(2026, month, 5), QTime(8, 0)).toMSecsSinceEpoch();
}

} // namespace

class TestEvolution : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { DbLab::addBackends(); }

    // Ctrl+E on a row shows the patient's sets newest first, without the namesakes of another
    // profile or sex; each value is marked against its own set's interval, and the plot of the
    // chosen row draws the same values and intervals, listing what is not a number.
    void tableAndPlotOfThePatient() {
        ExplorerLab x;
        QVERIFY(startEvolutionLab(x));
        EvolutionWindow* window = openEvolution(x, 3);
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QString::fromUtf8("Evolutie - \u0102NA POP"));
        QVERIFY(window->findChild<QLabel*>("labelSamePatient")->text().contains(kSamePatientRule));
        QCOMPARE(window->findChild<QSpinBox*>("spinSetCount")->value(), 10);

        QTableWidget* table = window->table();
        QStringList headers;
        for (int column = 0; column < table->columnCount(); ++column)
            headers << table->horizontalHeaderItem(column)->text();
        QCOMPARE(headers, QStringList({"Analiza", "Parametru", "5/3/2026 8:00\ncererea 302",
                                       "5/2/2026 8:00\ncererea 301", "5/1/2026 8:00\ncererea 300"}));
        const auto rowTexts = [&](int row) {
            QStringList cells;
            for (int column = 1; column < table->columnCount(); ++column)
                cells << (table->item(row, column) ? table->item(row, column)->text() : QString());
            return cells;
        };
        // The bulletin's order: analysis whatever its letter case, then the parameter's order.
        QCOMPARE(rowTexts(0), QStringList({"Glucoza (mg/dL)", "", "", "90"}));
        // A change beyond its limit from the set before is marked too.
        QCOMPARE(rowTexts(1), QStringList({"Leucocite (mii/uL)", QString::fromUtf8("3,2 \u2193 \u0394"),
                                           QString::fromUtf8("11,5 \u2191 \u0394"), "5"}));
        QCOMPARE(rowTexts(2), QStringList({"Hemoglobina (g/dL)", QString::fromUtf8("11 \u2193"), "hemolizat", "13"}));
        QVERIFY(table->item(1, 3)->toolTip().startsWith("peste intervalul 5 - 11\nSchimbare mare"));
        QVERIFY(table->item(1, 2)
                    ->data(Qt::AccessibleDescriptionRole)
                    .toString()
                    .startsWith(
                        "sub intervalul 4 - 10; Schimbare mare fata de valoarea anterioara 11,5 din 5/2/2026 8:00"));

        QChart* chart = window->trendChart()->chart();
        auto* label = window->findChild<QLabel*>("labelNotPlotted");
        table->setCurrentCell(1, 1);
        QCOMPARE(xySeries(chart, "seriesValues")->points(), Points({{at(1), 5}, {at(2), 11.5}, {at(3), 3.2}}));
        QCOMPARE(xySeries(chart, "seriesOutside")->points(), Points({{at(2), 11.5}, {at(3), 3.2}}));
        QCOMPARE(bands(chart).size(), 1);
        QCOMPARE(bands(chart)[0]->upperSeries()->points(), Points({{at(1), 10}, {at(2), 11}, {at(3), 10}}));
        QCOMPARE(bands(chart)[0]->lowerSeries()->points(), Points({{at(1), 4}, {at(2), 5}, {at(3), 4}}));
        QVERIFY(!label->text().contains("Valori care nu sunt numere"));

        table->setCurrentCell(2, 1);
        QCOMPARE(xySeries(chart, "seriesValues")->points(), Points({{at(1), 13}, {at(3), 11}}));
        QCOMPARE(xySeries(chart, "seriesOutside")->points(), Points({{at(3), 11}}));
        QVERIFY(label->text().contains("5/2/2026 8:00 hemolizat"));
        // The set without a sex has no interval for this parameter: the band stops there.
        QCOMPARE(bands(chart).size(), 2);

        // A dark palette gets the dark chart, with the same series.
        QCOMPARE(chart->theme(), QChart::ChartThemeLight);
        QPalette dark = window->palette();
        dark.setColor(QPalette::Window, QColor(40, 40, 40));
        window->setPalette(dark);
        QCOMPARE(chart->theme(), QChart::ChartThemeDark);
        QCOMPARE(xySeries(chart, "seriesOutside")->points(), Points({{at(3), 11}}));

        // Fewer sets asked for: the oldest goes.
        auto* spin = window->findChild<QSpinBox*>("spinSetCount");
        spin->setValue(2);
        QCOMPARE(table->columnCount(), 4);
        // The oldest shown value is still checked against the set before it; the parameter only
        // the older sets hold goes.
        QCOMPARE(rowTexts(0), QStringList({"Leucocite (mii/uL)", QString::fromUtf8("3,2 \u2193 \u0394"),
                                           QString::fromUtf8("11,5 \u2191 \u0394")}));
        QCOMPARE(x.messages, QStringList());
    }

    // A question that fails says so, whether the window is still to open or already open, and
    // never shows an empty table as if the patient had no earlier values.
    void failedQuestionIsSaid() {
        ExplorerLab x;
        QVERIFY(startEvolutionLab(x));
        EvolutionWindow* window = openEvolution(x, 3);
        QVERIFY(window);
        QVERIFY(x.lab.exec(x.lab.isPg() ? "DROP TABLE RESULT_VALUES CASCADE" : "DROP TABLE RESULT_VALUES"));
        window->findChild<QSpinBox*>("spinSetCount")->setValue(5);
        QCOMPARE(x.messages.size(), 1);
        QVERIFY(x.messages[0].startsWith("Valorile anterioare ale pacientului nu au putut fi citite"));
        QVERIFY(window->findChild<QLabel*>("labelEvolutionFailure")->isVisibleTo(window));
        QCOMPARE(window->table()->columnCount(), 0);
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        x.messages.clear();
        QVERIFY(!openEvolution(x, 1));
        QCOMPARE(x.messages.size(), 1);
        QVERIFY(x.messages[0].startsWith("Valorile anterioare ale pacientului nu au putut fi citite"));
    }

    // The plot is written whole as PNG or SVG; where it cannot be written a message says so and
    // nothing is left behind.
    void savePlot_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("saved");
        QTest::newRow("PNG") << "plot.png" << true;
        QTest::newRow("SVG") << "plot.svg" << true;
        QTest::newRow("folder is a file") << "file/plot.png" << false;
    }
    void savePlot() {
        QFETCH(QString, name);
        QFETCH(bool, saved);
        ExplorerLab x;
        QVERIFY(startEvolutionLab(x));
        EvolutionWindow* window = openEvolution(x, 3);
        QVERIFY(window);
        window->table()->setCurrentCell(1, 1);
        QTemporaryDir folder;
        QFile file(folder.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString path = folder.filePath(name);
        QCOMPARE(window->trendChart()->saveImage(path), saved);
        if (saved) {
            QCOMPARE(x.messages, QStringList());
            if (name.endsWith(".svg"))
                QVERIFY(QSvgRenderer(path).isValid());
            else
                QVERIFY(!QImage(path).isNull());
            QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList({"file", name}));
        } else {
            QCOMPARE(x.messages.size(), 1);
            QVERIFY(x.messages[0].startsWith("Graficul nu a fost salvat in " + QDir::toNativeSeparators(path)));
            QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList({"file"}));
        }
    }
};

QTEST_MAIN(TestEvolution)
#include "tst_evolution.moc"
