#pragma once

#include <QString>

#include "EditableListView.h"

class QKeyEvent;
class QMouseEvent;

// One shared object per editor kind: made on the first request, kept between edits and
// deleted when a list goes away.
template <class T> class SharedInPlaceEditor {
public:
    static T* getInstance() {
        if (!s_instance)
            s_instance = new T;
        return s_instance;
    }
    static void deleteInstance() {
        T* doomed = s_instance;
        s_instance = nullptr;
        delete doomed;
    }
    static bool hasInstance() { return s_instance != nullptr; }

protected:
    // Called from the editor's destructor, so a deleted object is never handed out again.
    static void forgetInstance(const T* self) {
        if (s_instance == self)
            s_instance = nullptr;
    }

private:
    static inline T* s_instance = nullptr;
};

// The end-of-label-edit record an editor hands to the list when its edit ends.
CellEditResult endLabelEditRecord(EditableListView* list, int controlId, int row, int column, const QString& text);

// How a key that ends an edit leaves it: Tab goes on to the next cell, Shift+Tab (Backtab) back
// to the previous one, anything else (Enter) stays on the cell.
EditableListView::EditExit exitOfKey(const QKeyEvent& key);

// The second press of a double click on a cell lands in the editor that its first press
// opened; this hands it to the list's viewport, where the row's double click belongs.
void forwardDoubleClick(const QMouseEvent* mouse, EditableListView* list);
