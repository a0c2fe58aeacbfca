#include "TrendChart.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QDateTimeAxis>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "BulletinWriter.h"
#include "MessageBox.h"

namespace {

const char* const kButtonCopy = "&Copiaza graficul";
const char* const kButtonSave = "Sa&lveaza graficul...";
const char* const kSaveCaption = "Salveaza graficul";
const char* const kFilterPng = "Imagine PNG (*.png)";
const char* const kFilterSvg = "Desen SVG (*.svg)";
const char* const kSeriesValues = "Valori";
const char* const kSeriesOutside = "In afara intervalului";
const char* const kSeriesBand = "Interval de referinta";
const char* const kNotPlotted = "Valori care nu sunt numere (nu apar in grafic): %1";
const char* const kUndated = "Valori din seturi cu data care nu poate fi citita (nu apar in grafic): %1";
const char* const kUndatedValue = "%1 (cererea %2)";
const char* const kNotPlottedNone = "Toate valorile sunt numere si apar in grafic.";
const char* const kMsgSaveFailed = "Graficul nu a fost salvat in %1; un fisier mai vechi cu acest nume a ramas cum "
                                   "era. Alegeti alt dosar sau alt nume si salvati din nou.\n%2";
const char* const kEmptyImage = "Graficul nu are inca o imagine (fereastra nu este afisata).";

// The chart's own time axis reads milliseconds as local time: the stored wall-clock time is
// taken as local so the axis shows it as stored.
qint64 axisTime(const QDateTime& when) {
    return QDateTime(when.date(), when.time()).toMSecsSinceEpoch();
}

QString whenText(const TrendPoint& point) {
    return QString::fromStdString(formatBulletinDate(QVariant(point.when)));
}

} // namespace

TrendChart::TrendChart(QWidget* parent) : QWidget(parent) {
    m_chart = new QChart();
    m_chart->setBackgroundRoundness(0);
    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("chartView"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setAccessibleName(QStringLiteral("Graficul valorilor in timp"));
    m_view->setMinimumHeight(220);

    m_notPlotted = new QLabel(this);
    m_notPlotted->setObjectName(QStringLiteral("labelNotPlotted"));
    m_notPlotted->setWordWrap(true);
    // Reachable with Tab and copyable, like any other text of the window.
    m_notPlotted->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_notPlotted->setFocusPolicy(Qt::StrongFocus);

    m_copy = new QPushButton(QString::fromLatin1(kButtonCopy), this);
    m_copy->setObjectName(QStringLiteral("buttonCopyChart"));
    m_save = new QPushButton(QString::fromLatin1(kButtonSave), this);
    m_save->setObjectName(QStringLiteral("buttonSaveChart"));
    connect(m_copy, &QPushButton::clicked, this, &TrendChart::copyImage);
    connect(m_save, &QPushButton::clicked, this, &TrendChart::saveWithDialog);

    auto* buttons = new QHBoxLayout();
    buttons->addWidget(m_notPlotted, 1);
    buttons->addWidget(m_copy);
    buttons->addWidget(m_save);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);
    applyPalette();
    showParameter(QString(), QString(), {});
}

bool TrendChart::plottedNumber(const QString& value, double* number) {
    const std::string text = value.toStdString();
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    // The bulletin's reader gives 0 for a text without a number; only a digit here makes one.
    const bool startsWithNumber =
        i < text.size() &&
        (std::isdigit(static_cast<unsigned char>(text[i])) ||
         (text[i] == '.' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))));
    if (!startsWithNumber)
        return false;
    const double read = leadingNumber(text);
    // The bulletin does not compare a word led by 0 ("0 negativ"); neither is it plotted.
    const bool hasLetter =
        std::any_of(text.begin(), text.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
    if ((hasLetter && read == 0.0) || !std::isfinite(read))
        return false;
    *number = read;
    return true;
}

