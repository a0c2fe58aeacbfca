#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QRect>

#include "InPlaceEditorSupport.h"

class EditableListView;

// The single-line edit box that the list lays over a cell. One object serves every list;
// its "window" exists only while an edit runs and removes itself by a posted close.
class InPlaceLineEdit : public QLineEdit, public SharedInPlaceEditor<InPlaceLineEdit> {
    Q_OBJECT
    friend class SharedInPlaceEditor<InPlaceLineEdit>;

public:
    ~InPlaceLineEdit() override;

    // Starts an edit of (row, column). While the previous edit's close is still pending
    // nothing is created or moved and the result is true.
    bool startCellEdit(unsigned style, const QRect& rect, EditableListView* parent, int controlId, int row, int column,
                       const QString& acceptedChars, const QString& startText);

    bool hasWindow() const { return m_hasWindow; }
    int Row() const { return m_row; }
    EditableListView* list() const { return m_hasWindow ? m_list.data() : nullptr; }
    // Ends a running edit at once without reporting it, for a list whose rows are being
    // replaced; the focus goes back to the list.
    void dropEdit();
    int Column() const { return m_column; }

signals:
    // A typed character outside the accepted set was dropped (with a warning beep).
    void characterRefused(QChar character);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    InPlaceLineEdit();
    bool createWindow(unsigned style, const QRect& rect, EditableListView* parent, int controlId);
    void endEdit();
    void closeWindow();

    bool m_endedByKey = false;
    EditableListView::EditExit m_exit = EditableListView::EditExit::Other; // the key that ended the edit
    int m_row = -1;
    int m_column = -1;
    bool m_cancelled = false;
    QString m_acceptedChars;
    QString m_startText;
    bool m_hasWindow = false;
    unsigned m_windowSerial = 0; // so that a posted close never closes a later window
    int m_controlId = 0;
    QPointer<EditableListView> m_list;
};
