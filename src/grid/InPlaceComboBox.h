#pragma once

#include <QComboBox>
#include <QPointer>
#include <QRect>
#include <QStringList>

#include "InPlaceEditorSupport.h"

class EditableListView;

// The drop-down list that the list lays over a cell of a combo column. One object serves
// every list; its "window" exists only while an edit runs and removes itself by a posted close.
class InPlaceComboBox : public QComboBox, public SharedInPlaceEditor<InPlaceComboBox> {
    Q_OBJECT
    friend class SharedInPlaceEditor<InPlaceComboBox>;

public:
    ~InPlaceComboBox() override;

    // Starts an edit of (row, column) with its own copy of the entries; no entry is
    // selected afterwards. While the previous close is pending nothing is created.
    // rect covers the cell and the drop-down part below it.
    bool startCellEdit(unsigned style, const QRect& rect, EditableListView* parent, int controlId, int row, int column,
                       const QStringList& entries, const QString& startText);
    // Selects the entry equal to text, else the first beginning with it (case-insensitive); -1 when none does
    // or the text is empty.
    int selectString(const QString& text);

    bool hasWindow() const { return m_hasWindow; }
    int Row() const { return m_row; }
    EditableListView* list() const { return m_hasWindow ? m_list.data() : nullptr; }
    // Ends a running edit at once without reporting it, for a list whose rows are being
    // replaced; the focus goes back to the list.
    void dropEdit();
    int Column() const { return m_column; }
    const QStringList& entries() const { return m_entries; }
    // The rectangle handed over by the list, drop-down part included.
    QRect dropRect() const { return m_dropRect; }

    void showPopup() override;
    void hidePopup() override;

protected:
    bool event(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    InPlaceComboBox();
    bool createWindow(unsigned style, const QRect& rect, EditableListView* parent, int controlId);
    void endEdit();
    void closeWindow();

    int m_row = -1;
    int m_column = -1;
    bool m_cancelled = false;
    EditableListView::EditExit m_exit = EditableListView::EditExit::Other; // the key that ended the edit
    QString m_startText;
    QStringList m_entries;
    bool m_hasWindow = false;
    unsigned m_windowSerial = 0; // so that a posted close never closes a later window
    bool m_popupOpen = false;
    int m_controlId = 0;
    QRect m_dropRect;
    QPointer<EditableListView> m_list;
};
