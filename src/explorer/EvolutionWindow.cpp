#include "EvolutionWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <tuple>

#include "BulletinWriter.h"
#include "DatabaseConnection.h"
#include "DeltaLimits.h"
#include "MessageBox.h"
#include "TrendChart.h"

namespace {

const char* const kTitle = "Evolutie - %1";
const char* const kSamePatient = "Acelasi pacient: %1. Se arata %2, cel mai nou primul.";
const char* const kSamePatientOnly = "Acelasi pacient: %1.";
const char* const kSetCountLabel = "&Numar de seturi:";
const char* const kTableLabel = "&Valorile pe seturi:";
const char* const kColumnAnalysis = "Analiza";
const char* const kColumnParameter = "Parametru";
const char* const kSetHeader = "%1\ncererea %2";
const char* const kAbove = "peste intervalul %1";
const char* const kBelow = "sub intervalul %1";
const char* const kMsgNotRead = "Valorile anterioare ale pacientului nu au putut fi citite din baza de date, asa ca "
                                "nu sunt afisate; nu s-a schimbat nimic. Incercati din nou peste putin timp.\n%1";
const char* const kMsgSetGone = "Setul de rezultate nu mai este in baza de date (a fost sters intre timp).";
const char* const kMsgDeltaNotRead = "Limitele de variatie nu au putut fi citite, asa ca schimbarile fata de setul "
                                     "anterior nu sunt verificate.\n%1";
const int kDefaultSetCount = 10;
const int kMostSets = 200;

// "1 set", "12 seturi", "20 de seturi": Romanian puts "de" after 20..99 of each hundred.
QString setsText(int count) {
    if (count == 1)
        return QStringLiteral("1 set");
    const int rest = count % 100;
    return QStringLiteral("%1 %2seturi").arg(count).arg(rest == 0 || rest >= 20 ? QStringLiteral("de ") : QString());
}

QString intervalText(const QString& lower, const QString& upper) {
    return QStringLiteral("%1 - %2").arg(lower.trimmed(), upper.trimmed());
}

QString dateText(const QDateTime& when) {
    return QString::fromStdString(formatBulletinDate(QVariant(when)));
}

const HistoryValue* valueOf(const HistorySet& set, const std::pair<int, QString>& key) {
    for (const HistoryValue& value : set.values) {
        if (value.machineId == key.first && value.refcode == key.second)
            return &value;
    }
    return nullptr;
}

} // namespace

