#pragma once

#include <QString>
#include <QWidget>

#include <utility>
#include <vector>

#include "PatientHistory.h"

class DatabaseConnection;
class QLabel;
class QSpinBox;
class QTableWidget;
class TrendChart;

// "Evolutie": the values of a patient's latest sets side by side, one row per parameter and
// one column per set (newest first), each with its mark against its own set's interval and,
// where the laboratory keeps delta limits, a mark for a change beyond its limit; under it the
// chosen parameter's plot. Not modal: the results window stays usable.
// Object names: "labelSamePatient", "spinSetCount", "tableEvolution", "labelEvolutionFailure",
// "labelDeltaFailure", "trendChart".
class EvolutionWindow : public QWidget {
    Q_OBJECT
public:
    EvolutionWindow(DatabaseConnection* database, qint64 resultId, const QString& patientName,
                    QWidget* parent = nullptr);

    // Reads the sets and fills the table; false with errorText() when the question failed, and
    // then the window says so in place of the table.
    bool load();
    QString errorText() const { return m_error; }

    QTableWidget* table() const { return m_table; }
    TrendChart* trendChart() const { return m_chart; }

    // Marks of a value against its interval, in the table's texts.
    static constexpr const char* kMarkHigh = "\u2191";
    static constexpr const char* kMarkLow = "\u2193";
    static constexpr const char* kMarkDelta = "\u0394";

private:
    void fillTable(const std::vector<HistorySet>& sets, int shownSets);
    void showCurrentParameter();
    void onSetCountChanged();

    DatabaseConnection* m_database;
    qint64 m_resultId;
    QLabel* m_samePatient = nullptr;
    QSpinBox* m_setCount = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_failure = nullptr;
    QLabel* m_deltaFailure = nullptr;
    TrendChart* m_chart = nullptr;
    QString m_error;
    std::vector<HistorySet> m_sets;                       // the shown sets, newest first
    std::vector<std::pair<int, QString>> m_rowParameters; // (machine, refcode) of each table row
};
