#include "InPlaceComboBox.h"

#include "EditableListView.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWheelEvent>

#include <algorithm>

namespace {
// When the shared drop-down list last opened; a double click that arrives sooner was begun on the list.
QElapsedTimer g_openedAt;
} // namespace

InPlaceComboBox::InPlaceComboBox() : QComboBox(nullptr) {
    setObjectName(QStringLiteral("inPlaceCombo"));
    setEditable(false);
    hide();
}

InPlaceComboBox::~InPlaceComboBox() {
    m_hasWindow = false;
    forgetInstance(this);
}

bool InPlaceComboBox::startCellEdit(unsigned style, const QRect& rect, EditableListView* parent, int controlId, int row,
                                    int column, const QStringList& entries, const QString& startText) {
    m_row = row;
    m_column = column;
    m_cancelled = false;
    m_entries = entries;
    m_startText = startText;
    bool result = true;
    if (!m_hasWindow)
        result = createWindow(style, rect, parent, controlId);
    setCurrentIndex(-1);
    return result;
}

bool InPlaceComboBox::createWindow(unsigned style, const QRect& rect, EditableListView* parent, int controlId) {
    if (!parent || rect.height() <= 0)
        return false;
    constexpr unsigned WS_HSCROLL = 0x00100000;
    constexpr unsigned WS_VSCROLL = 0x00200000;
    constexpr unsigned CBS_DISABLENOSCROLL = 0x0800;
    m_list = parent;
    m_controlId = controlId;
    m_dropRect = rect;
    setParent(parent->viewport());

    // The combo itself covers the cell; the rest of the rectangle is its drop-down part,
    // measured in lines of the cell's height.
    const int cellHeight = parent->uniformRowHeight() > 0 ? parent->uniformRowHeight() : rect.height();
    const int lines = std::max(1, rect.height() / cellHeight - 1);
    setGeometry(QRect(rect.left(), rect.top(), rect.width(), std::min(cellHeight, rect.height())));
    setMaxVisibleItems(lines);
    const Qt::ScrollBarPolicy shown = (style & CBS_DISABLENOSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded;
    view()->setVerticalScrollBarPolicy((style & WS_VSCROLL) ? shown : Qt::ScrollBarAlwaysOff);
    view()->setHorizontalScrollBarPolicy((style & WS_HSCROLL) ? shown : Qt::ScrollBarAlwaysOff);
    setFont(parent->font());
    m_hasWindow = true;
    ++m_windowSerial;
    g_openedAt.start();
    show();
    setFocus(Qt::OtherFocusReason);
    clear();
    addItems(m_entries);
    return true;
}

int InPlaceComboBox::selectString(const QString& text) {
    // An empty cell would match every entry; choosing the first one for the user would
    // store a value nobody picked as soon as the edit ends.
    if (text.isEmpty())
        return -1;
    // The cell's own entry comes first: with names sorted byte by byte, "HEMO complet" stands
    // before "Hemo" and, taken as a prefix match, would be stored when the edit merely ends.
    int found = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    for (int i = 0; i < count() && found < 0; ++i) {
        if (itemText(i).startsWith(text, Qt::CaseInsensitive))
            found = i;
    }
    if (found >= 0)
        setCurrentIndex(found);
    return found;
}

void InPlaceComboBox::showPopup() {
    m_popupOpen = true;
    QComboBox::showPopup();
}

void InPlaceComboBox::hidePopup() {
    const bool wasOpen = m_popupOpen;
    m_popupOpen = false;
    QComboBox::hidePopup();
    // Closing the drop-down part, by any means, ends the edit. The combo box applies a
    // chosen entry only after it has closed the drop-down part, so the edit ends just after.
    if (wasOpen && m_hasWindow && m_list) {
        QMetaObject::invokeMethod(
            this,
            [this]() {
                if (m_hasWindow && m_list && hasFocus())
                    m_list->setFocus(Qt::OtherFocusReason);
            },
            Qt::QueuedConnection);
    }
}

bool InPlaceComboBox::event(QEvent* event) {
    // The first press of a double click on a cell opened this box under the pointer, so the
    // second press lands here: it belongs to the list (the row's double click). Nothing was
    // chosen, so the edit is dropped without a report.
    if (event->type() == QEvent::MouseButtonDblClick && m_list && !m_popupOpen && g_openedAt.isValid() &&
        g_openedAt.elapsed() <= QApplication::doubleClickInterval()) {
        const QPointer<EditableListView> list = m_list;
        g_openedAt.invalidate();
        dropEdit();
        forwardDoubleClick(static_cast<QMouseEvent*>(event), list);
        return true;
    }
    // Enter and Escape end the edit here, so the form around the list never sees them; Tab and
    // Shift+Tab end it too, and the list goes on along the row instead of the focus chain.
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const int k = key->key();
        if (k == Qt::Key_Escape || k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Tab ||
            k == Qt::Key_Backtab) {
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            if (k == Qt::Key_Escape)
                m_cancelled = true;
            else
                m_exit = exitOfKey(*key);
            if (m_list)
                m_list->setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    return QComboBox::event(event);
}

void InPlaceComboBox::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    // Opening the drop-down part moves the focus into it; the edit goes on.
    if (event->reason() == Qt::PopupFocusReason || m_popupOpen || QApplication::activePopupWidget() || !m_hasWindow)
        return;
    endEdit();
}

void InPlaceComboBox::wheelEvent(QWheelEvent* event) {
    // A wheel turned while the pointer merely rests on the closed box would step to another
    // profile, stored for the whole request when the cell is left. Only a choice in the open
    // drop-down part or a key changes the entry; the wheel is taken here and does nothing.
    event->accept();
}

void InPlaceComboBox::endEdit() {
    QPointer<EditableListView> list = m_list;
    const QString windowText = currentIndex() >= 0 ? currentText() : QString();
    if (list)
        list->onEndLabelEdit(
            endLabelEditRecord(list, m_controlId, m_row, m_column, m_cancelled ? m_startText : windowText));
    // The close is posted before the owner hears of the end, so that it comes before any
    // editor the list opens next along the row.
    const unsigned serial = m_windowSerial;
    QMetaObject::invokeMethod(
        this,
        [this, serial]() {
            if (serial == m_windowSerial)
                closeWindow();
        },
        Qt::QueuedConnection);
    const EditableListView::EditExit exit = m_exit;
    m_exit = EditableListView::EditExit::Other;
    // Tab through a cell without changing it is a move, not a choice to store.
    const bool passed = (exit == EditableListView::EditExit::next || exit == EditableListView::EditExit::Previous) &&
                        !m_cancelled && windowText == m_startText;
    if (list && passed)
        list->onEditorPassed(m_row, m_column, exit);
    else if (list)
        list->onEditorDone(m_row, m_column, exit);
}

void InPlaceComboBox::dropEdit() {
    if (!m_hasWindow)
        return;
    const bool focused = hasFocus() || m_popupOpen;
    const QPointer<EditableListView> list = m_list;
    closeWindow();
    if (focused && list)
        list->setFocus(Qt::OtherFocusReason);
}

void InPlaceComboBox::closeWindow() {
    if (!m_hasWindow)
        return;
    m_hasWindow = false;
    if (m_popupOpen) {
        m_popupOpen = false;
        QComboBox::hidePopup();
    }
    hide();
    setParent(nullptr);
}
