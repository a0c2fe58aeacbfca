#pragma once

#include <QDialog>

#include <vector>

#include "UnmatchedResults.h"

class DatabaseConnection;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// "Rezultate nepotrivite": the analysers' connections (state, last message, last problem) and
// the received results that wait for a request or a parameter. The technician picks a result,
// names the request and the parameter, and "Pune in set" puts it into the set; nothing is
// dropped; "checkRemember" keeps the analyser's code for that parameter from then on. Child
// widgets: "listAnalysers", "listUnmatched", "editRequestId", "comboParameter", "checkRemember",
// "buttonApply", "buttonRefresh", "buttonClose".
class UnmatchedResultsWindow : public QDialog {
    Q_OBJECT
public:
    UnmatchedResultsWindow(DatabaseConnection* database, QWidget* parent = nullptr);

    // Reads both lists again; false when they could not be read (the reason in errorText()).
    bool reload();
    QString errorText() const { return m_error; }

    // The window over the open database, or a message when it has no receiver's tables or they
    // cannot be read.
    static void showFor(DatabaseConnection* database, QWidget* parent);

public slots:
    void onApply();

private:
    void onCurrentChanged();

    UnmatchedResults m_queue;
    std::vector<UnmatchedResult> m_waiting;
    QTreeWidget* m_analysers = nullptr;
    QTreeWidget* m_unmatched = nullptr;
    QLineEdit* m_requestId = nullptr;
    QComboBox* m_parameter = nullptr;
    QCheckBox* m_remember = nullptr;
    QPushButton* m_apply = nullptr;
    QString m_error;
};
