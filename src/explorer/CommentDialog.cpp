#include "CommentDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

CommentDialog::CommentDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Dialog"));
    setObjectName(QStringLiteral("dlgComment"));

    m_edit = new QPlainTextEdit(this);
    m_edit->setObjectName(QStringLiteral("editComment"));
    m_edit->setTabChangesFocus(true);
    m_edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_edit->setAccessibleName(QStringLiteral("Comentariu"));

    auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    ok->setObjectName(QStringLiteral("buttonOk"));
    cancel->setObjectName(QStringLiteral("buttonCancel"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &CommentDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CommentDialog::reject);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_edit, 1);
    layout->addWidget(buttons, 0, Qt::AlignTop);
    resize(560, 260);

    // Typing and pasting both end up here, so the limit holds for every way text arrives.
    connect(m_edit, &QPlainTextEdit::textChanged, this, &CommentDialog::enforceLimit);
}

CommentDialog::~CommentDialog() = default;

int CommentDialog::exec() {
    onInitDialog();
    return QDialog::exec();
}

void CommentDialog::accept() {
    onOK();
}

void CommentDialog::onInitDialog() {
    if (m_text)
        m_edit->setPlainText(*m_text);
    // As shown: line breaks as the box keeps them, a text beyond the limit cut.
    m_shownText = m_edit->toPlainText();
    m_changed = false;
    m_edit->moveCursor(QTextCursor::End);
    m_edit->setFocus();
}

void CommentDialog::onOK() {
    const QString text = m_edit->toPlainText().left(kMaxCommentLength);
    m_changed = text != m_shownText;
    if (m_text && m_changed)
        *m_text = text;
    QDialog::accept();
}

void CommentDialog::enforceLimit() {
    if (m_enforcing)
        return;
    const QString text = m_edit->toPlainText();
    const int excess = text.size() - kMaxCommentLength;
    if (excess <= 0)
        return;
    m_enforcing = true;
    // Drop what was just typed or pasted (the characters before the cursor); a text that
    // arrived too long as a whole is cut at its end.
    QTextCursor cursor = m_edit->textCursor();
    if (cursor.position() >= excess && !cursor.hasSelection()) {
        cursor.setPosition(cursor.position() - excess, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else {
        cursor.setPosition(kMaxCommentLength);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    m_edit->setTextCursor(cursor);
    m_enforcing = false;
    QApplication::beep();
}
