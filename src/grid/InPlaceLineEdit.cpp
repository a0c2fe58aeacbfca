#include "InPlaceLineEdit.h"

#include "EditableListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {
// When the shared edit box last opened; a double click that arrives sooner was begun on the list.
QElapsedTimer g_openedAt;
} // namespace

InPlaceLineEdit::InPlaceLineEdit() : QLineEdit(nullptr) {
    setObjectName(QStringLiteral("inPlaceEdit"));
    hide();
}

InPlaceLineEdit::~InPlaceLineEdit() {
    // Leaving the edit because the object goes away must not report anything.
    m_hasWindow = false;
    forgetInstance(this);
}

bool InPlaceLineEdit::startCellEdit(unsigned style, const QRect& rect, EditableListView* parent, int controlId, int row,
                                    int column, const QString& acceptedChars, const QString& startText) {
    m_row = row;
    m_column = column;
    m_acceptedChars = acceptedChars;
    m_startText = startText;
    m_cancelled = false;
    if (m_hasWindow)
        return true;
    return createWindow(style, rect, parent, controlId);
}

bool InPlaceLineEdit::createWindow(unsigned style, const QRect& rect, EditableListView* parent, int controlId) {
    if (!parent)
        return false;
    constexpr unsigned WS_BORDER = 0x00800000;
    m_list = parent;
    m_controlId = controlId;
    setParent(parent->viewport());
    setFrame((style & WS_BORDER) != 0);
    setGeometry(rect);
    setFont(parent->font());
    m_hasWindow = true;
    ++m_windowSerial;
    g_openedAt.start();
    show();
    setText(m_startText);
    selectAll();
    setFocus(Qt::OtherFocusReason);
    return true;
}

bool InPlaceLineEdit::event(QEvent* event) {
    // The first press of a double click on a cell opened this box under the pointer, so the
    // second press lands here: it belongs to the list (the row's double click), and the
    // untouched edit ends as a plain loss of focus would.
    if (event->type() == QEvent::MouseButtonDblClick && m_list && g_openedAt.isValid() &&
        g_openedAt.elapsed() <= QApplication::doubleClickInterval()) {
        g_openedAt.invalidate();
        forwardDoubleClick(static_cast<QMouseEvent*>(event), m_list);
        return true;
    }
    // Enter, Tab and Escape end the edit before the line edit, the focus chain or the
    // form around the list can act on them; Tab and Shift+Tab then go on along the row.
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            if (key->key() == Qt::Key_Escape) {
                m_cancelled = true;
            } else {
                m_endedByKey = true;
                m_exit = exitOfKey(*key);
            }
            if (m_list)
                m_list->setFocus(Qt::OtherFocusReason);
            return true;
        default:
            break;
        }
    }
    return QLineEdit::event(event);
}

void InPlaceLineEdit::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    if (!m_acceptedChars.isEmpty() && !text.isEmpty()) {
        const QChar ch = text.at(0);
        const bool control = event->modifiers() & Qt::ControlModifier;
        const int key = event->key();
        // Backspace and the clipboard keys keep working whatever the accepted set.
        const bool exempt = key == Qt::Key_Backspace || ch == QChar(8) || ch == QChar(3) || ch == QChar(22) ||
                            ch == QChar(24) || (control && (key == Qt::Key_C || key == Qt::Key_V || key == Qt::Key_X));
        const bool isCharacter = ch.isPrint() || ch.unicode() < 0x20;
        if (isCharacter && !exempt && !m_acceptedChars.contains(ch)) {
            QApplication::beep();
            emit characterRefused(ch);
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void InPlaceLineEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // The line edit's own context menu takes the focus for a moment; that is no end of edit.
    if (event->reason() == Qt::PopupFocusReason || QApplication::activePopupWidget() || !m_hasWindow)
        return;
    endEdit();
}

void InPlaceLineEdit::endEdit() {
    QPointer<EditableListView> list = m_list;
    // Only Enter or Tab keep the typed text; a plain loss of focus puts the start text back
    // so the cell never shows a correction that was not stored.
    const bool keep = !m_cancelled && m_endedByKey;
    if (list)
        list->onEndLabelEdit(endLabelEditRecord(list, m_controlId, m_row, m_column, keep ? text() : m_startText));

    const unsigned serial = m_windowSerial;
    QMetaObject::invokeMethod(
        this,
        [this, serial]() {
            if (serial == m_windowSerial)
                closeWindow();
        },
        Qt::QueuedConnection);
    if (m_endedByKey) {
        const int row = m_row;
        const int column = m_column;
        const EditableListView::EditExit exit = m_exit;
        // Tab through a cell without changing it is a move, not a correction to store.
        const bool passed =
            (exit == EditableListView::EditExit::next || exit == EditableListView::EditExit::Previous) && keep &&
            text() == m_startText;
        if (list)
            QMetaObject::invokeMethod(
                list,
                [list, row, column, exit, passed]() {
                    if (passed)
                        list->onEditorPassed(row, column, exit);
                    else
                        list->onEditorDone(row, column, exit);
                },
                Qt::QueuedConnection);
        m_endedByKey = false;
    }
    m_exit = EditableListView::EditExit::Other;
}

void InPlaceLineEdit::dropEdit() {
    if (!m_hasWindow)
        return;
    const bool focused = hasFocus();
    const QPointer<EditableListView> list = m_list;
    closeWindow();
    if (focused && list)
        list->setFocus(Qt::OtherFocusReason);
}

void InPlaceLineEdit::closeWindow() {
    if (!m_hasWindow)
        return;
    m_hasWindow = false;
    hide();
    setParent(nullptr);
}
