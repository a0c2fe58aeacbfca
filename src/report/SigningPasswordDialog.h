#pragma once

#include <QDialog>
#include <QString>

#include <vector>

#include "SignatoryList.h"

class DatabaseConnection;
class QComboBox;
class QLineEdit;

// A signatory sets their own signing password: the signatory, the current password (when one is
// set), the new one twice. OK keeps the dialog open with a message until the password is stored.
// Object names: "comboSignatory", "editCurrent", "editNew", "editRepeat".
class SigningPasswordDialog : public QDialog {
    Q_OBJECT
public:
    // signatories: the active ones; login is preselected when it is one of them.
    SigningPasswordDialog(DatabaseConnection* database, const std::vector<Signatory>& signatories, const QString& login,
                          QWidget* parent = nullptr);

    void accept() override;

private:
    DatabaseConnection* m_database;
    std::vector<Signatory> m_signatories;
    QComboBox* m_signatory;
    QLineEdit* m_current;
    QLineEdit* m_new;
    QLineEdit* m_repeat;
};
