#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLineEdit;
class QPushButton;

// Asks why a set whose request already has a released bulletin is corrected. The reason is
// required: OK stays disabled until one is typed; Cancel makes no correction. Object names:
// "labelReason", "editReason".
class AmendmentReasonDialog : public QDialog {
    Q_OBJECT
public:
    explicit AmendmentReasonDialog(const QString& requestId, QWidget* parent = nullptr);

    QString reason() const;

    // Tests answer in place of the user: the hook gets the dialog (not shown) and returns the
    // reason, or a null text for Cancel. An empty function restores the modal dialog.
    static void setAnswerHook(std::function<QString(AmendmentReasonDialog&)> hook);
    // The reason given, or false when none was (Cancel).
    static bool ask(const QString& requestId, QWidget* parent, QString* reason);

    static constexpr int kMaxReasonLength = 200;

private:
    QLineEdit* m_reason = nullptr;
    QPushButton* m_ok = nullptr;
};
