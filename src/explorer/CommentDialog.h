#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;

// The comment of a result set in a small modal dialog. The caller lends its text: the
// dialog shows it on opening and writes the edited text back on OK only.
class CommentDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxCommentLength = 9999;

    explicit CommentDialog(QWidget* parent = nullptr);
    ~CommentDialog() override;

    int exec() override;
    void accept() override;

    QString* m_text = nullptr; // not owned

protected:
    void onInitDialog();
    void onOK();

private:
    void enforceLimit();

    QPlainTextEdit* m_edit = nullptr;
    bool m_enforcing = false;
};