EvolutionWindow::EvolutionWindow(DatabaseConnection* database, qint64 resultId, const QString& patientName,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window), m_database(database), m_resultId(resultId) {
    setObjectName(QStringLiteral("evolutionWindow"));
    setWindowTitle(QString::fromLatin1(kTitle).arg(patientName.simplified()));
    setAttribute(Qt::WA_DeleteOnClose);

    m_samePatient = new QLabel(this);
    m_samePatient->setObjectName(QStringLiteral("labelSamePatient"));
    m_samePatient->setWordWrap(true);
    m_setCount = new QSpinBox(this);
    m_setCount->setObjectName(QStringLiteral("spinSetCount"));
    m_setCount->setRange(1, kMostSets);
    m_setCount->setValue(kDefaultSetCount);
    // A typed number is read once it is complete, not at each digit.
    m_setCount->setKeyboardTracking(false);
    auto* setCountLabel = new QLabel(QString::fromLatin1(kSetCountLabel), this);
    setCountLabel->setBuddy(m_setCount);

    m_failure = new QLabel(this);
    m_failure->setObjectName(QStringLiteral("labelEvolutionFailure"));
    m_failure->setWordWrap(true);
    m_failure->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_failure->hide();
    m_deltaFailure = new QLabel(this);
    m_deltaFailure->setObjectName(QStringLiteral("labelDeltaFailure"));
    m_deltaFailure->setWordWrap(true);
    m_deltaFailure->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_deltaFailure->hide();

    m_table = new QTableWidget(this);
    m_table->setObjectName(QStringLiteral("tableEvolution"));
    m_table->setAccessibleName(QStringLiteral("Valorile pacientului pe seturi"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* tableLabel = new QLabel(QString::fromLatin1(kTableLabel), this);
    tableLabel->setBuddy(m_table);
    // Ctrl+C copies the chosen cells as tab-separated text, marks included.
    auto* copy = new QAction(m_table);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    m_table->addAction(copy);
    connect(copy, &QAction::triggered, this, [this]() {
        QModelIndexList cells = m_table->selectionModel()->selectedIndexes();
        std::sort(cells.begin(), cells.end());
        QString text;
        int row = -1;
        for (const QModelIndex& cell : cells) {
            if (row >= 0)
                text += cell.row() == row ? QLatin1Char('\t') : QLatin1Char('\n');
            row = cell.row();
            text += cell.data().toString();
        }
        QApplication::clipboard()->setText(text);
    });

    m_chart = new TrendChart(this);
    m_chart->setObjectName(QStringLiteral("trendChart"));

    auto* top = new QHBoxLayout();
    top->addWidget(m_samePatient, 1);
    top->addWidget(setCountLabel);
    top->addWidget(m_setCount);
    auto* tablePart = new QWidget(this);
    auto* tableLayout = new QVBoxLayout(tablePart);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tableLayout->addWidget(tableLabel);
    tableLayout->addWidget(m_table);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(tablePart);
    splitter->addWidget(m_chart);
    splitter->setChildrenCollapsible(false);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_failure);
    layout->addWidget(m_deltaFailure);
    layout->addWidget(splitter, 1);
    resize(1000, 720);

    connect(m_table, &QTableWidget::currentCellChanged, this, &EvolutionWindow::showCurrentParameter);
    connect(m_setCount, qOverload<int>(&QSpinBox::valueChanged), this, &EvolutionWindow::onSetCountChanged);
}

bool EvolutionWindow::load() {
    PatientHistory history(m_database);
    const int shown = m_setCount->value();
    // One set more than shown: the oldest shown value is checked against the one before it.
    std::vector<HistorySet> sets = history.setsOf(m_resultId, shown + 1);
    m_error = history.errorText();
    if (sets.empty() && m_error.isEmpty())
        m_error = QString::fromLatin1(kMsgSetGone);
    if (!m_error.isEmpty()) {
        // Never an empty table that would read as a patient without earlier values.
        m_sets.clear();
        m_rowParameters.clear();
        m_table->clear();
        m_table->setRowCount(0);
        m_table->setColumnCount(0);
        m_table->setEnabled(false);
        m_chart->showParameter(QString(), QString(), {});
        m_samePatient->setText(QString::fromLatin1(kSamePatientOnly).arg(QLatin1String(kSamePatientRule)));
        QString reason = m_error;
        if (m_database && m_database->connectionLost())
            reason = QStringLiteral("Legatura cu serverul bazei de date s-a intrerupt.\n") + reason;
        m_failure->setText(QString::fromLatin1(kMsgNotRead).arg(reason.trimmed()));
        m_failure->show();
        return false;
    }
    m_failure->hide();
    m_table->setEnabled(true);
    fillTable(sets, shown);
    return true;
}

void EvolutionWindow::fillTable(const std::vector<HistorySet>& sets, int shownSets) {
    DeltaLimits limits;
    if (limits.load(m_database)) {
        m_deltaFailure->hide();
    } else {
        m_deltaFailure->setText(QString::fromLatin1(kMsgDeltaNotRead).arg(limits.errorText().trimmed()));
        m_deltaFailure->show();
    }

    const int shown = std::min(shownSets, static_cast<int>(sets.size()));
    m_sets.assign(sets.begin(), sets.begin() + shown);
    m_samePatient->setText(QString::fromLatin1(kSamePatient).arg(QLatin1String(kSamePatientRule), setsText(shown)));

    // The parameters in the bulletin's order: analysis (letter case aside), then the order
    // number; names and order come from the newest set holding the parameter.
    struct RowInfo {
        QString analyseName;
        QString refName;
        QString unit;
        int order = 0;
    };
    std::map<std::pair<int, QString>, RowInfo> parameters;
    for (int i = 0; i < shown; ++i) {
        for (const HistoryValue& value : m_sets[i].values)
            parameters.emplace(std::make_pair(value.machineId, value.refcode),
                               RowInfo{value.analyseName, value.refName.isEmpty() ? value.refcode : value.refName,
                                       value.unit, value.order});
    }
    m_rowParameters.clear();
    for (const auto& entry : parameters)
        m_rowParameters.push_back(entry.first);
    std::stable_sort(m_rowParameters.begin(), m_rowParameters.end(), [&](const auto& a, const auto& b) {
        const RowInfo& x = parameters.at(a);
        const RowInfo& y = parameters.at(b);
        return std::make_tuple(x.analyseName.toLower(), x.analyseName, x.order, x.refName) <
               std::make_tuple(y.analyseName.toLower(), y.analyseName, y.order, y.refName);
    });

    const int previousRow = m_table->currentRow();
    m_table->clear();
    m_table->setRowCount(static_cast<int>(m_rowParameters.size()));
    m_table->setColumnCount(2 + shown);
    QStringList headers{QString::fromLatin1(kColumnAnalysis), QString::fromLatin1(kColumnParameter)};
    for (int i = 0; i < shown; ++i)
        headers << QString::fromLatin1(kSetHeader).arg(dateText(m_sets[i].transferDate), m_sets[i].requestId);
    m_table->setHorizontalHeaderLabels(headers);

    for (int row = 0; row < static_cast<int>(m_rowParameters.size()); ++row) {
        const auto& key = m_rowParameters[row];
        const RowInfo& info = parameters.at(key);
        m_table->setItem(row, 0, new QTableWidgetItem(info.analyseName));
        const QString name =
            info.unit.trimmed().isEmpty() ? info.refName : QStringLiteral("%1 (%2)").arg(info.refName, info.unit);
        m_table->setItem(row, 1, new QTableWidgetItem(name));
        const DeltaLimit* limit = limits.find(key.first, key.second);
        for (int column = 0; column < shown; ++column) {
            const HistoryValue* value = valueOf(sets[column], key);
            if (!value)
                continue;
            QString text = value->value;
            QStringList notes;
            const std::string marker = bulletinMarker(value->value.toStdString(), value->lowerBound.toStdString(),
                                                      value->upperBound.toStdString());
            const QString interval = intervalText(value->lowerBound, value->upperBound);
            if (marker == kMarkerHigh) {
                text += QLatin1Char(' ') + QString::fromUtf8(kMarkHigh);
                notes << QString::fromLatin1(kAbove).arg(interval);
            } else if (marker == kMarkerLow) {
                text += QLatin1Char(' ') + QString::fromUtf8(kMarkLow);
                notes << QString::fromLatin1(kBelow).arg(interval);
            }
            if (limit) {
                // The previous value is the patient's next older set holding the parameter, shown or not.
                for (std::size_t older = column + 1; older < sets.size(); ++older) {
                    const HistoryValue* previous = valueOf(sets[older], key);
                    if (!previous)
                        continue;
                    const QString exceeded = DeltaLimits::exceededText(
                        *limit, previous->value, dateText(sets[older].transferDate), value->value);
                    if (!exceeded.isEmpty()) {
                        text += QLatin1Char(' ') + QString::fromUtf8(kMarkDelta);
                        notes << exceeded;
                    }
                    break;
                }
            }
            auto* item = new QTableWidgetItem(text);
            item->setToolTip(notes.join(QLatin1Char('\n')));
            item->setData(Qt::AccessibleTextRole, text);
            item->setData(Qt::AccessibleDescriptionRole, notes.join(QStringLiteral("; ")));
            m_table->setItem(row, 2 + column, item);
        }
    }
    m_table->resizeColumnsToContents();
    m_table->resizeRowsToContents();
    if (!m_rowParameters.empty())
        m_table->setCurrentCell(std::clamp(previousRow, 0, m_table->rowCount() - 1), 1);
    showCurrentParameter();
}

void EvolutionWindow::showCurrentParameter() {
    const int row = m_table->currentRow();
    if (row < 0 || row >= static_cast<int>(m_rowParameters.size())) {
        m_chart->showParameter(QString(), QString(), {});
        return;
    }
    const auto& key = m_rowParameters[row];
    std::vector<TrendPoint> points;
    QString title;
    QString unit;
    for (const HistorySet& set : m_sets) {
        const HistoryValue* value = valueOf(set, key);
        if (!value)
            continue;
        if (title.isEmpty()) {
            title = value->refName.isEmpty() ? value->refcode : value->refName;
            unit = value->unit;
        }
        points.push_back(
            TrendPoint{set.transferDate, set.requestId, value->value, value->lowerBound, value->upperBound});
    }
    m_chart->showParameter(title, unit, std::move(points));
}

void EvolutionWindow::onSetCountChanged() {
    if (!load())
        labrosaMessageBox(m_failure->text(), this);
}
