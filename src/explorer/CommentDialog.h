#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;

// The comment of a result set in a small modal dialog. The caller lends its text: the
// dialog shows it on opening and writes the edited text back on OK only, and only when it
// differs from the text the box showed (a NULL comment shows as an empty box, so OK on it
// unchanged is no change either).
class CommentDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxCommentLength = 9999;

    explicit CommentDialog(QWidget* parent = nullptr);
    ~CommentDialog() override;

    int exec() override;
    void accept() override;
    // After OK: whether the text differs from what the box showed on opening.
    bool textChanged() const { return m_changed; }

    QString* m_text = nullptr; // not owned

protected:
    void onInitDialog();
    void onOK();

private:
    void enforceLimit();

    QPlainTextEdit* m_edit = nullptr;
    QString m_shownText; // the box's text on opening
    bool m_changed = false;
    bool m_enforcing = false;
};
