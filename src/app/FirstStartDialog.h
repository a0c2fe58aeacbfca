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
// "optionFolder", "optionServer", "optionDemo", "optionEmpty", "editServer", "spinPort", "editDatabase",
// "editUser", "editPassword".
class FirstStartDialog : public QDialog {
    Q_OBJECT
public:
    // explanation says what is missing; start fills the fields (the password too, if known).
    FirstStartDialog(const QString& explanation, const LabChoice& start, QWidget* parent = nullptr);

    // The laboratory chosen, once the dialog was accepted.
    LabChoice choice() const { return m_choice; }

    // Starts with "a new empty laboratory" chosen, as the Laborator menu's New laboratory asks.
    void chooseNewEmptyLaboratory();

    void accept() override;

private:
    void updateFields();
    void browse();

    QLabel* m_explanation = nullptr;
    QLineEdit* m_folder = nullptr;
    QPushButton* m_browse = nullptr;
    QRadioButton* m_optionFolder = nullptr;
    QRadioButton* m_optionServer = nullptr;
    QRadioButton* m_optionDemo = nullptr;
    QRadioButton* m_optionEmpty = nullptr;
    QLineEdit* m_server = nullptr;
    QSpinBox* m_port = nullptr;
    QLineEdit* m_database = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QWidget* m_serverFields = nullptr;
    LabChoice m_choice;
};
