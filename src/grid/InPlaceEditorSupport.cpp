#include "InPlaceEditorSupport.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>

NMLVDISPINFO EndLabelEditRecord(CComboListCtrl* list, int controlId, int row, int column, const QString& text) {
    NMLVDISPINFO info;
    info.hwndFrom = list;
    info.idFrom = controlId;
    info.iItem = row;
    info.iSubItem = column;
    info.pszText = text;
    info.cchTextMax = static_cast<int>(text.toUtf8().size());
    return info;
}

CComboListCtrl::EditExit ExitOfKey(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Backtab || (key.key() == Qt::Key_Tab && (key.modifiers() & Qt::ShiftModifier)))
        return CComboListCtrl::EditExit::Previous;
    if (key.key() == Qt::Key_Tab)
        return CComboListCtrl::EditExit::Next;
    return CComboListCtrl::EditExit::Enter;
}

void ForwardDoubleClick(const QMouseEvent* mouse, CComboListCtrl* list) {
    if (!list)
        return;
    QWidget* viewport = list->viewport();
    const QPointF global = mouse->globalPosition();
    QMouseEvent forwarded(QEvent::MouseButtonDblClick, viewport->mapFromGlobal(global), global, mouse->button(),
                          mouse->buttons(), mouse->modifiers());
    QCoreApplication::sendEvent(viewport, &forwarded);
}