void TrendChart::showParameter(const QString& title, const QString& unit, std::vector<TrendPoint> points) {
    std::stable_sort(points.begin(), points.end(),
                     [](const TrendPoint& a, const TrendPoint& b) { return axisTime(a.when) < axisTime(b.when); });
    m_title = title;
    m_unit = unit;
    m_points = points;
    m_chart->removeAllSeries();
    for (QAbstractAxis* axis : m_chart->axes()) {
        // A removed axis is the caller's to delete.
        m_chart->removeAxis(axis);
        delete axis;
    }
    m_chart->setTitle(unit.isEmpty() || title.isEmpty() ? title : QStringLiteral("%1 (%2)").arg(title, unit));
    m_copy->setEnabled(!title.isEmpty());
    m_save->setEnabled(!title.isEmpty());
    if (title.isEmpty()) {
        m_notPlotted->clear();
        return;
    }
    // A set whose date cannot be read has no place on the time axis: it is named, not drawn.
    QStringList undated;
    points.erase(
        std::remove_if(points.begin(), points.end(),
                       [&undated](const TrendPoint& point) {
                           if (point.when.isValid())
                               return false;
                           undated << QString::fromLatin1(kUndatedValue).arg(point.value.trimmed(), point.requestId);
                           return true;
                       }),
        points.end());

    auto* values = new QLineSeries();
    values->setObjectName(QStringLiteral("seriesValues"));
    values->setName(QString::fromLatin1(kSeriesValues));
    values->setPointsVisible(true);
    auto* outside = new QScatterSeries();
    outside->setObjectName(QStringLiteral("seriesOutside"));
    outside->setName(QString::fromLatin1(kSeriesOutside));
    outside->setMarkerSize(13);
    QStringList notPlotted;
    double low = qInf();
    double high = -qInf();
    const auto widen = [&](double y) {
        low = std::min(low, y);
        high = std::max(high, y);
    };
    for (const TrendPoint& point : points) {
        double y = 0.0;
        if (!plottedNumber(point.value, &y)) {
            notPlotted << QStringLiteral("%1 %2").arg(whenText(point), point.value.trimmed());
            continue;
        }
        widen(y);
        values->append(axisTime(point.when), y);
        if (!bulletinMarker(point.value.toStdString(), point.lowerBound.toStdString(), point.upperBound.toStdString())
                 .empty())
            outside->append(axisTime(point.when), y);
    }
    for (const TrendPoint& point : points) {
        if (!point.lowerBound.trimmed().isEmpty())
            widen(leadingNumber(point.lowerBound.toStdString()));
        if (!point.upperBound.trimmed().isEmpty())
            widen(leadingNumber(point.upperBound.toStdString()));
    }
    if (low > high) {
        low = 0.0;
        high = 1.0;
    }
    const double margin = high > low ? (high - low) * 0.1 : std::max(std::abs(high) * 0.1, 1.0);
    auto* valueAxis = new QValueAxis();
    valueAxis->setRange(low - margin, high + margin);
    valueAxis->applyNiceNumbers();
    valueAxis->setTitleText(unit);
    const double axisLow = valueAxis->min();
    const double axisHigh = valueAxis->max();

    // Each set's own interval, joined from one set to the next; a set without an interval
    // breaks the band. A missing bound reaches the edge of the plot.
    std::vector<QAreaSeries*> bands;
    QLineSeries* upperLine = nullptr;
    QLineSeries* lowerLine = nullptr;
    const auto closeBand = [&]() {
        if (!upperLine)
            return;
        if (upperLine->count() == 1) {
            // A lone set's interval is drawn half a day to either side, so it can be seen.
            const QPointF up = upperLine->at(0);
            const QPointF down = lowerLine->at(0);
            const qreal halfDay = 12 * 3600 * 1000.0;
            upperLine->replace(0, up.x() - halfDay, up.y());
            upperLine->append(up.x() + halfDay, up.y());
            lowerLine->replace(0, down.x() - halfDay, down.y());
            lowerLine->append(down.x() + halfDay, down.y());
        }
        auto* band = new QAreaSeries(upperLine, lowerLine);
        // The area does not own its two lines; as its children they go when the chart drops it.
        upperLine->setParent(band);
        lowerLine->setParent(band);
        band->setObjectName(QStringLiteral("seriesBand"));
        band->setName(QString::fromLatin1(kSeriesBand));
        bands.push_back(band);
        upperLine = nullptr;
        lowerLine = nullptr;
    };
    for (const TrendPoint& point : points) {
        const bool hasLower = !point.lowerBound.trimmed().isEmpty();
        const bool hasUpper = !point.upperBound.trimmed().isEmpty();
        if (!hasLower && !hasUpper) {
            closeBand();
            continue;
        }
        if (!upperLine) {
            upperLine = new QLineSeries();
            lowerLine = new QLineSeries();
        }
        const qreal x = axisTime(point.when);
        upperLine->append(x, hasUpper ? leadingNumber(point.upperBound.toStdString()) : axisHigh);
        lowerLine->append(x, hasLower ? leadingNumber(point.lowerBound.toStdString()) : axisLow);
    }
    closeBand();

    auto* timeAxis = new QDateTimeAxis();
    timeAxis->setFormat(QStringLiteral("d/M/yyyy"));
    timeAxis->setTitleText(QStringLiteral("Data setului"));
    qint64 first = points.empty() ? 0 : axisTime(points.front().when);
    qint64 last = points.empty() ? 0 : axisTime(points.back().when);
    const qint64 day = 24 * 3600 * 1000LL;
    const qint64 pad = std::max((last - first) / 20, day / 2);
    timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(first - pad), QDateTime::fromMSecsSinceEpoch(last + pad));
    timeAxis->setTickCount(std::clamp(static_cast<int>(points.size()), 2, 8));
    m_chart->addAxis(timeAxis, Qt::AlignBottom);
    m_chart->addAxis(valueAxis, Qt::AlignLeft);

    // The band first, so that the values are drawn over it.
    for (std::size_t i = 0; i < bands.size(); ++i) {
        m_chart->addSeries(bands[i]);
        bands[i]->attachAxis(timeAxis);
        bands[i]->attachAxis(valueAxis);
        QColor fill = QColor(60, 170, 90);
        bands[i]->setPen(QPen(fill, 1));
        fill.setAlpha(70);
        bands[i]->setBrush(fill);
        if (i > 0) {
            for (QLegendMarker* marker : m_chart->legend()->markers(bands[i]))
                marker->setVisible(false);
        }
    }
    for (QXYSeries* series : {static_cast<QXYSeries*>(values), static_cast<QXYSeries*>(outside)}) {
        m_chart->addSeries(series);
        series->attachAxis(timeAxis);
        series->attachAxis(valueAxis);
    }
    // Colours of their own, apart from the band's green, readable on either theme's background.
    const bool dark = m_chart->theme() == QChart::ChartThemeDark;
    values->setPen(QPen(dark ? QColor(120, 180, 255) : QColor(25, 80, 190), 2));
    values->setColor(dark ? QColor(120, 180, 255) : QColor(25, 80, 190));
    outside->setColor(QColor(215, 40, 40));
    outside->setBorderColor(QColor(215, 40, 40));
    outside->setMarkerShape(QScatterSeries::MarkerShapeRectangle);

    QStringList lines;
    if (!notPlotted.isEmpty())
        lines << QString::fromLatin1(kNotPlotted).arg(notPlotted.join(QStringLiteral("; ")));
    if (!undated.isEmpty())
        lines << QString::fromLatin1(kUndated).arg(undated.join(QStringLiteral("; ")));
    m_notPlotted->setText(lines.isEmpty() ? QString::fromLatin1(kNotPlottedNone) : lines.join(QLatin1Char('\n')));
}

