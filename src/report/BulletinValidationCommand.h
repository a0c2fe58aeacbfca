#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

#include "BulletinBuilder.h"
#include "SignatoryList.h"

class DatabaseConnection;
class Recordset;
class QComboBox;
class QLabel;
class QLineEdit;
class SharedState;

// Shows what is about to be validated (the request, its sets and the page as it will be
// released, drawn like the bulletin window) and asks which signatory signs and their signing
// password, checked (and recorded) before the dialog closes: a wrong one is said in the dialog
// and may be typed again. Anyone at the workstation may sign as a signatory who types their
// password. Object names: "labelValidated", "comboSignatory", "editPassword", "labelPasswordError",
// "validationPreview", "buttonValidate".
class ValidationConfirmDialog : public QDialog {
    Q_OBJECT
public:
    // signatories: the active ones; the one whose login is preselected first, if any.
    ValidationConfirmDialog(const QString& summary, const std::vector<Signatory>& signatories, const QString& login,
                            const QByteArray& bulletin, DatabaseConnection* database, QWidget* parent = nullptr);

    // Tests answer in place of the user: the hook gets the dialog (not shown), may choose the
    // signatory and type the password, and says whether to validate; the password is then
    // checked as the button checks it. An empty function restores the modal dialog.
    static void setAnswerHook(std::function<bool(ValidationConfirmDialog&)> hook);
    // The hook's answer when one is set, else the user's; true once the password was accepted.
    bool ask();

    // The signatory chosen (by login; false when there is no such one) and the password typed.
    bool setSignatory(const QString& login);
    void setPassword(const QString& password);
    const Signatory* signatory() const;
    QString password() const;
    // Why the last password was refused, as the dialog says it.
    QString refusal() const;

    void accept() override;

private:
    // Checks the password (recorded by the database); false after saying why in the dialog.
    bool passwordAccepted();

    std::vector<Signatory> m_signatories;
    DatabaseConnection* m_database;
    QComboBox* m_signatory = nullptr;
    QLineEdit* m_password = nullptr;
    QLabel* m_refusal = nullptr;
};

// "Valideaza" on the bulletin of (recordId, requestId, day): an active signatory of the
// laboratory validates it with their signing password. Messages to show are in the result.
BulletinBuildResult validateBulletin(Recordset& recordset, SharedState& sharedState, int recordId,
                                     const QString& requestId, const QString& day, QWidget* parent);
