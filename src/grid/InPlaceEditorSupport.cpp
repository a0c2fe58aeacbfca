#include "InPlaceEditorSupport.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>

CellEditResult endLabelEditRecord(EditableListView* list, int controlId, int row, int column, const QString& text) {
    CellEditResult info;
    info.list = list;
    info.editorId = controlId;
    info.row = row;
    info.column = column;
    info.text = text;
    info.textBytes = static_cast<int>(text.toUtf8().size());
    return info;
}

EditableListView::EditExit exitOfKey(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Backtab || (key.key() == Qt::Key_Tab && (key.modifiers() & Qt::ShiftModifier)))
        return EditableListView::EditExit::Previous;
    if (key.key() == Qt::Key_Tab)
        return EditableListView::EditExit::next;
    return EditableListView::EditExit::Enter;
}

void forwardDoubleClick(const QMouseEvent* mouse, EditableListView* list) {
    if (!list)
        return;
    QWidget* viewport = list->viewport();
    const QPointF global = mouse->globalPosition();
    QMouseEvent forwarded(QEvent::MouseButtonDblClick, viewport->mapFromGlobal(global), global, mouse->button(),
                          mouse->buttons(), mouse->modifiers());
    QCoreApplication::sendEvent(viewport, &forwarded);
}
