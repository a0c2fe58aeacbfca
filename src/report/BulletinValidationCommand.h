#pragma once

#include <QDialog>
#include <QString>

#include <functional>

#include "BulletinBuilder.h"

class Recordset;
class QLabel;
class QTextBrowser;
class SharedState;
struct Signatory;

// Shows what a signatory is about to validate (the request, its sets and the bulletin as it
// will be released) and asks to confirm. Object names: "labelValidated", "labelSignatory",
// "validationPreview", "buttonValidate".
class ValidationConfirmDialog : public QDialog {
    Q_OBJECT
public:
    ValidationConfirmDialog(const QString& summary, const Signatory& signatory, const QByteArray& bulletin,
                            QWidget* parent = nullptr);

    // Tests answer in place of the user: the hook gets the dialog (not shown) and says whether to
    // validate. An empty function restores the modal dialog.
    static void setAnswerHook(std::function<bool(ValidationConfirmDialog&)> hook);
    // The hook's answer when one is set, else the user's.
    bool ask();
};

// "Valideaza" on the bulletin of (recordId, requestId, day): only an active signatory of the
// laboratory may validate; anyone else is told who may. Messages to show are in the result.
// The preliminary bulletin a window is about to show, so that the window can offer to validate it.
struct PreliminaryBulletin {
    SharedState* sharedState = nullptr; // null: nothing to validate
    int recordId = 0;
    QString requestId;
    QString day;
};
void setPendingPreliminaryBulletin(const PreliminaryBulletin& bulletin);
// What the last bulletin made left for its window, and forgets it.
PreliminaryBulletin takePendingPreliminaryBulletin();

BulletinBuildResult validateBulletin(Recordset& recordset, SharedState& sharedState, int recordId,
                                     const QString& requestId, const QString& day, QWidget* parent);
