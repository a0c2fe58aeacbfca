#pragma once

#include <QDateTime>
#include <QString>
#include <QWidget>

#include <vector>

class QChart;
class QChartView;
class QLabel;
class QPushButton;

// One set's value of the plotted parameter, with the reference interval of that set.
struct TrendPoint {
    QDateTime when; // the set's transfer date, as stored (wall-clock time)
    QString requestId;
    QString value;
    QString lowerBound;
    QString upperBound;
};

// The values of one parameter over time: a line of the numeric values, the points outside
// their own set's interval as a series of their own, and each set's reference interval as a
// band. Values that are not numbers are listed under the plot, not drawn. The plot can be
// copied to the clipboard or saved as PNG or SVG.
// Object names for tests and assistive tools: series "seriesValues", "seriesOutside" and
// "seriesBand" (one band per run of sets with an interval), "labelNotPlotted", "buttonCopyChart",
// "buttonSaveChart".
class TrendChart : public QWidget {
    Q_OBJECT
public:
    explicit TrendChart(QWidget* parent = nullptr);

    // Plots the points (any order); an empty title clears the plot.
    void showParameter(const QString& title, const QString& unit, std::vector<TrendPoint> points);
    QChart* chart() const { return m_chart; }

    // The number the bulletin reads in a value, when the value is one: a leading number, not a
    // bound such as "<5" and not a word whose leading number is 0. False for anything else.
    static bool plottedNumber(const QString& value, double* number);

    // Writes the plot whole (SVG for a name ending in .svg, else PNG); on failure a message says
    // so and any file already there is left as it was.
    bool saveImage(const QString& fileName);
    void copyImage();
    void saveWithDialog();

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyPalette();
    bool writeImage(const QString& fileName, QString* error);

    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QLabel* m_notPlotted = nullptr;
    QPushButton* m_copy = nullptr;
    QPushButton* m_save = nullptr;
    QString m_title;
    QString m_unit;
    std::vector<TrendPoint> m_points;
};
