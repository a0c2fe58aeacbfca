#pragma once

#include <QDialog>

#include "LabFolder.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// Asks where the laboratory is when the program does not know: a folder holding lab.db, that
// folder with the database on a PostgreSQL server, or a new demo laboratory made in a folder.
// Child widgets carry object names: "explanation", "editFolder", "buttonBrowse",
// "optionFolder", "optionServer", "optionDemo", "editServer", "spinPort", "editDatabase",
// "editUser", "editPassword".
class FirstStartDialog : public QDialog {
    Q_OBJECT
public:
    // explanation says what is missing; start fills the fields (the password too, if known).
    FirstStartDialog(const QString& explanation, const LabChoice& start, QWidget* parent = nullptr);

    // The laboratory chosen, once the dialog was accepted.
    LabChoice choice() const { return m_choice; }

    void accept() override;

private:
    void UpdateFields();
    void Browse();

    QLabel* m_pExplanation = nullptr;
    QLineEdit* m_pFolder = nullptr;
    QPushButton* m_pBrowse = nullptr;
    QRadioButton* m_pOptionFolder = nullptr;
    QRadioButton* m_pOptionServer = nullptr;
    QRadioButton* m_pOptionDemo = nullptr;
    QLineEdit* m_pServer = nullptr;
    QSpinBox* m_pPort = nullptr;
    QLineEdit* m_pDatabase = nullptr;
    QLineEdit* m_pUser = nullptr;
    QLineEdit* m_pPassword = nullptr;
    QWidget* m_pServerFields = nullptr;
    LabChoice m_choice;
};
