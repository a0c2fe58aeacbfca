#pragma once

#include <QComboBox>
#include <QPointer>
#include <QRect>
#include <QStringList>

#include "InPlaceEditorSupport.h"

class CComboListCtrl;

// The drop-down list that the list lays over a cell of a combo column. One object serves
// every list; its "window" exists only while an edit runs and removes itself by a posted close.
class CInPlaceCombo : public QComboBox, public CSharedEditor<CInPlaceCombo> {
    Q_OBJECT
    friend class CSharedEditor<CInPlaceCombo>;

public:
    ~CInPlaceCombo() override;

    // Starts an edit of (row, column) with its own copy of the entries; no entry is
    // selected afterwards. While the previous close is pending nothing is created.
    // rect covers the cell and the drop-down part below it.
    bool StartCellEdit(unsigned style, const QRect& rect, CComboListCtrl* parent, int controlId, int row, int column,
                       const QStringList& entries, const QString& startText);
    // Selects the entry equal to text, else the first beginning with it (case-insensitive); -1 when none does
    // or the text is empty.
    int SelectString(const QString& text);

    bool HasWindow() const { return m_hasWindow; }
    int Row() const { return m_row; }
    CComboListCtrl* List() const { return m_hasWindow ? m_list.data() : nullptr; }
    // Ends a running edit at once without reporting it, for a list whose rows are being
    // replaced; the focus goes back to the list.
    void DropEdit();
    int Column() const { return m_column; }
    const QStringList& Entries() const { return m_entries; }
    // The rectangle handed over by the list, drop-down part included.
    QRect DropRect() const { return m_dropRect; }

    void showPopup() override;
    void hidePopup() override;

protected:
    bool event(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    CInPlaceCombo();
    bool CreateWindow(unsigned style, const QRect& rect, CComboListCtrl* parent, int controlId);
    void EndEdit();
    void CloseWindow();

    int m_row = -1;
    int m_column = -1;
    bool m_cancelled = false;
    CComboListCtrl::EditExit m_exit = CComboListCtrl::EditExit::Other; // the key that ended the edit
    QString m_startText;
    QStringList m_entries;
    bool m_hasWindow = false;
    unsigned m_windowSerial = 0; // so that a posted close never closes a later window
    bool m_popupOpen = false;
    int m_controlId = 0;
    QRect m_dropRect;
    QPointer<CComboListCtrl> m_list;
};
