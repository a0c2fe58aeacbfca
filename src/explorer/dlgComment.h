#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;

// The comment of a result set in a small modal dialog. The caller lends its text: the
// dialog shows it on opening and writes the edited text back on OK only.
class dlgComment : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxCommentLength = 9999;

    explicit dlgComment(QWidget* parent = nullptr);
    ~dlgComment() override;

    int exec() override;
    void accept() override;

    QString* m_pText = nullptr; // not owned

protected:
    void OnInitDialog();
    void OnOK();

private:
    void EnforceLimit();

    QPlainTextEdit* m_pEdit = nullptr;
    bool m_enforcing = false;
};
