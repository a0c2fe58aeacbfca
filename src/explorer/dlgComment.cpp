#include "dlgComment.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

dlgComment::dlgComment(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Dialog"));
    setObjectName(QStringLiteral("dlgComment"));

    m_pEdit = new QPlainTextEdit(this);
    m_pEdit->setObjectName(QStringLiteral("editComment"));
    m_pEdit->setTabChangesFocus(true);
    m_pEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pEdit->setAccessibleName(QStringLiteral("Comentariu"));

    auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    ok->setObjectName(QStringLiteral("buttonOk"));
    cancel->setObjectName(QStringLiteral("buttonCancel"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &dlgComment::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &dlgComment::reject);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_pEdit, 1);
    layout->addWidget(buttons, 0, Qt::AlignTop);
    resize(560, 260);

    // Typing and pasting both end up here, so the limit holds for every way text arrives.
    connect(m_pEdit, &QPlainTextEdit::textChanged, this, &dlgComment::EnforceLimit);
}

dlgComment::~dlgComment() = default;

int dlgComment::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void dlgComment::accept() {
    OnOK();
}

void dlgComment::OnInitDialog() {
    if (m_pText)
        m_pEdit->setPlainText(*m_pText);
    m_pEdit->moveCursor(QTextCursor::End);
    m_pEdit->setFocus();
}

void dlgComment::OnOK() {
    if (m_pText)
        *m_pText = m_pEdit->toPlainText().left(kMaxCommentLength);
    QDialog::accept();
}

void dlgComment::EnforceLimit() {
    if (m_enforcing)
        return;
    const QString text = m_pEdit->toPlainText();
    const int excess = text.size() - kMaxCommentLength;
    if (excess <= 0)
        return;
    m_enforcing = true;
    // Drop what was just typed or pasted (the characters before the cursor); a text that
    // arrived too long as a whole is cut at its end.
    QTextCursor cursor = m_pEdit->textCursor();
    if (cursor.position() >= excess && !cursor.hasSelection()) {
        cursor.setPosition(cursor.position() - excess, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else {
        cursor.setPosition(kMaxCommentLength);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    m_pEdit->setTextCursor(cursor);
    m_enforcing = false;
    QApplication::beep();
}