void TrendChart::applyPalette() {
    // A dark window gets the dark chart, so text and grid stay readable in either desktop theme.
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    const QChart::ChartTheme theme = dark ? QChart::ChartThemeDark : QChart::ChartThemeLight;
    if (m_chart->theme() != theme) {
        m_chart->setTheme(theme);
        // The theme repaints the series in its own colours; the band and the marks get theirs back.
        std::vector<TrendPoint> points = m_points;
        showParameter(m_title, m_unit, std::move(points));
    }
}

void TrendChart::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        applyPalette();
    QWidget::changeEvent(event);
}

bool TrendChart::writeImage(const QString& fileName, QString* error) {
    const QSize size = m_view->size();
    if (size.isEmpty()) {
        *error = QString::fromLatin1(kEmptyImage);
        return false;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    bool written = false;
    if (QFileInfo(fileName).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(m_chart->title());
        QPainter painter;
        written = painter.begin(&svg);
        if (written) {
            m_view->render(&painter);
            written = painter.end();
        }
    } else {
        written = m_view->grab().save(&file, "PNG");
    }
    if (!written || file.error() != QFileDevice::NoError || !file.flush()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool TrendChart::saveImage(const QString& fileName) {
    QString error;
    if (writeImage(fileName, &error))
        return true;
    labrosaMessageBox(QString::fromLatin1(kMsgSaveFailed).arg(QDir::toNativeSeparators(fileName), error), this);
    return false;
}

void TrendChart::copyImage() {
    QGuiApplication::clipboard()->setImage(m_view->grab().toImage());
}

void TrendChart::saveWithDialog() {
    const QString png = QString::fromLatin1(kFilterPng);
    const QString svg = QString::fromLatin1(kFilterSvg);
    QString filter = png;
    QString name = m_title;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]+")), QStringLiteral("-"));
    QString fileName =
        QFileDialog::getSaveFileName(this, QString::fromLatin1(kSaveCaption), name + QStringLiteral(".png"),
                                     png + QStringLiteral(";;") + svg, &filter);
    if (fileName.isEmpty())
        return;
    if (QFileInfo(fileName).suffix().isEmpty())
        fileName += filter == svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    saveImage(fileName);
}
